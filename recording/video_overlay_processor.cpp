#include "recording/video_overlay_processor.h"

#include "platform/log.h"
#include "platform/notification_center.h"

#include <QVariantMap>

namespace vistrale {

VideoOverlayProcessor::VideoOverlayProcessor(QString inputURL, QString outputURL, Media& media, Clock& clock)
    : inputURL(std::move(inputURL))
    , outputURL(std::move(outputURL))
    , media(media)
    , clock(clock)
{
}

VideoOverlayProcessor::~VideoOverlayProcessor()
{
    *alive = false;
    if (myexportSession)
        myexportSession->cancelled = true;
    if (worker.joinable())
        worker.join();
}

void VideoOverlayProcessor::process(Completion done)
{
    if (myexportSession || worker.joinable())
        return;
    completion = std::move(done);
    OverlayExportRequest request;
    request.inputPath = inputURL;
    request.outputPath = outputURL;
    request.mov = mov;
    request.subtitles = subtitles;
    for (const BaseOverlay& overlay : overlays)
        request.overlays.push_back(overlay.movieOverlay());
    myexportSession = std::make_shared<ExportControl>();
    exportProgressBarTimer = clock.every(PROGRESS_INTERVAL, [control = myexportSession] {
        const double progress = control->progress;
        if (progress < PROGRESS_LIMIT)
            NotificationCenter::defaultCenter().post("ProgressBarPercentage", {{"progress", progress}});
    });
    std::weak_ptr<bool> token = alive;
    worker = std::thread([this, token, request = std::move(request), control = myexportSession] {
        QString error;
        const bool completed = media.exportWithOverlays(request, *control, &error);
        clock.postToMain([this, token, completed, error] {
            if (!token.expired())
                finished(completed, error);
        });
    });
}

void VideoOverlayProcessor::cancel()
{
    if (myexportSession)
        myexportSession->cancelled = true;
}

void VideoOverlayProcessor::finished(bool completed, const QString& error)
{
    worker.join();
    exportProgressBarTimer.reset();
    const bool cancelled = myexportSession && myexportSession->cancelled;
    myexportSession.reset();
    const Outcome outcome = completed ? Outcome::Completed : cancelled ? Outcome::Cancelled : Outcome::Failed;
    if (outcome == Outcome::Failed)
        logLine("overlay export failed", error);
    else
        logLine(outcome == Outcome::Completed ? "overlay export completed" : "overlay export cancelled", outputURL);
    if (Completion done = std::move(completion))
        done(outcome, error);
}

} // namespace vistrale
