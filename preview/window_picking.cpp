// The controller's window picking: the shortcut over a window adds it to the output or
// takes it out, the pointer and modifiers are tracked, and the list follows desktop and
// screen changes.
#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "overlays/highlight_window_controller.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/layout_frame.h"
#include "preview/sk_image_view.h"
#include "preview/view_tags.h"
#include "preview/vistrale_view_controller.h"
#include "preview/window_list.h"
#include "webcam/webcam_overlay.h"

#include <QCoreApplication>
#include <cmath>

namespace vistrale {
namespace {

constexpr double DOUBLE_PRESS_SECONDS = 0.5;
constexpr double ADD_REMOVE_SECONDS = 0.3;

QRectF shrunkAboutCentre(const QRectF& rect, double factor)
{
    const QSizeF size = rect.size() * factor;
    return QRectF(rect.center() - QPointF(size.width() / 2, size.height() / 2), size);
}

} // namespace

void VistraleViewController::receivedKeyboardMessage(const QVariantMap& userInfo)
{
    const QString label = userInfo.value("label").toString();
    if (label == "keyboard")
        toggleWindowUnderMouse();
    else if (label == "screenshot")
        screenshot(false);
    else if (label == "copyscreenshot")
        screenshot(true);
    else if (label == "webcam")
        toggleFullscreenWebcam();
}

void VistraleViewController::toggleWindowUnderMouse()
{
    if (sharingEntireScreen >= 1) {
        removeAllWindows();
        displayId.reset();
        sharingEntireScreen = 0;
        return;
    }
    const double now = platform.clock->now();
    const QPointF pointer = platform.pointerKeys->pointerLocation();
    const std::optional<Window> window
        = windowUnderPoint(*platform.windowServer, pointer, false, QCoreApplication::applicationPid());
    if (!window)
        return;
    const qint64 number = window->windowNumber;
    if (number == lastWindow && now - lastKeyboard < DOUBLE_PRESS_SECONDS) {
        makeWindowFullFrame(number);
        lastKeyboard = 0;
        lastWindow = -1;
        return;
    }
    lastWindow = number;
    lastKeyboard = now;
    if (isShared(number)) {
        removeWindow(number);
        return;
    }
    playSound(sound.get());
    if (!hasScreenPermission) {
        showPermissionDialog();
        return;
    }
    const bool bareDesktop = window->applicationName == "Dock" || window->applicationName == "Window Server";
    if (bareDesktop && window->windowName) {
        if (confirmationDialog(*platform.dialogs, tr("Share entire screen?"),
                tr("Are you sure you want to share your entire screen in Vistrale?"), tr("Yes"), tr("No")))
            addWindow(*window, false, true, true);
        return;
    }
    addWindow(*window, false, false, true);
}

std::unique_ptr<HighlightWindowController> VistraleViewController::makeHighlight(
    const Window& window, bool highlight, bool entireScreen)
{
    auto controller = std::make_unique<HighlightWindowController>(
        *platform.ownWindows, window.windowNumber, highlight, entireScreen);
    controller->fitToWindow(window.frame);
    // A window shared while recording takes the recording look at once.
    controller->setRecording(recordingLook);
    return controller;
}

void VistraleViewController::addWindow(const Window& window, bool highlight, bool entireScreen, bool animated)
{
    const qint64 number = window.windowNumber;
    if (auto old = highlightViews.find(number); old != highlightViews.end())
        old->second->close();
    highlightViews[number] = makeHighlight(window, highlight, entireScreen);
    if (isShared(number))
        return;

    positions[number] = window.frame;
    QRectF target = layoutFrame(window.frame, number, false);
    if (entireScreen) {
        const QList<ScreenInfo> present = platform.screens->screens();
        displayId = present.isEmpty() ? std::nullopt : std::optional(present.first().displayId);
        target = realRect;
    }

    auto view = std::make_unique<SKImageView>(camWidth, screenWidth);
    SKImageView* raw = view.get();
    raw->layer()->setFrame(target);
    raw->layer()->setZPosition(MIN_WINDOW_TAG + static_cast<double>(imageViews.size()));

    if (entireScreen) {
        sharingEntireScreen = number;
        removeAllWindows();
        fullscreenWindows[number] = 1;
        raw->fullFrameLook();
    } else if (animated) {
        const QImage first = platform.windowServer->imageWindow(number);
        raw->layer()->setFrame(shrunkAboutCentre(target, 0.8));
        if (!first.isNull())
            raw->setPicture(first);
        raw->layer()->setOpacity(0);
        windowsView->addChild(raw->layer());
        imageViews[number] = std::move(view);
        std::weak_ptr<bool> token = alive;
        scene->animate(
            raw->layer(), target, 1.0, ADD_REMOVE_SECONDS, AnimationTiming::EaseIn, [this, token, number, first] {
                if (token.expired())
                    return;
                isSharingWindows = true;
                if (SKImageView* shown = imageView(number); shown && !first.isNull())
                    shown->setPicture(first);
                startStream(number, false);
                registerMouseEvents();
            });
        return;
    }
    raw->layer()->setFrame(target);
    windowsView->addChild(raw->layer());
    imageViews[number] = std::move(view);
    isSharingWindows = true;
    startStream(number, entireScreen);
    registerMouseEvents();
}

void VistraleViewController::makeWindowFullFrame(qint64 windowNumber)
{
    fullscreenWindows[windowNumber] = 1;
    if (positions.contains(windowNumber))
        positions[windowNumber].translate(1, 1);
}

void VistraleViewController::removeWindow(qint64 windowNumber)
{
    windowBeingRemoved = windowNumber;
    if (!isShared(windowNumber))
        return;
    playSound(sound.get());
    isSharingWindows = !imageViews.empty();
    animateRemoval(windowNumber);
}

void VistraleViewController::removeAllWindows()
{
    std::vector<qint64> numbers;
    for (const auto& entry : imageViews)
        numbers.push_back(entry.first);
    for (qint64 number : numbers) {
        windowBeingRemoved = number;
        playSound(sound.get());
        isSharingWindows = !imageViews.empty();
        animateRemoval(number);
    }
}

void VistraleViewController::animateRemoval(qint64 windowNumber)
{
    SKImageView* view = imageView(windowNumber);
    if (!view)
        return;
    view->freeze();
    const QRectF shrunk = shrunkAboutCentre(view->layer()->frame(), 0.8);
    std::weak_ptr<bool> token = alive;
    scene->animate(
        view->layer(), shrunk, 0.5, ADD_REMOVE_SECONDS, AnimationTiming::EaseIn, [this, token, windowNumber] {
            if (!token.expired())
                finishRemoval(windowNumber);
        });
}

void VistraleViewController::finishRemoval(qint64 windowNumber)
{
    auto found = imageViews.find(windowNumber);
    if (found != imageViews.end()) {
        found->second->layer()->removeFromParent();
        imageViews.erase(found);
    }
    fullscreenWindows.erase(windowNumber);
    positions.remove(windowNumber);
    if (auto highlight = highlightViews.find(windowNumber); highlight != highlightViews.end()) {
        lastWindow = -1;
        highlight->second->close();
        highlightViews.erase(highlight);
    }
    windowBeingRemoved.reset();
    stopStream(windowNumber);
}

void VistraleViewController::playSound(Sound* effect)
{
    if (!effect || settings.boolValue(keys::SOUND_OFF))
        return;
    if (effect->isPlaying())
        effect->stop();
    effect->play();
}

void VistraleViewController::registerMouseEvents()
{
    if (mouseEventsRegistered)
        return;
    mouseEventsRegistered = true;
    std::weak_ptr<bool> token = alive;
    platform.pointerKeys->setGlobalMonitor([this, token](const PointerEvent& event) {
        if (!token.expired())
            globalEvent(event);
    });
}

void VistraleViewController::globalEvent(const PointerEvent& event)
{
    optionPressed = event.modifiers & OptionFlag;
    shiftPressed = event.modifiers & ShiftFlag;
    commandPressed = event.modifiers & CommandFlag;
    leftMouseDragged = event.type == PointerEvent::LeftMouseDragged;
    trackPointer(event.location);
}

void VistraleViewController::trackPointer(QPointF point)
{
    trackPointer(point, platform.pointerKeys->anyMouseButtonDown());
}

void VistraleViewController::trackPointer(QPointF point, bool anyButtonDown)
{
    if (isSharingWindows) {
        if (commandPressed && !wasCommandPressed) {
            const double now = platform.clock->now();
            if (now - lastCommandPressed >= DOUBLE_PRESS_SECONDS)
                lastCommandPressed = now;
            else
                commandDoublePressed = true;
        }
        wasCommandPressed = commandPressed;
    }
    buttonPressed = anyButtonDown;
    if (isSaving)
        return;
    if (!lastClicked && leftMouseDragged) {
        if (std::optional<Window> under
            = windowUnderPoint(*platform.windowServer, point, true, QCoreApplication::applicationPid()))
            lastClicked = under->windowNumber;
    }
    if (!leftMouseDragged || !buttonPressed)
        lastClicked.reset();
    mouseLocation = QPointF(std::trunc(point.x()), std::trunc(point.y()));
    if (deferPointerOverlay)
        return;
    if (imageViews.empty() || drawingRoi)
        hidePointerOverlay();
    else
        updatePointerOverlay();
}

void VistraleViewController::notifySpaceChange()
{
    const QList<Window> onScreen = copyWindowList(*platform.windowServer, true);
    for (const Window& window : onScreen) {
        auto found = highlightViews.find(window.windowNumber);
        if (found == highlightViews.end() || !isShared(window.windowNumber))
            continue;
        lastWindow = -1;
        const bool entireScreen = window.windowNumber == sharingEntireScreen;
        found->second->close();
        found->second = makeHighlight(window, false, entireScreen);
    }
}

void VistraleViewController::screenParametersChanged()
{
    screens = platform.screens->screens();
    std::weak_ptr<bool> token = alive;
    platform.clock->after(1.0, [this, token] {
        if (token.expired())
            return;
        screens = platform.screens->screens();
        if (imageViews.empty()) {
            positionShareWindow();
            return;
        }
        for (const auto& [number, highlight] : highlightViews)
            if (std::optional<QRectF> bounds = platform.windowServer->windowBounds(number))
                highlight->fitToWindow(*bounds);
    });
}

void VistraleViewController::setSmartScaling(bool on)
{
    smartScaling = on;
    for (auto it = positions.begin(); it != positions.end(); ++it)
        it->translate(1, 1);
}

QRectF VistraleViewController::layoutFrame(const QRectF& frame, qint64 windowNumber, bool skipFullFrame)
{
    if (!skipFullFrame) {
        if (auto full = fullscreenWindows.find(windowNumber); full != fullscreenWindows.end()) {
            if (full->second == 1 && isShared(windowNumber)) {
                full->second = 2;
                imageView(windowNumber)->fullFrameLook();
            }
            return realRect;
        }
    }
    const FrameLayout layout
        = vistrale::layoutFrame(LayoutInput{screens, camWidth, camHeight, smartScaling, false}, frame);
    // The pointer overlay takes this scale once it exists; unchanged rectangles keep it.
    if (layout.pointerScale > 0)
        cursorScale = layout.pointerScale;
    return layout.frame;
}

bool VistraleViewController::clickInPreview(bool shift, bool command, QPointF point)
{
    if (!hasScreenPermission) {
        showPermissionDialog();
        return false;
    }
    // At full size the webcam lies behind the windows and takes no clicks.
    const bool onWebcam
        = webcamOverlay && !webcamOverlay->webcamFullScreen && webcamOverlay->containsOutputPoint(point);
    if (onWebcam) {
        webcamClicked(shift);
        return true;
    }
    if (sharingEntireScreen) {
        removeAllWindows();
        sharingEntireScreen = 0;
        displayId.reset();
        return true;
    }
    SKImageView* hit = nullptr;
    qint64 hitNumber = 0;
    double highest = -10;
    for (const auto& [number, view] : imageViews) {
        if (view->layer()->frame().contains(point) && view->layer()->zPosition() > highest) {
            highest = view->layer()->zPosition();
            hit = view.get();
            hitNumber = number;
        }
    }
    if (!hit) {
        if (!onWebcam)
            return false;
        webcamClicked(shift);
        return true;
    }
    if (!command) {
        removeWindow(hitNumber);
    } else {
        const QColor colour = hit->nextBorderColor();
        if (HighlightWindowController* highlight = highlightView(hitNumber))
            highlight->setBorderColor(colour);
    }
    return true;
}

SKImageView* VistraleViewController::imageView(qint64 windowNumber) const
{
    auto found = imageViews.find(windowNumber);
    return found == imageViews.end() ? nullptr : found->second.get();
}

HighlightWindowController* VistraleViewController::highlightView(qint64 windowNumber) const
{
    auto found = highlightViews.find(windowNumber);
    return found == highlightViews.end() ? nullptr : found->second.get();
}

std::optional<QRectF> VistraleViewController::hitRegion(const Window& window) const
{
    // A window with a region box is under the pointer only inside that box.
    if (const std::optional<QRectF> crop = cropFor(window.windowNumber))
        return crop->translated(window.frame.topLeft());
    return std::nullopt;
}

} // namespace vistrale
