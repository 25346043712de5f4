// The controller's live capture streams: one per shared window (or the entire screen),
// started once the window has been added, reconfigured when it is resized and stopped
// when it leaves. Frames arrive on the capture threads and are shown on the main
// thread, the newest one only.
#include "overlays/highlight_window_controller.h"
#include "platform/capture.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/sk_image_view.h"
#include "preview/vistrale_view_controller.h"

#include <cmath>

namespace vistrale {

// The newest frame of one stream waiting for the main thread; posting is skipped while
// one is already on its way, so a slow main thread sees the latest picture, not a queue.
struct VistraleViewController::StreamSlot {
    std::mutex lock;
    FrameRef latest;
    bool posted = false;
};

void VistraleViewController::startStream(qint64 windowNumber, bool entireScreen)
{
    if (!USE_SCREENCAPTUREKIT || !platform.capture)
        return;
    QSize size;
    if (!entireScreen) {
        const std::optional<QRectF> bounds = platform.windowServer->windowBounds(windowNumber);
        if (!bounds)
            return;
        size = QSize(static_cast<int>(std::trunc(bounds->width())), static_cast<int>(std::trunc(bounds->height())));
    } else {
        std::optional<ScreenInfo> display;
        for (const ScreenInfo& screen : platform.screens->screens())
            if (displayId && screen.displayId == *displayId)
                display = screen;
        if (!display) {
            logLine("no display found");
            return;
        }
        size = display->frame.size().toSize();
    }
    if (size.width() < 20 || size.height() < 20) {
        logLine("not capturing, window w/h too small");
        return;
    }

    auto slot = std::make_shared<StreamSlot>();
    std::weak_ptr<bool> token = alive;
    CaptureService::FrameSink frames = [this, token, slot, windowNumber](FrameRef frame) {
        // Capture thread.
        if (token.expired() || missionControl.load())
            return;
        if (magnifierHooked.load()) {
            std::lock_guard guard(magnifierLock);
            if (magnifierHook)
                magnifierHook(frame, windowNumber);
        }
        {
            std::lock_guard guard(slot->lock);
            slot->latest = std::move(frame);
            if (slot->posted)
                return;
            slot->posted = true;
        }
        platform.clock->postToMain([this, token, slot, windowNumber] {
            FrameRef shown;
            {
                std::lock_guard guard(slot->lock);
                shown = std::move(slot->latest);
                slot->posted = false;
            }
            if (token.expired() || !shown)
                return;
            streamFrameArrived(windowNumber, shown);
        });
    };
    CaptureService::ErrorSink errors = [](const QString& error) { logLine("error stream ", error); };

    std::unique_ptr<CaptureStream> stream = entireScreen
        ? platform.capture->startDisplay(*displayId, size, std::move(frames), std::move(errors))
        : platform.capture->startWindow(windowNumber, size, std::move(frames), std::move(errors));
    if (!stream) {
        logLine("error starting stream");
        return;
    }
    stopStream(windowNumber);
    streams[windowNumber] = std::move(stream);
}

void VistraleViewController::setMagnifierHook(MagnifierHook hook)
{
    // Taking the lock waits for a call of the old hook in progress on a capture thread.
    std::lock_guard guard(magnifierLock);
    magnifierHook = std::move(hook);
    magnifierHooked = static_cast<bool>(magnifierHook);
}

void VistraleViewController::streamFrameArrived(qint64 windowNumber, const FrameRef& frame)
{
    SKImageView* view = imageView(windowNumber);
    if (!view || windowBeingRemoved == windowNumber)
        return;
    grantScreenPermission();
    view->setPicture(frame->image, cropFor(windowNumber));
    framesAwaitingSnapshot[windowNumber] = frame->hostTime;
}

void VistraleViewController::streamFramesShown()
{
    for (const auto& [windowNumber, hostTime] : framesAwaitingSnapshot) {
        auto found = streams.find(windowNumber);
        if (found != streams.end())
            found->second->frameShown(hostTime);
    }
    framesAwaitingSnapshot.clear();
}

void VistraleViewController::reconfigureStream(qint64 windowNumber, const QRectF& frame)
{
    auto found = streams.find(windowNumber);
    if (found == streams.end())
        return;
    found->second->reconfigure(
        QSize(static_cast<int>(std::trunc(frame.width())), static_cast<int>(std::trunc(frame.height()))));
}

void VistraleViewController::stopStream(qint64 windowNumber)
{
    auto found = streams.find(windowNumber);
    if (found == streams.end())
        return;
    found->second->stop();
    streams.erase(found);
}

std::optional<QRectF> VistraleViewController::cropFor(qint64 windowNumber) const
{
    // A region box drawn on the window's highlight border crops its picture.
    const HighlightWindowController* highlight = highlightView(windowNumber);
    return highlight ? highlight->regionCrop() : std::nullopt;
}

} // namespace vistrale
