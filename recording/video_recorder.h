#pragma once

#include "platform/clock.h"
#include "platform/frame.h"
#include "platform/media.h"
#include "platform/work_queue.h"
#include "recording/recording_files.h"

#include <QSize>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace vistrale {

// What a recording is started with.
struct RecordingOptions {
    // The "mov" setting: QuickTime files instead of MPEG-4.
    bool mov = false;
    // No bit-rate limit; when false, MPEG-4 movies average 1300000 bit/s.
    bool highVideoBitrate = true;
    // The output frames' size.
    QSize outputSize{1920, 1080};
};

// The outcome of a recording's merge into the final movie.
struct RecordingResult {
    RecordingFiles files;
    bool withAudio = false;
    bool mov = false;
    // Clock::now() at start and stop.
    double startDate = 0;
    double endDate = 0;
    // The movie is at files.outputUrl.
    bool merged = false;
    QString error;
    // Set when writing the movie failed while recording (a full disk, a folder that
    // cannot be written): the recording stopped there, and what was written is kept.
    QString writeError;
};

// Records the output frames into a movie and, when asked, the microphone into an
// audio file beside it; when both are complete (whichever finishes last, exactly
// once), merges them into the final movie and hands the result on.
//
// Idle → start → recording → stop (or a write failure) → finishing (waiting for the
// video file and, with audio, the audio file) → merging → idle. A new recording can
// start while the previous one merges, not while it is finishing.
//
// Main thread, except appendFrame. Callbacks of the media arrive on their threads and
// are moved to the main thread through the clock.
class VideoRecorder {
public:
    struct Output {
        // At start and stop: whether recording runs, with the microphone.
        std::function<void(bool recording, bool withMicrophone)> setRecordingState;
        // Every second while recording: the elapsed time ("00:01"), with the microphone.
        std::function<void(const QString& text, bool withMicrophone)> showRecordingTime;
        // When both files are complete, before their merge starts.
        std::function<void()> finishing;
        // When the merge is done, successful or not (a failure is already logged).
        std::function<void(const RecordingResult& result)> merged;
    };
    struct Services {
        Media& media;
        Clock& clock;
        // Where the temporary files and the final movie are written.
        QString cacheDirectory;
        // Milliseconds since the reference date, for the file names.
        std::function<qint64()> wallMilliseconds = millisecondsSinceReferenceDate;
    };

    VideoRecorder(Services services, Output output);
    // Waits for a running merge; a recording in progress is abandoned.
    ~VideoRecorder();
    VideoRecorder(const VideoRecorder&) = delete;
    VideoRecorder& operator=(const VideoRecorder&) = delete;

    // Starts recording, with the microphone when `withAudio`; `lastCapturedFrame`, when
    // given, becomes the movie's first frame. False, with a log line, when the video
    // file cannot be written or a recording is still finishing. A microphone that
    // cannot be recorded is logged and the recording goes on without audio.
    bool start(bool withAudio, const RecordingOptions& options, FrameRef lastCapturedFrame = {});
    // Stops a running recording; the files are completed and merged.
    void stop();
    // The output-frame thread (one at a time). Adds a frame at the time elapsed since
    // the start; ignored when not recording. Never blocks.
    void appendFrame(FrameRef frame);

    bool recording() const { return isRecording; }
    bool recordingWithAudio() const { return withAudio; }
    bool videoFinished() const { return videoDone; }
    bool audioFinished() const { return audioDone; }
    // Between the stop and the hand-off to the merge.
    bool finishing() const { return isFinishing; }
    qint64 recordingSeconds() const { return seconds; }
    double startDate() const { return started; }
    double endDate() const { return ended; }
    // Seconds from the start to the latest appended frame; any thread.
    double delay() const { return latestDelay.load(); }
    // The current (or latest) recording's files.
    const RecordingFiles& files() const { return currentFiles; }
    // The video writer's counts of the current recording (zero when none).
    VideoWriterCounts counts() const;
    // Returns once the merges queued so far are done (their results are then posted).
    void waitForMerges();

private:
    void tick();
    void videoWritten(bool complete);
    void audioEnded(bool successfully);
    void finishIfDone();
    // Runs `work` on the main thread, unless this recorder or that recording is gone.
    void onMain(int session, std::function<void()> work);

    Services services;
    Output output;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    int session = 0;
    bool isRecording = false;
    bool withAudio = false;
    bool videoDone = false;
    bool audioDone = false;
    bool isFinishing = false;
    bool mov = false;
    qint64 seconds = 0;
    double started = 0;
    double ended = 0;
    QString writeFailure;
    RecordingFiles currentFiles;
    std::unique_ptr<RepeatingTimer> recordingTimer;
    std::unique_ptr<MicrophoneRecorder> recorder;

    // The writer is used by appendFrame on the output-frame thread.
    mutable std::mutex writerLock;
    std::unique_ptr<VideoWriter> videoWriter;
    bool accepting = false;
    std::atomic<double> latestDelay{0};

    SerialQueue merges;
};

} // namespace vistrale
