#pragma once

#include "platform/capture.h"
#include "platform/capture_pacer.h"
#include "platform/x11/x11_capture_reader.h"

#include <QSize>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

namespace vistrale::x11 {

// Largest side of a picture a stream accepts from the server.
constexpr int MAX_CAPTURE_SIDE = 16384;
// Shortest time between two delivered frames: at most 30 a second.
constexpr double CAPTURE_INTERVAL = 1.0 / 30;

// Seconds on the monotonic clock the rest of the system uses (Clock::now()).
double captureNow();

// A few frame buffers reused while no consumer holds them. A buffer is handed out again
// only when the pool holds its only reference and its picture shares no data, so a frame
// a consumer keeps is never written. Capture thread.
class FramePool {
public:
    std::shared_ptr<FrameBuffer> acquire(QSize size);

private:
    static constexpr size_t SIZE = 4;
    std::vector<std::shared_ptr<FrameBuffer>> buffers;
    size_t next = 0;
};

// The loop of one capture stream on its own thread and its own xcb connection: waits on
// the connection and a wake-up descriptor, handles events, and captures when the picture
// changed, paced by a CapturePacer: at once when the output has shown the last frame,
// else no sooner than CAPTURE_INTERVAL after it. Subclasses say what changed and how to
// read it.
class CaptureWorker {
public:
    CaptureWorker(xcb_connection_t* connection, CaptureService::FrameSink frames, CaptureService::ErrorSink errors);
    virtual ~CaptureWorker();
    CaptureWorker(const CaptureWorker&) = delete;
    CaptureWorker& operator=(const CaptureWorker&) = delete;

    // The capture thread's body; returns after requestStop() or when the stream died.
    void run();
    // False when the worker has no wake-up descriptor: its thread could not be told
    // to stop until the next X event, so it must not be started.
    bool canBeWoken() const { return wake >= 0; }
    // Any thread.
    void requestStop();
    void requestSize(QSize size);
    // Any thread: the frame stamped `hostTime` is in the output.
    void frameShown(double hostTime);

    xcb_connection_t* xcb() const { return c; }
    // The first event number of the Damage extension on this connection.
    quint8 damageEventBase() const { return damageBase; }
    // Asks for the Damage version (required before its use) and notes its event base;
    // false when the server lacks it.
    bool initDamage();

protected:
    // One event from the server (errors too, response_type 0).
    virtual void handleEvent(const xcb_generic_event_t* event) = 0;
    // Whether a capture is wanted now (picture changed and readable).
    virtual bool wantsCapture() const = 0;
    // Reads one picture and delivers it (or fails).
    virtual void capture() = 0;
    // The expected size changed (reconfigure).
    virtual void sizeRequested(QSize size) = 0;
    // Frees the stream's X resources; called on the capture thread before it ends.
    virtual void release() = 0;

    void deliver(const std::shared_ptr<FrameBuffer>& buffer);
    // Ends the stream: errors(text) once, no more frames.
    void fail(const QString& text);
    bool failed() const { return dead; }

    xcb_connection_t* c;
    FramePool pool;
    std::unique_ptr<CaptureReader> reader;

private:
    void takeRequests();
    bool drainEvents();
    void wakeUp();

    CaptureService::FrameSink frames;
    CaptureService::ErrorSink errors;
    int wake = -1;
    quint8 damageBase = 0;
    std::atomic<bool> stopping{false};
    CapturePacer pacer{CAPTURE_INTERVAL};
    // Set while a change waits for the pacer, so that only then does a shown frame wake
    // the thread.
    std::atomic<bool> waitingForShown{false};
    bool dead = false;
    std::mutex requestLock;
    std::optional<QSize> requestedSize;
};

// A stream whose worker runs on a thread of its own. stop() joins it. Null when the
// worker cannot be woken (its error sink is not called then).
std::unique_ptr<CaptureStream> startCaptureThread(std::unique_ptr<CaptureWorker> worker);

// Opens an xcb connection of a stream's own; null, with a log line, when it fails.
xcb_connection_t* openCaptureConnection(const QString& displayName, xcb_screen_t** screen);

} // namespace vistrale::x11
