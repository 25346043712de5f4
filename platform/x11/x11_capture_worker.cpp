#include "platform/x11/x11_capture_worker.h"

#include "platform/clock.h"
#include "platform/log.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/shm.h>

namespace vistrale::x11 {

double captureNow()
{
    return hostClockNow();
}

std::shared_ptr<FrameBuffer> FramePool::acquire(QSize size)
{
    for (const std::shared_ptr<FrameBuffer>& buffer : buffers) {
        if (buffer.use_count() == 1 && buffer->image.size() == size && buffer->image.isDetached())
            return buffer;
    }
    auto fresh = std::make_shared<FrameBuffer>();
    fresh->image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    if (buffers.size() < SIZE) {
        buffers.push_back(fresh);
    } else {
        // Every buffer is held or of another size: the oldest slot takes the new one; a
        // consumer still holding the old one keeps it alive on its own.
        buffers[next] = fresh;
        next = (next + 1) % SIZE;
    }
    return fresh;
}

CaptureWorker::CaptureWorker(
    xcb_connection_t* connection, CaptureService::FrameSink frameSink, CaptureService::ErrorSink errorSink)
    : c(connection)
    , frames(std::move(frameSink))
    , errors(std::move(errorSink))
{
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
    reader = std::make_unique<CaptureReader>(c, shm && shm->present);
    wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0)
        logLine("capture wake-up descriptor refused: ", QString::fromLocal8Bit(strerror(errno)));
}

CaptureWorker::~CaptureWorker()
{
    reader.reset();
    if (wake >= 0)
        close(wake);
    xcb_disconnect(c);
}

bool CaptureWorker::initDamage()
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, &xcb_damage_id);
    if (!data || !data->present)
        return false;
    free(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
    damageBase = data->first_event;
    return true;
}

void CaptureWorker::wakeUp()
{
    if (wake >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = write(wake, &one, sizeof one);
    }
}

void CaptureWorker::requestStop()
{
    stopping = true;
    wakeUp();
}

void CaptureWorker::requestSize(QSize size)
{
    {
        std::lock_guard<std::mutex> lock(requestLock);
        requestedSize = size;
    }
    wakeUp();
}

void CaptureWorker::frameShown(double hostTime)
{
    pacer.shown(hostTime);
    if (waitingForShown.exchange(false))
        wakeUp();
}

void CaptureWorker::takeRequests()
{
    std::optional<QSize> size;
    {
        std::lock_guard<std::mutex> lock(requestLock);
        size.swap(requestedSize);
    }
    if (size)
        sizeRequested(*size);
}

bool CaptureWorker::drainEvents()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        if (!dead)
            handleEvent(event);
        free(event);
    }
    if (xcb_connection_has_error(c)) {
        fail("X connection lost");
        return false;
    }
    return true;
}

void CaptureWorker::run()
{
    const int fd = xcb_get_file_descriptor(c);
    while (!stopping && !dead) {
        if (!drainEvents())
            break;
        takeRequests();
        if (stopping || dead)
            break;
        int timeoutMs = -1;
        if (wantsCapture()) {
            double wait = pacer.wait(captureNow());
            if (wait > 0) {
                // Announce the wait, then look again: a frame shown in between either
                // shows here or finds the flag set and wakes the thread.
                waitingForShown = true;
                wait = pacer.wait(captureNow());
            }
            if (wait <= 0) {
                waitingForShown = false;
                pacer.captureStarted(captureNow());
                capture();
                // Replies read while capturing may have queued events: drain before waiting.
                continue;
            }
            // Damage that comes sooner is coalesced into the frame after the wait.
            timeoutMs = static_cast<int>(std::ceil(wait * 1000));
        }
        xcb_flush(c);
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        const int ready = poll(fds, wake >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            fail("capture wait failed");
            break;
        }
        if (wake >= 0 && (fds[1].revents & POLLIN)) {
            quint64 count = 0;
            [[maybe_unused]] const ssize_t n = read(wake, &count, sizeof count);
        }
    }
    release();
    xcb_flush(c);
}

void CaptureWorker::deliver(const std::shared_ptr<FrameBuffer>& buffer)
{
    if (dead || stopping)
        return;
    buffer->hostTime = captureNow();
    pacer.delivered(buffer->hostTime);
    if (frames)
        frames(FrameRef(buffer));
}

void CaptureWorker::fail(const QString& text)
{
    if (dead)
        return;
    dead = true;
    // A stream stopped on purpose reports nothing.
    if (!stopping && errors)
        errors(text);
}

xcb_connection_t* openCaptureConnection(const QString& displayName, xcb_screen_t** screen)
{
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(displayName.toLocal8Bit().constData(), &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        logLine("capture cannot open X display ", displayName);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(c);
        logLine("capture finds no screen on X display ", displayName);
        return nullptr;
    }
    *screen = screens.data;
    return c;
}

namespace {

class ThreadStream : public CaptureStream {
public:
    explicit ThreadStream(std::unique_ptr<CaptureWorker> w)
        : worker(std::move(w))
        , thread([this] { worker->run(); })
    {
    }
    ~ThreadStream() override { stop(); }

    void reconfigure(QSize pointSize) override
    {
        if (thread.joinable())
            worker->requestSize(pointSize);
    }

    void stop() override
    {
        if (!thread.joinable())
            return;
        worker->requestStop();
        thread.join();
    }

    void frameShown(double hostTime) override
    {
        if (thread.joinable())
            worker->frameShown(hostTime);
    }

private:
    std::unique_ptr<CaptureWorker> worker;
    std::thread thread;
};

} // namespace

std::unique_ptr<CaptureStream> startCaptureThread(std::unique_ptr<CaptureWorker> worker)
{
    if (!worker || !worker->canBeWoken())
        return nullptr;
    return std::make_unique<ThreadStream>(std::move(worker));
}

} // namespace vistrale::x11
