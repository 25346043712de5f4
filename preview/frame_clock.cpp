// The controller's frame clock: a timer thread hands one tick at a time to the main
// thread, and each tick follows the shared windows' places, sizes and stacking, and in
// image mode images them.
#include "overlays/highlight_window_controller.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/output_geometry.h"
#include "preview/sk_image_view.h"
#include "preview/view_tags.h"
#include "preview/vistrale_view_controller.h"
#include "preview/window_drag_view.h"
#include "preview/window_list.h"
#include "webcam/webcam_overlay.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QWidget>
#include <algorithm>

namespace vistrale {
namespace {

constexpr double FOLLOW_SECONDS = 0.1;
constexpr double NOT_MEASURED = -3298.0;

} // namespace

void VistraleViewController::startTimers()
{
    const double interval = USE_SCREENCAPTUREKIT ? 0.1 : CAPTURE_INTERVAL;
    logLine("fireTimer repeatInterval=", interval);
    logLine("using new dispatch source timer", interval);
    std::weak_ptr<bool> token = alive;
    // The timer thread only tests and clears the guard: at most one tick is queued or
    // running, and ticks that fall due meanwhile are dropped.
    dispatchSourceTimer = platform.clock->everyOnTimerThread(interval, [this, token] {
        bool expected = true;
        if (token.expired() || !fireTimerDone.compare_exchange_strong(expected, false))
            return;
        platform.clock->postToMain([this, token] {
            if (!token.expired())
                fireTimer();
        });
    });
    startVerySlowTimer();
    if (!USE_SCREENCAPTUREKIT) {
        logLine("using slow timer", PREVIEW_CAPTURE_INTERVAL);
        slowtimer = platform.clock->every(PREVIEW_CAPTURE_INTERVAL, [this, token] {
            if (!token.expired())
                slowTimerFunc();
        });
    }
}

void VistraleViewController::grantScreenPermission()
{
    if (hasScreenPermission)
        return;
    hasScreenPermission = true;
    if (captureVideoPreview)
        captureVideoPreview->setNoPermissionText(QString());
    if (cameraSwitch)
        cameraSwitch->show();
    if (ccButton)
        ccButton->show();
}

void VistraleViewController::fireTimer()
{
    // 1. Capture mode with nothing shared: nothing to follow.
    if (USE_SCREENCAPTUREKIT && imageViews.empty()) {
        fireTimerDone = true;
        hidePointerOverlay();
        return;
    }

    // 2. The share window moved (a desktop rearrangement): skip the tick.
    if (!draggingPanel && panelWindowID != 0) {
        if (const std::optional<QRectF> bounds = platform.windowServer->windowBounds(panelWindowID)) {
            if (previousPanelX == NOT_MEASURED)
                previousPanelX = bounds->x();
            // The share window has no frame of its own, so its bounds are its picture's:
            // another width means the desktop rearranged it, not that it is shown.
            const bool moved = bounds->width() != realRect.width() || bounds->x() != previousPanelX;
            previousPanelX = bounds->x();
            if (moved) {
                missionControl = true;
                fireTimerDone = true;
                return;
            }
        }
    }
    // 3.
    missionControl = false;

    // 4. The pointer and its image, one query.
    pointerTick();

    // 5. and 6.
    const QList<qint64> stacking = platform.windowServer->stackingOrder();
    QSet<qint64> shared;
    for (const auto& entry : imageViews)
        shared.insert(entry.first);
    const SharedWindowInfos infos = sharedWindowInfos(
        *platform.windowServer, mouseLocation, shared, [this](const Window& window) { return hitRegion(window); },
        QCoreApplication::applicationPid());
    QHash<qint64, QRectF> current;
    for (const Window& window : infos.entries)
        current.insert(window.windowNumber, window.frame);

    // 7. Each shared window.
    std::vector<qint64> vanished;
    for (const auto& [number, view] : imageViews) {
        const auto found = current.constFind(number);
        if (found == current.constEnd()) {
            if (!USE_SCREENCAPTUREKIT && sharingEntireScreen && displayId) {
                const QImage screen = platform.windowServer->imageDisplay(*displayId);
                if (!screen.isNull())
                    view->setPicture(screen);
            }
            if (sharingEntireScreen || stacking.isEmpty())
                continue;
            // On another desktop or minimised: keep the last picture.
            if (stacking.contains(number))
                continue;
            if (windowBeingRemoved != number)
                vanished.push_back(number);
            continue;
        }
        const QRectF frame = *found;
        if (view->layer()->opacity() == 0 && windowBeingRemoved != number)
            view->layer()->setOpacity(1);
        const auto stored = positions.constFind(number);
        const bool moved = stored == positions.constEnd() || *stored != frame;
        const bool resized = stored == positions.constEnd() || stored->size() != frame.size();
        positions[number] = frame;

        // A region box crops the window: only the region is laid out.
        const std::optional<QRectF> crop = cropFor(number);
        const QRectF target = layoutFrame(crop ? crop->translated(frame.topLeft()) : frame, number, false);
        if (moved || resized)
            scene->animate(view->layer(), target, std::nullopt, FOLLOW_SECONDS, AnimationTiming::Linear);
        if (USE_SCREENCAPTUREKIT && resized)
            reconfigureStream(number, frame);

        if (!USE_SCREENCAPTUREKIT) {
            const QImage image = sharingEntireScreen && displayId ? platform.windowServer->imageDisplay(*displayId)
                                                                  : platform.windowServer->imageWindow(number);
            if (!image.isNull()) {
                grantScreenPermission();
                view->setPicture(image, crop);
            }
        }

        if (HighlightWindowController* highlight = highlightView(number)) {
            if (!lastClicked || *lastClicked != number) {
                highlight->fitToWindow(frame);
            } else if (!highlight->hidden && !highlight->drawingRectangle) {
                // The user drags this window: its border would lag behind.
                highlight->hidden = true;
                if (QWidget* border = highlight->window())
                    border->hide();
            }
        }
    }

    // 8.
    mouseOverSharedWindow = infos.regionHit != 0 && isShared(infos.regionHit);
    mouseOverSharedWindowId = mouseOverSharedWindow ? infos.regionHit : 0;
    if (sharingEntireScreen) {
        mouseOverSharedWindow = true;
        mouseOverSharedWindowId = sharingEntireScreen;
    }

    // 9. Region drawing after a double press, then the pointer overlay.
    pointerOverlayTick(infos.frameHit);

    // 10. The webcam fades while the pointer is over it and over a shared window.
    if (webcamOverlay && hasScreenPermission)
        webcamOverlay->fadeStep(mouseOverSharedWindow,
            screenWidth > 0 && screenHeight > 0
                ? QPointF(camWidth * mouseLocation.x() / screenWidth, camHeight * mouseLocation.y() / screenHeight)
                : mouseLocation);

    // 11. Stacking: z-positions back to front, the frontmost with the larger shadow.
    std::vector<qint64> backToFront;
    for (qint64 number : stacking)
        if (isShared(number))
            backToFront.push_back(number);
    std::reverse(backToFront.begin(), backToFront.end());
    for (std::size_t i = 0; i < backToFront.size(); ++i) {
        SKImageView* view = imageView(backToFront[i]);
        const double z = MIN_WINDOW_TAG + static_cast<double>(i);
        if (view->layer()->zPosition() != z)
            view->layer()->setZPosition(z);
        view->setActive(i + 1 == backToFront.size());
    }

    for (qint64 number : vanished)
        removeWindow(number);

    // 13.
    fireTimerDone = true;
}

void VistraleViewController::slowTimerFunc()
{
    if (USE_SCREENCAPTUREKIT || !captureVideoPreview)
        return;
    // The preview gets every output frame as it is drawn; the slow timer only keeps the
    // picture shown while no frame exists (and after the preview was hidden) current.
    const quint64 arrived = framesArrived.load();
    if (!windowShown || arrived == slowTimerFrameSeen)
        return;
    slowTimerFrameSeen = arrived;
    if (const FrameRef frame = lastCapturedFrame().surface) {
        // A small copy: holding the frame itself would keep its buffer from reuse.
        defaultImage = frame->image.scaled(previewRect.size().toSize(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        captureVideoPreview->setDefaultImage(defaultImage);
    }
}

} // namespace vistrale
