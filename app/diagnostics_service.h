#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace vistrale {

class AppDelegate;
class ScriptedDialogs;

// Figures and pictures for tests, benchmarks and the demo, on the session bus as
// "com.quorvia.vistrale.Diagnostics" at "/Diagnostics". Offered only when the
// environment names a folder in VISTRALE_DIAGNOSTICS_DIR; pictures are written only
// inside that folder. Main thread.
class DiagnosticsService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorvia.vistrale.Diagnostics")
public:
    static constexpr const char* OBJECT = "/Diagnostics";
    static constexpr const char* VARIABLE = "VISTRALE_DIAGNOSTICS_DIR";

    // The service for the folder the environment names; null (with a log line when
    // the variable is set) when there is none or it cannot be opened.
    static std::unique_ptr<DiagnosticsService> fromEnvironment(AppDelegate& delegate);
    ~DiagnosticsService() override;

    // Registers the object on the session bus; false when it cannot.
    bool registerOnBus();

public slots:
    // Writes the newest output picture as `name` (a plain file name ending in ".png")
    // in the diagnostics folder; false when there is no picture yet, the name is not
    // plain, or the file cannot be written. An existing symbolic link of that name is
    // never followed.
    Q_SCRIPTABLE bool WriteOutputPicture(const QString& name);
    // Output-frame figures as JSON: frames drawn so far, frames sent out to the
    // consumers, the last frame's drawing time in milliseconds (wall and
    // compositor-thread CPU) and the number of shared windows.
    Q_SCRIPTABLE QString Statistics();
    // Triggers the menu item with that tag as a click would; false when there is none.
    Q_SCRIPTABLE bool TriggerMenuItem(int tag);
    // The same for the first item whose title starts with `title` ("Help").
    Q_SCRIPTABLE bool TriggerMenuItemTitled(const QString& title);
    // The next alert with that message (or save panel with that title) is answered
    // with `answer` (a button's text; for a save panel the path, empty for cancel)
    // without being shown. Answers are used once, in order.
    Q_SCRIPTABLE void AnswerDialog(const QString& message, const QString& answer);
    // The recorder's figures as JSON: whether it records and saves, and the current
    // movie's frames offered, written and dropped.
    Q_SCRIPTABLE QString RecordingStatistics();
    // The text the caption box shows now; empty while captions are off.
    Q_SCRIPTABLE QString CaptionText();
    // Runs `script` in the caption editor's page as its own code would (the demo saves
    // edited captions with it); false when no editor is open or its page has not
    // been given its captions yet.
    Q_SCRIPTABLE bool RunCaptionEditorScript(const QString& script);

private:
    DiagnosticsService(AppDelegate& delegate, int folder);

    AppDelegate& delegate;
    // Installed in front of the platform's dialogs when the service is made.
    ScriptedDialogs* scripted = nullptr;
    // The folder, opened once without following symbolic links.
    int folder;
};

// Whether `name` is a plain file name for a diagnostics picture: letters, digits,
// ".", "-" and "_", not starting with ".", ending in ".png", at most 100 characters.
bool plainPictureName(const QString& name);

} // namespace vistrale
