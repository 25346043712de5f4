#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace vistrale {

// An informational alert: a message, an informative text, a default button and an
// optional second button.
struct AlertSpec {
    QString message;
    QString informative;
    QString defaultButton;
    std::optional<QString> secondButton;
    bool warning = false;
    // Buttons after the second, for runChoiceAlert.
    QStringList moreButtons = {};
};

// A save panel: where to write a file.
struct SavePanelSpec {
    QString title;
    QString subtitle;
    // The folder it opens in, and the file name it proposes.
    QString directory;
    QString proposedName;
};

// An open panel: one existing file to read.
struct OpenPanelSpec {
    QString title;
    // The folder it opens in.
    QString directory;
    // File name extensions offered, without the dot ("png").
    QStringList allowedTypes;
};

// One key press inside the shortcut recorder.
struct RecordedKey {
    quint32 keyCode = 0; // Mac virtual key code (platform/keycodes.h)
    QString charactersIgnoringModifiers; // Shift still applies; may be empty
    quint32 modifierFlags = 0; // EVENT_* bits (platform/keycodes.h)
};

// Modal dialogs. Main thread only; every call blocks until the user answers.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Brings the application in front of other applications.
    virtual void activateApplication() = 0;
    // Runs the alert; true only when the default button ended it.
    virtual bool runAlert(const AlertSpec& alert) = 0;
    // An alert with a one-line text field holding `initial`; the field's text when the
    // default button ended it, nothing otherwise.
    virtual std::optional<QString> runTextAlert(const AlertSpec& alert, const QString& initial) = 0;
    // Asks where to save; the chosen path, or nothing when cancelled.
    virtual std::optional<QString> runSavePanel(const SavePanelSpec& panel) = 0;
    // Asks for one file (no folders, hidden files not shown); its path, or nothing when
    // cancelled.
    virtual std::optional<QString> runOpenPanel(const OpenPanelSpec& panel) = 0;
    // An alert with a label below the texts showing `initialLabel`. While it runs every
    // key press goes to `onKey` and never to the buttons (the user answers with the
    // mouse); keys without a Mac key code are dropped. When `onKey` answers a text the
    // label shows it. True only when the default button ended it.
    virtual bool runKeyRecorder(const AlertSpec& alert, const QString& initialLabel,
        std::function<std::optional<QString>(const RecordedKey& key)> onKey)
        = 0;
    // An alert with the default button, the second one and `moreButtons`, in that
    // order; the index of the button that ended it (0 = the default). Closing it
    // another way counts as the last button.
    virtual int runChoiceAlert(const AlertSpec& alert) = 0;
};

// The confirmation dialog: activates the application, then runs the alert. The answer
// is true only for the default button.
bool confirmationDialog(Dialogs& dialogs, const QString& message, const QString& informative,
    const QString& defaultButton, const std::optional<QString>& secondButton = std::nullopt);

// The information alert: the confirmation dialog with the single button "Close".
void informationAlert(Dialogs& dialogs, const QString& message, const QString& informative);

} // namespace vistrale
