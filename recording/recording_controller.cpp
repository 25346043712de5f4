#include "recording/recording_controller.h"

#include "platform/log.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

namespace vistrale {
namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("RecordingController", text);
}

constexpr const char* MICROPHONE_SETTINGS
    = "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone";

} // namespace

RecordingController::RecordingController(Services services, Hooks hooks)
    : services(std::move(services))
    , hooks(std::move(hooks))
    , recorder(
          {this->services.media, this->services.clock, this->services.cacheDirectory, this->services.wallMilliseconds},
          VideoRecorder::Output{[this](bool recording, bool withMicrophone) {
                                    // Also reached when a write failure ends the recording by itself.
                                    if (this->hooks.markBorders)
                                        this->hooks.markBorders(recording);
                                    if (recording)
                                        this->services.dialogs.activateApplication();
                                    if (this->hooks.setRecordingState)
                                        this->hooks.setRecordingState(recording, withMicrophone);
                                },
              [this](const QString& text, bool withMicrophone) {
                  if (this->hooks.showRecordingTime)
                      this->hooks.showRecordingTime(text, withMicrophone);
              },
              {}, [this](const RecordingResult& result) { merged(result); }})
{
}

RecordingController::~RecordingController()
{
    *alive = false;
}

void RecordingController::menuToggleRecording(bool sharingWindows)
{
    if (!recorder.recording() && !sharingWindows) {
        services.dialogs.activateApplication();
        AlertSpec warning{tr("Warning"), tr("You are not sharing any window, start recording anyway?"), tr("Yes"),
            tr("Cancel"), true};
        if (!services.dialogs.runAlert(warning))
            return;
    }
    toggleRecording();
}

void RecordingController::toggleRecording()
{
    if (hooks.hasScreenPermission && !hooks.hasScreenPermission()) {
        if (hooks.showPermissionDialog)
            hooks.showPermissionDialog();
        return;
    }
    if (recorder.recording()) {
        stopRecording();
        return;
    }
    services.dialogs.activateApplication();
    AlertSpec options{tr("Recording Options"), QString(), tr("Audio"), tr("No Audio"), false, {tr("Cancel")}};
    switch (services.dialogs.runChoiceAlert(options)) {
    case 0:
        startRecording(true);
        break;
    case 1:
        startRecording(false);
        break;
    default:
        break;
    }
}

bool RecordingController::startRecording(bool withAudio)
{
    if (recorder.recording())
        return false;
    if (withAudio && services.audio.defaultInputName().isEmpty()) {
        // No sound server or no input: the microphone cannot be recorded.
        logLine("no audio input device");
        AlertSpec microphone{tr("Vistrale Recording"),
            tr("Vistrale does not have access to your microphone. You can change this permission in Open System "
               "Preferences"),
            tr("Record without Audio"), tr("Open Audio Preferences"), false, {tr("Cancel")}};
        services.dialogs.activateApplication();
        if (services.dialogs.runChoiceAlert(microphone) != 0) {
            services.systemActions.openSettingsPage(MICROPHONE_SETTINGS);
            return false;
        }
        withAudio = false;
    }
    const RecordingOptions options = hooks.options ? hooks.options() : RecordingOptions{};
    const FrameRef first = hooks.lastFrame ? hooks.lastFrame() : FrameRef();
    if (!recorder.start(withAudio, options, first)) {
        // The recorder logged why; the user learns that nothing is being recorded.
        informationAlert(services.dialogs, tr("Vistrale Recording Error"), tr("Vistrale could not start recording"));
        return false;
    }
    return true;
}

void RecordingController::stopRecording()
{
    recorder.stop();
}

void RecordingController::merged(const RecordingResult& result)
{
    latest = result;
    const bool writeFailed = !result.writeError.isEmpty();
    if (!result.merged && !(writeFailed && QFileInfo::exists(result.files.videoUrl))) {
        resetStatusItem();
        services.dialogs.activateApplication();
        AlertSpec failed{
            tr("Vistrale Recording Error"), tr("Vistrale failed to save your video"), tr("Close"), std::nullopt};
        services.dialogs.runAlert(failed);
        return;
    }
    if (writeFailed) {
        // One alert for the fault; what was written is offered for saving next.
        resetStatusItem();
        informationAlert(services.dialogs, tr("Vistrale Recording Error"),
            tr("Recording stopped because the video could not be written (%1). The part recorded so far is kept.")
                .arg(result.writeError));
        // A merge that failed too (the same full disk) leaves the recorded movie itself.
        saveStep(result.merged ? result.files.outputUrl : result.files.videoUrl);
        return;
    }
    processingContinuation();
}

void RecordingController::processingContinuation()
{
    if (latest.withAudio && hooks.handOverTranscript && hooks.handOverTranscript(latest)) {
        resetStatusItem();
        return;
    }
    resetStatusItem();
    saveStep(latest.files.outputUrl);
}

void RecordingController::saveStep(const QString& moviePath, std::function<void(const QString&)> savedAt)
{
    // The files of this recording, even if another one finishes while the panel is open.
    const RecordingFiles files = latest.files;
    const SavePanelSpec panel{tr("Vistrale"), tr("Save your video as..."), services.downloadsDirectory,
        latest.mov ? QStringLiteral("vistrale.mov") : QStringLiteral("vistrale.mp4")};
    for (;;) {
        setSaving(true);
        services.dialogs.activateApplication();
        const std::optional<QString> chosen = services.dialogs.runSavePanel(panel);
        if (chosen) {
            QString error;
            if (!moveFileReplacing(moviePath, *chosen, &error)) {
                // The movie stays where it is, and the user is told where that is.
                logLine("cannot save video", *chosen + ": " + error);
                setSaving(false);
                informationAlert(services.dialogs, tr("Vistrale Recording Error"),
                    tr("Vistrale could not save your video as %1 (%2). It is kept as %3")
                        .arg(QFileInfo(*chosen).absoluteFilePath(), error, moviePath));
                return;
            }
            cleanup(files);
            if (savedAt)
                savedAt(QFileInfo(*chosen).absoluteFilePath());
            reportSaved(QFileInfo(*chosen).absoluteFilePath());
            return;
        }
        if (confirmationDialog(services.dialogs, tr("Are you sure?"), tr("This will not save your video"), tr("Delete"),
                tr("Cancel"))) {
            cleanup(files);
            return;
        }
    }
}

void RecordingController::reportSaved(const QString& path)
{
    services.clock.postToMain([this, token = std::weak_ptr<bool>(alive), path] {
        if (token.expired())
            return;
        services.dialogs.activateApplication();
        AlertSpec saved{
            tr("Vistrale Recording"), tr("Your video was saved as ") + path, tr("View Video"), tr("Cancel")};
        if (services.dialogs.runAlert(saved))
            services.systemActions.openUrl(QUrl::fromLocalFile(path));
    });
}

void RecordingController::cleanup(const RecordingFiles& files)
{
    setSaving(false);
    deleteRecordingFiles(files);
}

void RecordingController::setSaving(bool saving)
{
    isSaving = saving;
    if (hooks.savingChanged)
        hooks.savingChanged(saving);
}

void RecordingController::resetStatusItem()
{
    if (hooks.resetStatusItem)
        hooks.resetStatusItem();
}

} // namespace vistrale
