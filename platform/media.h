#pragma once

#include "platform/frame.h"

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vistrale {

// How a movie of the output is written.
struct VideoWriterSettings {
    // The file to write; an existing file is replaced.
    QString path;
    // The movie's frame size; frames of another size are scaled to it.
    QSize size{1920, 1080};
    // QuickTime movie instead of MPEG-4.
    bool mov = false;
    // Average of 1300000 bit/s, capped; honoured for MPEG-4 only. Otherwise the encoder
    // keeps a constant quality.
    bool limitBitRate = false;
    // The frame rate the frames come at, at most.
    int frameRate = 30;
    // Frames waiting for the encoder at most; more are dropped.
    int queueCapacity = 8;
};

// Frames a writer was offered, wrote, and dropped (queue full, too early, or after a
// failure). Read on any thread.
struct VideoWriterCounts {
    std::uint64_t offered = 0;
    std::uint64_t written = 0;
    std::uint64_t dropped = 0;
};

// A movie file being written: H.264 at the settings' size, presentation times in
// seconds since the recording's start at a time scale of 600. The file is playable at
// every moment (written in fragments), so a process that dies leaves a movie of
// what was written so far. Encoding runs on the writer's own thread.
class VideoWriter {
public:
    // Called once, on the writer's thread, when writing fails (disk full, write
    // error, encoder failure). The writer then drops every frame; what was written
    // stays in the file.
    using Failure = std::function<void(const QString& error)>;
    // Called once, on the writer's thread, when the file is closed: true when every
    // frame queued before `finish` was written and the file completed.
    using Finished = std::function<void(bool complete)>;

    // Waits for the writer's thread; closes the file if `finish` was not called.
    virtual ~VideoWriter() = default;
    // One thread at a time (the output-frame thread). Never blocks: the frame (shared,
    // not copied) joins the encoder's queue, or is dropped and counted when the queue
    // is full, when `seconds` does not come after the previous frame's time, after a
    // failure or after `finish`. True when queued.
    virtual bool append(FrameRef frame, double seconds) = 0;
    // Main thread, once. Writes what is queued and closes the file; `done` runs on
    // the writer's thread (possibly before this returns).
    virtual void finish(Finished done) = 0;
    // Any thread.
    virtual VideoWriterCounts counts() const = 0;
};

// The default audio input being recorded into an AAC file (.m4a, 192 kbit/s,
// 44100 Hz, 2 channels). The file is playable at every moment, like the movie's.
class MicrophoneRecorder {
public:
    // Called once, on the recorder's thread, when the recording ends: after `stop`
    // (successfully = true) or after a failure such as the sound server going away
    // (false; the audio recorded so far stays in the file).
    using Finished = std::function<void(bool successfully)>;
    // Called once at most, on the recorder's thread, before Finished, with the failure.
    using Failure = std::function<void(const QString& error)>;

    // Stops (as `stop`) and waits for the recorder's thread; no callback runs after
    // it returns.
    virtual ~MicrophoneRecorder() = default;
    // Main thread. Ends the recording; Finished follows on the recorder's thread.
    virtual void stop() = 0;
};

// One finished recording to combine into the final movie.
struct MergeRequest {
    QString videoPath;
    // Empty: the movie gets the video alone.
    QString audioPath;
    QString outputPath;
    // QuickTime movie instead of MPEG-4.
    bool mov = false;
    // SubRip text that becomes the movie's subtitle track (mov_text, English); empty:
    // none. Entries that cannot be read are left out with a log line.
    QString subtitles;
};

// A picture drawn over a movie from a time on, to the movie's end.
struct MovieOverlay {
    // Makes the picture (premultiplied ARGB, drawn at its own size): called once, on
    // the export's thread, when the overlay first shows, so that a movie with
    // thousands of overlays holds only the pictures on show.
    std::function<QImage()> picture;
    // Where, in the movie's pixels with the origin at the bottom left; what falls
    // outside the movie is cut off.
    QRectF frame;
    // Seconds from the movie's first picture.
    double start = 0;
};

// A movie exported again with pictures drawn over it.
struct OverlayExportRequest {
    QString inputPath;
    // Replaced if it exists; removed again when the export does not complete.
    QString outputPath;
    // QuickTime movie instead of MPEG-4.
    bool mov = false;
    // Drawn in list order, later ones over earlier ones; an overlay with the same
    // frame as a later one that has started is covered by it and not drawn.
    std::vector<MovieOverlay> overlays;
    // SubRip text that becomes the exported movie's subtitle track (an input's own
    // subtitle track is left out); empty: none.
    QString subtitles;
};

// Shared by an export and whoever watches it: the export writes `progress` (0 to 1, the
// share of the movie written) and stops soon after `cancelled` is set. Any thread.
struct ExportControl {
    std::atomic<double> progress{0};
    std::atomic<bool> cancelled{false};
};

// The media services of the recorder. Owned by the application for the whole run.
class Media {
public:
    virtual ~Media() = default;
    // Main thread. A writer that writes to the settings' file; null and `error` set
    // when the file or the encoder cannot be opened. `failed` is kept by the writer.
    virtual std::unique_ptr<VideoWriter> createVideoWriter(
        const VideoWriterSettings& settings, VideoWriter::Failure failed, QString* error)
        = 0;
    // Main thread. Starts recording the default input into `path` (replaced if it
    // exists); null and `error` set when there is no sound server or input, or the
    // file cannot be opened. The callbacks are kept by the recorder.
    virtual std::unique_ptr<MicrophoneRecorder> startMicrophone(
        const QString& path, MicrophoneRecorder::Failure failed, MicrophoneRecorder::Finished finished, QString* error)
        = 0;
    // Any thread but the main one: blocks until done (a minute of movie takes well
    // under a second). Copies the video and, when given, the audio into one movie
    // written with its index first. The audio is cut at the video's end; an audio
    // shorter than the video is repeated from its start, back to back, up to the
    // video's end. An unreadable audio file is logged and left out. True on success,
    // else false and `error` set.
    virtual bool merge(const MergeRequest& request, QString* error) = 0;
    // Any thread but the main one: blocks until done, at about two to three times real
    // time for 1080p on two cores. Decodes the input's video, draws the overlays over
    // it, encodes H.264 at the input's size, copies its audio unchanged and writes the
    // movie with its index first. True on success; false and `error` set when it
    // fails or is cancelled, and then the output file is gone and the input untouched.
    virtual bool exportWithOverlays(const OverlayExportRequest& request, ExportControl& control, QString* error) = 0;
};

} // namespace vistrale
