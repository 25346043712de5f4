// The controller's recording entry points: the recording controller does the work; the
// controller hands it the output frames, the settings and the shared windows' borders.
#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "captions/captions.h"
#include "captions/recording_transcript.h"
#include "documents/web_pages.h"
#include "overlays/highlight_window_controller.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/vistrale_view_controller.h"
#include "recording/recording_controller.h"

#include <QStandardPaths>

namespace vistrale {

void VistraleViewController::setUpRecording()
{
    if (!platform.media || !platform.audio) {
        logLine("recording not available: no media services");
        return;
    }
    RecordingController::Services services{*platform.media, *platform.clock, *platform.dialogs, *platform.systemActions,
        *platform.audio, userCacheDirectory(), QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)};
    RecordingController::Hooks hooks;
    hooks.options = [this] {
        RecordingOptions options;
        options.mov = settings.boolValue(keys::MOV);
        options.outputSize = QSize(static_cast<int>(camWidth), static_cast<int>(camHeight));
        return options;
    };
    hooks.lastFrame = [this] { return lastCapturedFrame().surface; };
    hooks.hasScreenPermission = [this] { return hasScreenPermission; };
    hooks.showPermissionDialog = [this] { showPermissionDialog(); };
    hooks.markBorders = [this](bool on) { setRecordingLook(on); };
    hooks.savingChanged = [this](bool saving) { isSaving = saving; };
    hooks.setRecordingState = [this](bool on, bool microphone) {
        if (captionsController) {
            if (on)
                captionsController->recordingStarted();
            else
                captionsController->recordingStopped();
        }
        if (host)
            host->setRecordingState(on, microphone);
    };
    // A recording with audio keeps the captions' transcript: in the movie as its subtitle
    // track and beside the saved movie as a .srt file.
    hooks.handOverTranscript = [this](const RecordingResult& result) {
        if (!captionsController || !recordingController)
            return false;
        if (!transcriptHandOver)
            transcriptHandOver
                = std::make_unique<TranscriptHandOver>(*captionsController, *platform.media, *platform.clock);
        transcriptHandOver->handOver(
            result,
            [this](const QString& movie, const QString& subRip) {
                if (recordingController)
                    recordingController->saveStep(
                        movie, [subRip](const QString& saved) { writeSubRipBeside(saved, subRip); });
            },
            // The caption editor takes the captions first; its edits are what is saved.
            [this](const QString& subRip, const QString& audioPath, const std::shared_ptr<TranscriptEdit>& edit) {
                showTranscriptEditor(subRip, audioPath,
                    {[this, edit](const QString& captions) { exportWithSubtitles(captions, edit); },
                        [edit] { edit->finish(); }});
            });
        return true;
    };
    hooks.showRecordingTime = [this](const QString& text, bool microphone) {
        if (host)
            host->showRecordingTime(text, microphone);
    };
    hooks.resetStatusItem = [this] {
        if (host)
            host->resetStatusItem();
    };
    recordingController = std::make_unique<RecordingController>(std::move(services), std::move(hooks));
    setRecorderSink([recorder = recordingController.get()](const FrameRef& frame) { recorder->appendFrame(frame); });
}

void VistraleViewController::toggleRecordingFromMenu()
{
    if (recordingController)
        recordingController->menuToggleRecording(!imageViews.empty());
}

void VistraleViewController::toggleRecording()
{
    if (recordingController)
        recordingController->toggleRecording();
}

void VistraleViewController::startRecording(bool withAudio)
{
    if (recordingController)
        recordingController->startRecording(withAudio);
}

void VistraleViewController::stopRecording()
{
    if (recordingController)
        recordingController->stopRecording();
}

bool VistraleViewController::recording() const
{
    return recordingController && recordingController->recording();
}

} // namespace vistrale
