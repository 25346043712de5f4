// The controller's page entry points: documents/web_pages.h keeps the page windows and
// answers their requests; the controller hands it the shortcut, the screen and the
// backdrop operations.
#include "app/settings/shortcut.h"
#include "captions/captions.h"
#include "captions/recording_transcript.h"
#include "documents/web_pages.h"
#include "platform/dialogs.h"
#include "platform/notification_center.h"
#include "platform/platform.h"
#include "preview/vistrale_view_controller.h"
#include "recording/recording_files.h"

#include <QCoreApplication>

namespace vistrale {

WebPages& VistraleViewController::pagesController()
{
    if (!pages) {
        WebPages::Services services{*platform.systemActions, *platform.ownWindows,
            [this] { return shortcutDisplayString(loadShortcut(settings)); },
            [this] { return QSizeF(screenWidth, screenHeight); },
            [this](const QString& url) { setBackgroundImage(url); },
            [this](const QString& url) { setBackgroundVideo(url); },
            [this](const QString& vtt) { saveTranscript(vtt); }, [this] { platform.dialogs->activateApplication(); },
            userCacheDirectory(), QStringLiteral(":/website"), {}};
        pages = std::make_unique<WebPages>(std::move(services));
    }
    return *pages;
}

void VistraleViewController::showHelpPage()
{
    pagesController().showHelpPage();
}

void VistraleViewController::showBackgroundPicker()
{
    pagesController().showBackgroundPicker();
}

void VistraleViewController::shortcutChanged(const QString& displayString)
{
    if (pages)
        pages->shortcutChanged(displayString);
}

void VistraleViewController::showTranscriptEditor(
    const QString& subRip, const QString& audioPath, TranscriptSession session)
{
    pagesController().showTranscriptEditor(subRip, audioPath, std::move(session));
}

void VistraleViewController::saveTranscript(const QString& vtt)
{
    if (pages)
        pages->saveTranscript(vtt);
}

void VistraleViewController::exportWithSubtitles(const QString& captions, const std::shared_ptr<TranscriptEdit>& edit)
{
    // The live caption box's place and lines, else the default box.
    const QRectF box = captionsController
        ? captionsController->speechScrollView()->frame()
        : QRectF(0, 9, camWidth, 224).adjusted(camWidth * 0.2, 0, -camWidth * 0.2, 0);
    const int lines = captionsController ? captionsController->speechVisibleLines : 3;
    edit->exportWithSubtitles(captions, box, lines, [this](VideoOverlayProcessor::Outcome outcome) {
        if (progressObserver)
            NotificationCenter::defaultCenter().removeObserver(progressObserver);
        progressObserver = 0;
        subtitleWebView = nullptr;
        if (outcome == VideoOverlayProcessor::Outcome::Failed)
            informationAlert(*platform.dialogs, QCoreApplication::translate("Vistrale", "Captions Not Added"),
                QCoreApplication::translate("Vistrale",
                    "Vistrale could not add the edited captions to your video. The recording is saved as it was "
                    "made, with the edited captions beside it."));
        // Closing the editor goes on to the save of the recording.
        if (outcome != VideoOverlayProcessor::Outcome::Cancelled && pages && pages->transcriptEditor())
            pages->transcriptEditor()->close();
    });
    // After the export started: a previous one that it replaced has stopped observing.
    subtitleWebView = pages ? pages->transcriptEditor() : nullptr;
    if (!progressObserver)
        progressObserver = NotificationCenter::defaultCenter().addObserver(
            "ProgressBarPercentage", [this](const QVariantMap& userInfo) { statusUpdate(userInfo); });
}

void VistraleViewController::statusUpdate(const QVariantMap& userInfo)
{
    if (subtitleWebView)
        subtitleWebView->setProgress(userInfo.value("progress").toDouble());
}

} // namespace vistrale
