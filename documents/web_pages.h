#pragma once

#include "documents/web_view_window_controller.h"

#include <QPointer>
#include <QSizeF>
#include <QString>
#include <functional>
#include <map>
#include <memory>

namespace vistrale {

class CursorWindowController;
class OwnWindows;
class SystemActions;

// The captions of a finished recording while the caption editor is open: `store` takes
// the editor's saved captions (entries "text___start___end" separated by "###"),
// `finish` continues with the saving of the recording once the editor is gone.
struct TranscriptSession {
    std::function<void(const QString& captions)> store;
    std::function<void()> finish;
};

// The application's local pages: the help page and the background picker (one window
// each, shown again when asked twice), the caption editor (one at a time), and the
// remote pointers pages may move. Main thread only.
class WebPages : public PageDelegate {
public:
    struct Services {
        SystemActions& systemActions;
        OwnWindows& ownWindows;
        // The display string of the stored shortcut.
        std::function<QString()> shortcutText;
        // The screen the remote pointers move on, in points.
        std::function<QSizeF()> screenSize;
        std::function<void(const QString& url)> setBackgroundImage;
        std::function<void(const QString& url)> setBackgroundVideo;
        // The editor's "save-transcript" (the view controller's entry point).
        std::function<void(const QString& vtt)> saveTranscript;
        std::function<void()> activateApplication;
        // The user's cache folder (the editor runs from there, beside the audio).
        QString cacheFolder;
        // Where the pages are; tests may point elsewhere.
        QString pagesFolder = QStringLiteral(":/website");
        // The theme; by default the desktop's.
        std::function<bool()> prefersDark;
    };
    explicit WebPages(Services services);
    ~WebPages() override;

    void showHelpPage();
    void showBackgroundPicker();
    // The shortcut changed: the open help page shows the new one.
    void shortcutChanged(const QString& shortcutText);
    // Opens the caption editor on a recording's SubRip text and audio file (a previous
    // editor is closed first, which lets its recording go on to be saved).
    void showTranscriptEditor(const QString& subRip, const QString& audioPath, TranscriptSession session);
    // Stores the editor's captions (exchange form); oversized text is logged and
    // changes nothing.
    void saveTranscript(const QString& vtt);

    WebViewWindowController* help() const { return helpPage.data(); }
    WebViewWindowController* backgroundPicker() const { return backgroundPage.data(); }
    WebViewWindowController* transcriptEditor() const { return transcriptPage.data(); }
    CursorWindowController* remoteCursor(const QString& uuid) const;

    // PageDelegate
    QString shortcutDisplayString() override;
    void moveRemotePointer(const QString& uuid, int x, int y) override;
    void hideRemotePointer(const QString& uuid) override;
    void pickImage(const QString& url) override;
    void pickVideo(const QString& url) override;
    void saveTranscript(const QString& vtt, WebViewWindowController& page) override;
    void pageClosed(WebViewWindowController& page) override;

    // Limits on what a page can make the application hold.
    static constexpr std::size_t MAX_REMOTE_POINTERS = 16;
    static constexpr qsizetype MAX_TRANSCRIPT_CHARACTERS = 4 * 1024 * 1024;

private:
    QPointer<WebViewWindowController> open(const QString& page, const QString& title, bool closable);

    Services services;
    QPointer<WebViewWindowController> helpPage;
    QPointer<WebViewWindowController> backgroundPage;
    QPointer<WebViewWindowController> transcriptPage;
    std::unique_ptr<TranscriptSession> transcript;
    std::map<QString, std::unique_ptr<CursorWindowController>> remoteCursors;
};

} // namespace vistrale
