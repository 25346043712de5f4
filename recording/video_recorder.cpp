#include "recording/video_recorder.h"

#include "platform/log.h"
#include "recording/recording_time.h"

#include <QDir>
#include <QFile>

namespace vistrale {
namespace {

constexpr double RECORDING_TIMER_INTERVAL = 1.0;
constexpr int RECORDING_FRAME_RATE = 30;
// Frames waiting for the encoder; a quarter of a second at 30 frames a second.
constexpr int RECORDING_QUEUE = 8;

} // namespace

VideoRecorder::VideoRecorder(Services services, Output output)
    : services(std::move(services))
    , output(std::move(output))
{
}

VideoRecorder::~VideoRecorder()
{
    *alive = false;
    merges.drain();
    recordingTimer.reset();
    recorder.reset();
    std::lock_guard guard(writerLock);
    accepting = false;
    videoWriter.reset();
}

void VideoRecorder::onMain(int recordingSession, std::function<void()> work)
{
    services.clock.postToMain([this, token = std::weak_ptr<bool>(alive), recordingSession, work = std::move(work)] {
        const auto living = token.lock();
        if (living && *living && recordingSession == session)
            work();
    });
}

bool VideoRecorder::start(bool audio, const RecordingOptions& options, FrameRef lastCapturedFrame)
{
    if (isRecording)
        return false;
    if (isFinishing) {
        logLine("recording still being finished, not started");
        return false;
    }
    videoDone = false;
    audioDone = false;
    mov = options.mov;
    QDir().mkpath(services.cacheDirectory);
    currentFiles = recordingFiles(services.cacheDirectory, services.wallMilliseconds(), mov);
    QFile::remove(currentFiles.videoUrl);
    QFile::remove(currentFiles.audioUrl);

    const int recordingSession = ++session;
    VideoWriterSettings settings;
    settings.path = currentFiles.videoUrl;
    settings.size = options.outputSize;
    settings.mov = mov;
    settings.limitBitRate = !options.highVideoBitrate && !mov;
    settings.frameRate = RECORDING_FRAME_RATE;
    settings.queueCapacity = RECORDING_QUEUE;
    QString error;
    auto writer = services.media.createVideoWriter(
        settings,
        [this, recordingSession](const QString& failure) {
            // A full disk or a write error ends the recording; what was written is kept.
            logLine("videoWriter failed", failure);
            onMain(recordingSession, [this, failure] {
                writeFailure = failure;
                stop();
            });
        },
        &error);
    if (!writer) {
        logLine("videoWriter does not want to start", error);
        return false;
    }

    withAudio = audio;
    if (withAudio) {
        recorder = services.media.startMicrophone(
            currentFiles.audioUrl, [](const QString& failure) { logLine("audio recorder error", failure); },
            [this, recordingSession](
                bool successfully) { onMain(recordingSession, [this, successfully] { audioEnded(successfully); }); },
            &error);
        if (!recorder) {
            // Without a recorder no audio will ever finish: the recording goes on silent.
            logLine("audio recorder could not start", error);
            withAudio = false;
        }
    }
    audioDone = !withAudio;

    latestDelay = 0;
    seconds = 0;
    started = services.clock.now();
    ended = 0;
    writeFailure.clear();
    isRecording = true;
    {
        std::lock_guard guard(writerLock);
        videoWriter = std::move(writer);
        accepting = true;
        if (lastCapturedFrame)
            videoWriter->append(std::move(lastCapturedFrame), 0);
    }
    recordingTimer = services.clock.every(RECORDING_TIMER_INTERVAL, [this] { tick(); });
    if (output.setRecordingState)
        output.setRecordingState(true, !audioDone);
    return true;
}

void VideoRecorder::tick()
{
    ++seconds;
    if (output.showRecordingTime)
        output.showRecordingTime(recordingTimeText(seconds), !audioDone);
}

void VideoRecorder::appendFrame(FrameRef frame)
{
    std::lock_guard guard(writerLock);
    if (!accepting || !videoWriter)
        return;
    const double elapsed = services.clock.now() - started;
    latestDelay = elapsed;
    videoWriter->append(std::move(frame), elapsed);
}

void VideoRecorder::stop()
{
    if (!isRecording)
        return;
    ended = services.clock.now();
    if (recorder)
        recorder->stop();
    recordingTimer.reset();
    isRecording = false;
    isFinishing = true;
    if (output.setRecordingState)
        output.setRecordingState(false, !audioDone);
    const int recordingSession = session;
    std::lock_guard guard(writerLock);
    accepting = false;
    videoWriter->finish([this, recordingSession](
                            bool complete) { onMain(recordingSession, [this, complete] { videoWritten(complete); }); });
}

void VideoRecorder::videoWritten(bool complete)
{
    if (!complete)
        logLine("videoWriter did not complete the movie", currentFiles.videoUrl);
    videoDone = true;
    {
        std::lock_guard guard(writerLock);
        videoWriter.reset();
    }
    finishIfDone();
}

void VideoRecorder::audioEnded(bool successfully)
{
    if (!successfully)
        logLine("audio recorder did not complete the audio", currentFiles.audioUrl);
    audioDone = true;
    recorder.reset();
    finishIfDone();
}

void VideoRecorder::finishIfDone()
{
    // Whichever file completes last hands the recording on, once.
    if (isRecording || !isFinishing || !videoDone || !audioDone)
        return;
    isFinishing = false;
    if (output.finishing)
        output.finishing();
    RecordingResult result{currentFiles, withAudio, mov, started, ended, false, {}, writeFailure};
    MergeRequest request{
        currentFiles.videoUrl, withAudio ? currentFiles.audioUrl : QString(), currentFiles.outputUrl, mov, {}};
    merges.async([this, request, result]() mutable {
        result.merged = services.media.merge(request, &result.error);
        if (!result.merged)
            logLine(result.withAudio ? "mergeVideoWithAudio err=" : "mergeVideoWithoutAudio err=", result.error);
        services.clock.postToMain([this, token = std::weak_ptr<bool>(alive), result] {
            const auto living = token.lock();
            if (living && *living && output.merged)
                output.merged(result);
        });
    });
}

VideoWriterCounts VideoRecorder::counts() const
{
    std::lock_guard guard(writerLock);
    return videoWriter ? videoWriter->counts() : VideoWriterCounts{};
}

void VideoRecorder::waitForMerges()
{
    merges.drain();
}

} // namespace vistrale
