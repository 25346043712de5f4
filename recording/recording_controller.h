#pragma once

#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/frame.h"
#include "platform/media.h"
#include "platform/notifications.h"
#include "platform/system_actions.h"
#include "recording/recording_files.h"
#include "recording/video_recorder.h"

#include <QString>
#include <functional>
#include <memory>

namespace vistrale {

// The recording as the user sees it: the "Warning" and "Recording Options" questions,
// the microphone check, the recorder, the status display, and after the merge the
// save panel, the "saved" alert, the discard question and the cleanup.
//
// Faults: a movie that cannot be written while recording stops the recording, and
// what was written is offered for saving with one alert; a save target that cannot
// be written leaves the movie where it is. Only the user's choices delete files.
//
// Main thread, except appendFrame (the output-frame thread).
class RecordingController {
public:
    struct Services {
        Media& media;
        Clock& clock;
        Dialogs& dialogs;
        SystemActions& systemActions;
        AudioDevices& audio;
        // Where the temporary files and the merged movie are written.
        QString cacheDirectory;
        // Where the save panel opens.
        QString downloadsDirectory;
        // Milliseconds since the reference date, for the file names.
        std::function<qint64()> wallMilliseconds = millisecondsSinceReferenceDate;
    };
    // What the controller asks of the rest of the application; each may be unset.
    struct Hooks {
        // The settings of a new recording ("mov", the bit rate, the output size).
        std::function<RecordingOptions()> options;
        // The newest output frame, which opens the movie.
        std::function<FrameRef()> lastFrame;
        // Screen-recording permission, and the dialog that asks for it.
        std::function<bool()> hasScreenPermission;
        std::function<void()> showPermissionDialog;
        // The shared windows' borders: the recording colour while recording.
        std::function<void(bool recording)> markBorders;
        // True from the opening of the save panel until the cleanup.
        std::function<void(bool saving)> savingChanged;
        // The status display: at start and stop, every second, and when the
        // processing of a recording is over.
        std::function<void(bool recording, bool withMicrophone)> setRecordingState;
        std::function<void(const QString& text, bool withMicrophone)> showRecordingTime;
        std::function<void()> resetStatusItem;
        // Captions: offered each merged recording with audio before it is saved. True
        // when the transcript takes the recording over (the caption editor continues
        // from there, and no save panel is shown here).
        std::function<bool(const RecordingResult& result)> handOverTranscript;
    };

    RecordingController(Services services, Hooks hooks);
    ~RecordingController();
    RecordingController(const RecordingController&) = delete;
    RecordingController& operator=(const RecordingController&) = delete;

    // The status menu's command: without a shared window and while not recording it
    // first asks "Warning"; then the recording toggle.
    void menuToggleRecording(bool sharingWindows);
    // Stops a running recording, or asks for the recording's options and starts one.
    void toggleRecording();
    // Starts recording, with the microphone when `withAudio` and one is there (the
    // user may go on without it). False when nothing was started.
    bool startRecording(bool withAudio);
    void stopRecording();
    // The output-frame thread: the frame joins the movie while recording.
    void appendFrame(const FrameRef& frame) { recorder.appendFrame(frame); }

    // Asks where to keep the movie at `moviePath` (the merged movie) and moves it
    // there; a cancel asks whether to discard it. The files of the latest recording
    // are cleaned up once it is saved or discarded. `savedAt` hears where the movie
    // was saved.
    void saveStep(const QString& moviePath, std::function<void(const QString& savedPath)> savedAt = {});

    bool recording() const { return recorder.recording(); }
    bool saving() const { return isSaving; }
    VideoRecorder& videoRecorder() { return recorder; }

private:
    void merged(const RecordingResult& result);
    void processingContinuation();
    void cleanup(const RecordingFiles& files);
    void setSaving(bool saving);
    void reportSaved(const QString& path);
    void resetStatusItem();

    Services services;
    Hooks hooks;
    VideoRecorder recorder;
    // The latest merged recording.
    RecordingResult latest;
    bool isSaving = false;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace vistrale
