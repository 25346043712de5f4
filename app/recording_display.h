#pragma once

#include <QIcon>
#include <QString>

class QMenu;
class QSystemTrayIcon;

namespace vistrale {

class PreviewWindow;

// The status item while a recording runs. A tray icon shows no text, so the icon turns
// into a recording icon whose tooltip reads the elapsed time ("■ 00:07 (mic)"), the
// same text shows over the preview, and the menu is detached (a click on the icon then
// stops the recording). After the stop it reads "Saving..." until the processing is
// over. Main thread.
class RecordingDisplay {
public:
    // Any of them may be null.
    RecordingDisplay(QSystemTrayIcon* statusItem, QMenu* menu, PreviewWindow* preview);

    void setRecordingState(bool recording, bool withMicrophone);
    void showRecordingTime(const QString& text, bool withMicrophone);
    // The normal icon, tooltip and menu again.
    void resetStatusItem();

    bool isRecording() const { return recording; }
    // The text the status item shows (its tooltip); empty in the normal state.
    QString title() const { return shownTitle; }
    enum class Look { Normal, Recording, Saving };
    Look look() const { return shownLook; }

    static QIcon normalIcon();
    // A red dot in a white ring, and while saving a grey one.
    static QIcon recordingIcon();
    static QIcon savingIcon();

private:
    void show(Look look, const QString& title);

    QSystemTrayIcon* statusItem;
    QMenu* menu;
    PreviewWindow* preview;
    bool recording = false;
    QString shownTitle;
    Look shownLook = Look::Normal;
};

} // namespace vistrale
