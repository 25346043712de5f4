// The controller's pointer overlay and region highlight: the pointer drawn into the
// output where it stands over a shared window, the magnifier, the ring on the desktop,
// and the region boxes that crop shared windows. The views themselves live in overlays/.
#include "overlays/cursor_window_controller.h"
#include "overlays/highlight_window_controller.h"
#include "overlays/magnifier_view.h"
#include "overlays/my_cursor_image_view.h"
#include "overlays/pointer_geometry.h"
#include "platform/notification_center.h"
#include "platform/platform.h"
#include "preview/sk_image_view.h"
#include "preview/vistrale_view_controller.h"

namespace vistrale {

void VistraleViewController::setUpPointerOverlay()
{
    cursorView = std::make_unique<MyCursorImageView>(*scene);
    cursorMagnifier = std::make_unique<MagnifierView>(*scene, *platform.clock);
    windowsView->addChild(cursorView->layer());
    windowsView->addChild(cursorMagnifier->layer());
    cursorEnhancedWindow = std::make_unique<CursorWindowController>(*platform.ownWindows);
    std::weak_ptr<bool> token = alive;
    roiObserver = NotificationCenter::defaultCenter().addObserver("roi", [this, token](const QVariantMap& info) {
        if (!token.expired())
            receivedRoiMessage(info);
    });
}

void VistraleViewController::tearDownPointerOverlay()
{
    if (roiObserver)
        NotificationCenter::defaultCenter().removeObserver(roiObserver);
    roiObserver = 0;
    setMagnifierHook({});
}

void VistraleViewController::pointerTick()
{
    // Nothing shared: nothing to follow, and no query at all.
    if (imageViews.empty()) {
        hidePointerOverlay();
        return;
    }
    // One query: warped pointers make no motion events.
    const std::optional<PointerState> state = platform.pointerKeys->pointerState();
    if (cursorView) {
        const CursorImage cursor = platform.pointerKeys->cursorImage();
        cursorView->setPointer(cursor.image, cursor.hotSpot);
    }
    if (!state)
        return;
    commandPressed = state->modifiers & CommandFlag;
    shiftPressed = state->modifiers & ShiftFlag;
    optionPressed = state->modifiers & OptionFlag;
    deferPointerOverlay = true;
    trackPointer(state->location, state->anyButtonDown);
    deferPointerOverlay = false;
}

void VistraleViewController::pointerOverlayTick(qint64 frameHit)
{
    if (commandDoublePressed) {
        // A double press over no shared window is dropped, not kept for later.
        commandDoublePressed = false;
        if (HighlightWindowController* highlight = highlightView(frameHit); highlight && isShared(frameHit))
            drawingRoi = highlight->toggleDrawing();
    }
    // Drawing ends without "roi" when the box was too small or its window went away.
    if (drawingRoi) {
        bool drawing = false;
        for (const auto& [number, highlight] : highlightViews)
            drawing = drawing || highlight->drawingRectangle;
        drawingRoi = drawing;
    }
    // Pointer tracking pauses while a recording is saved.
    if (isSaving)
        return;
    if (imageViews.empty() || drawingRoi)
        hidePointerOverlay();
    else
        updatePointerOverlay();
}

std::optional<QRectF> VistraleViewController::pointerSource(qint64 windowNumber) const
{
    const auto position = positions.constFind(windowNumber);
    if (position == positions.constEnd())
        return std::nullopt;
    if (const std::optional<QRectF> crop = cropFor(windowNumber))
        return crop->translated(position->topLeft());
    return *position;
}

QPointF VistraleViewController::pointInOutput(qint64 windowNumber) const
{
    const SKImageView* view = imageView(windowNumber);
    const std::optional<QRectF> source = pointerSource(windowNumber);
    if (!view || !source)
        return QPointF(0, 0);
    return vistrale::pointInOutput(mouseLocation, *source, view->layer()->frame()).value_or(QPointF(0, 0));
}

void VistraleViewController::updatePointerOverlay()
{
    if (!cursorView)
        return;
    const qint64 number = mouseOverSharedWindowId;
    const std::optional<QRectF> source = pointerSource(number);
    SKImageView* view = imageView(number);
    const bool over = view && source && (sharingEntireScreen || source->contains(mouseLocation));
    if (!over) {
        if (cursorView->hide())
            setMagnifierShown(false);
        cursorEnhancedWindow->hide();
        return;
    }
    const QPointF point = pointInOutput(number);
    if (source->width() > 0)
        cursorView->setScale(view->layer()->frame().width() / source->width());

    if (commandPressed && optionPressed) {
        if (magnifierWindowId != number) {
            magnifierWindowId = number;
            cursorMagnifier->setWindow(number);
            // The window's picture now; its stream's next frames follow.
            cursorMagnifier->setPicture(view->contentLayer->contents());
        }
        setMagnifierShown(true);
        cursorMagnifier->update(point, positions.value(number), mouseLocation);
        cursorView->update(point, false, false);
    } else {
        setMagnifierShown(false);
        cursorView->update(point, commandPressed && includeMouseClicks, buttonPressed && includeMouseClicks);
    }

    if (commandPressed && includeMouseClicks)
        cursorEnhancedWindow->show(mouseLocation, shiftPressed || optionPressed);
    else
        cursorEnhancedWindow->hide();
}

void VistraleViewController::hidePointerOverlay()
{
    if (!cursorView)
        return;
    cursorView->hide();
    setMagnifierShown(false);
    cursorEnhancedWindow->hide();
}

void VistraleViewController::setMagnifierShown(bool shown)
{
    if (shown == cursorMagnifier->isVisible())
        return;
    if (shown) {
        MagnifierView* magnifier = cursorMagnifier.get();
        setMagnifierHook(
            [magnifier](const FrameRef& frame, qint64 windowNumber) { magnifier->offerFrame(frame, windowNumber); });
        // A hidden magnifier showed no frames: take the window's current picture.
        if (SKImageView* view = imageView(magnifierWindowId))
            cursorMagnifier->setPicture(view->contentLayer->contents());
    } else {
        cursorMagnifier->hide();
        // Streams stop paying for the magnifier once it is gone.
        setMagnifierHook({});
    }
}

void VistraleViewController::receivedRoiMessage(const QVariantMap& userInfo)
{
    const QVariant value = userInfo.value("n");
    const int type = value.typeId();
    if (type != QMetaType::Int && type != QMetaType::LongLong && type != QMetaType::UInt
        && type != QMetaType::ULongLong)
        return;
    const qint64 number = value.toLongLong();
    drawingRoi = false;
    HighlightWindowController* highlight = highlightView(number);
    SKImageView* view = imageView(number);
    if (!highlight || !view)
        return;
    const std::optional<QRectF> crop = highlight->regionCrop();
    const QImage shown = view->contentLayer->contents();
    if (!shown.isNull()) {
        view->cropped = false;
        view->setPicture(shown, crop);
    }
    // The next tick lays the window out anew, from its region.
    if (positions.contains(number))
        positions[number].translate(1, 1);
}

void VistraleViewController::setRecordingLook(bool recording)
{
    recordingLook = recording;
    for (const auto& [number, highlight] : highlightViews)
        highlight->setRecording(recording);
}

} // namespace vistrale
