#pragma once

#include "platform/clock.h"
#include "platform/media.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace vistrale {

// A layer drawn over a movie: it appears at `delay` and stays to the movie's end,
// covered by later layers with the same frame.
struct BaseOverlay {
    // Where, in output points (origin at the bottom left).
    QRectF frame;
    // Seconds from the start of the movie at which the overlay appears.
    double delay = 0;
    double duration = 0;
    QColor backgroundColor = Qt::transparent;
    // Makes the layer's picture, at the frame's size; called once, when it first shows.
    std::function<QImage()> layer;

    // The time range in milliseconds (a time scale of 1000): start and duration.
    std::int64_t startValue() const { return std::llround(delay * 1000); }
    std::int64_t durationValue() const { return std::llround(duration * 1000); }
    // When it first shows, in seconds: the start of its range.
    double appearsAt() const { return static_cast<double>(startValue()) / 1000; }
    // What the export draws: the layer's picture at the frame from when it appears.
    MovieOverlay movieOverlay() const { return {layer, frame, appearsAt()}; }
};

// Exports one movie again with timed overlays drawn over it, into one movie file, on a
// thread of its own. While it runs, "ProgressBarPercentage" is posted every 0.1 s with
// "progress" (0 to 1) as long as the progress is below 0.99. Main thread only.
class VideoOverlayProcessor {
public:
    enum class Outcome { Completed, Failed, Cancelled };
    using Completion = std::function<void(Outcome outcome, const QString& error)>;

    VideoOverlayProcessor(QString inputURL, QString outputURL, Media& media, Clock& clock);
    // Cancels a running export and waits for it; its completion does not run.
    ~VideoOverlayProcessor();
    VideoOverlayProcessor(const VideoOverlayProcessor&) = delete;
    VideoOverlayProcessor& operator=(const VideoOverlayProcessor&) = delete;

    // Starts the export once; `completion` runs on the main thread when it is over.
    // An export that does not complete leaves no output file.
    void process(Completion completion);
    // Stops a running export; its completion follows with Cancelled.
    void cancel();
    bool exporting() const { return static_cast<bool>(myexportSession); }

    const QString inputURL;
    const QString outputURL;
    // Drawn in list order: later ones over earlier ones.
    std::vector<BaseOverlay> overlays;
    // Subtitles (SubRip text) the exported movie carries as its subtitle track.
    QString subtitles;
    // A QuickTime movie instead of MPEG-4.
    bool mov = false;

    static constexpr double PROGRESS_INTERVAL = 0.1;
    static constexpr double PROGRESS_LIMIT = 0.99;

private:
    void finished(bool completed, const QString& error);

    Media& media;
    Clock& clock;
    std::unique_ptr<RepeatingTimer> exportProgressBarTimer;
    // The running export's progress and cancellation.
    std::shared_ptr<ExportControl> myexportSession;
    Completion completion;
    std::thread worker;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace vistrale
