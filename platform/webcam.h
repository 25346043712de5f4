#pragma once

#include "platform/frame.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace vistrale {

// One camera of this machine as the user picks it. `id` names it for starting and
// for the settings: stable while the camera stays plugged in, and across runs where
// the system gives the camera a stable name. `name` is what the user reads.
struct WebcamInfo {
    QString id;
    QString name;

    bool operator==(const WebcamInfo&) const = default;
};

// Why a camera stopped or could not start.
enum class WebcamFailure {
    // The system refuses access (no permission to open the device, or the media
    // server refuses the stream).
    Denied,
    // Another program holds the camera.
    Busy,
    // The camera went away: unplugged, removed from the media server, or it stopped
    // answering.
    Gone,
};

// "denied", "busy" or "gone", for log lines.
QString webcamFailureText(WebcamFailure failure);

// Whether a camera of this name or node name is Vistrale's own ("Vistrale Camera"
// and the like), which is never offered as a webcam.
bool isVistraleOwnCamera(const QString& name);

// One running camera. Frames and the failure come through the sinks given to
// Webcams::start until stop() returns or the stream is destroyed.
class WebcamStream {
public:
    // Stops like stop().
    virtual ~WebcamStream() = default;
    // Main thread. No frame and no failure is delivered after it returns. Never
    // from inside one of the stream's own sinks.
    virtual void stop() = 0;
    // Any thread. A hint: pictures may come already scaled down (keeping their
    // aspect) to fill a box of this size, which costs less than scaling them later.
    // Empty: the camera's size. Streams that ignore it deliver the camera's size.
    virtual void fitPicturesTo(QSize box) { (void)box; }
};

// The webcams of this machine: every camera but Vistrale's own.
//
// Threads: the list and start() belong to the main thread. Frames and failures are
// delivered on a capture thread of the stream; list changes on a thread of the
// service. Sinks must return quickly, must not call into the service and must not
// wait for anything the main thread may hold while it stops a stream (post to the
// main thread instead).
class Webcams {
public:
    // Capture thread. An opaque picture (alpha 255) in FrameBuffer's BGRA layout, at
    // the size the camera delivers (at most 1280 × 720), stamped with the host clock
    // (Clock::now()) when it arrived. The sink may keep the reference as long as it
    // likes; the stream reuses a picture's memory only once nobody holds it.
    using FrameSink = std::function<void(FrameRef frame)>;
    // Capture thread (for a failure found at once, the main thread inside start()).
    // At most once per stream; no frame follows it. `detail` is the system's own
    // reason, for the log.
    using FailureSink = std::function<void(WebcamFailure failure, const QString& detail)>;
    // Service thread. The list of cameras changed (a camera plugged in or out, or the
    // media server came or went); read the list again with cameras().
    using CamerasChanged = std::function<void()>;

    virtual ~Webcams() = default;
    // "pipewire", "v4l2" or "none" (no cameras): where the cameras come from; the
    // test fake says "fake".
    virtual QString backend() const = 0;
    // Main thread. The cameras present now, in the system's order.
    virtual std::vector<WebcamInfo> cameras() = 0;
    // Main thread. Replaces the list-change callback; none: no calls. Once it
    // returns, the previous callback is no longer called.
    virtual void setCamerasChanged(CamerasChanged changed) = 0;
    // Main thread. Starts the camera `id` at up to 1280 × 720 and 30 frames a second.
    // Opening and format negotiation happen on the capture thread: a camera that
    // cannot be used is reported through `failed`. Null, with nothing delivered,
    // when no listed camera has this id. The caller owns the stream and destroys it
    // before this service.
    virtual std::unique_ptr<WebcamStream> start(const QString& id, FrameSink frames, FailureSink failed) = 0;
};

} // namespace vistrale
