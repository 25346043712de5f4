#include "preview/vistrale_view_controller.h"

#include "app/settings/geometry_strings.h"
#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "captions/captions.h"
#include "captions/recording_transcript.h"
#include "documents/web_pages.h"
#include "documents/clipboard_link_opener.h"
#include "overlays/cursor_window_controller.h"
#include "overlays/highlight_window_controller.h"
#include "overlays/magnifier_view.h"
#include "overlays/my_cursor_image_view.h"
#include "platform/capture.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/platform.h"
#include "preview/backdrop.h"
#include "preview/capture_mode.h"
#include "preview/desktop_geometry.h"
#include "preview/output_geometry.h"
#include "preview/preview_content_view.h"
#include "preview/share_window_view.h"
#include "preview/sk_image_view.h"
#include "preview/text_picture.h"
#include "preview/view_tags.h"
#include "preview/window_drag_view.h"
#include "recording/recording_controller.h"
#include "webcam/backdrops.h"
#include "webcam/webcam_overlay.h"

#include <QPushButton>
#include <cmath>

namespace vistrale {

bool USE_SCREENCAPTUREKIT = false;

VistraleViewController::VistraleViewController(Platform& platform, Settings& settings, ApplicationHost* host)
    : platform(platform)
    , settings(settings)
    , host(host)
{
    camWidth = OUTPUT_RESOLUTION[0];
    camHeight = OUTPUT_RESOLUTION[1];
    previewRect = previewRectFor(camWidth, camHeight);
    realRect = QRectF(0, 0, camWidth, camHeight);
    outputSize = realRect.size();
    logoFontSize = std::trunc(camWidth * 48 / 1920);
    screens = platform.screens->screens();

    const qint64 lines = settings.integer(keys::SPEECH_LINES);
    speechVisibleLines = lines >= 1 ? static_cast<int>(std::min<qint64>(lines, 3)) : 3;
    includeMouseClicks = !settings.boolValue(keys::MOUSE_CLICKS_OFF);
    smartScaling = settings.boolValue(keys::SMART_SCALING);
    mirrorVistraleCamera = settings.boolValue(keys::MIRROR);
}

VistraleViewController::~VistraleViewController()
{
    *alive = false;
    // The recorder goes first: no frame reaches it once it is gone.
    setRecorderSink({});
    recordingController.reset();
    // No tick may start once teardown begins; the timer thread is joined here.
    dispatchSourceTimer.reset();
    slowtimer.reset();
    shutDownCamera();
    for (auto& entry : streams)
        entry.second->stop();
    streams.clear();
    if (keyboardObserver)
        NotificationCenter::defaultCenter().removeObserver(keyboardObserver);
    if (progressObserver)
        NotificationCenter::defaultCenter().removeObserver(progressObserver);
    tearDownPointerOverlay();
    if (mouseEventsRegistered)
        platform.pointerKeys->setGlobalMonitor({});
    platform.windowServer->setDesktopChangeHandler({});
    platform.screens->setChangeHandler({});
    for (auto& [number, highlight] : highlightViews)
        highlight->close();
    highlightViews.clear();
    // The compositor thread must stop before the views it feeds go away.
    panelCompositor.reset();
    delete contentView.data();
}

QWidget* VistraleViewController::view()
{
    if (!contentView) {
        loadView();
        viewDidLoad();
    }
    return contentView;
}

void VistraleViewController::loadView()
{
    auto* content = new PreviewContentView();
    content->resize(previewRect.size().toSize());
    content->setResizeHandler([this] { layoutPreviewControls(); });
    contentView = content;
}

void VistraleViewController::viewDidLoad()
{
    // Global pointer and key monitors arrive with window picking.

    USE_SCREENCAPTUREKIT = decideCaptureMode(settings, *platform.windowServer, platform.capture.get());
    if (USE_SCREENCAPTUREKIT) {
        // Live streams feed the preview; the slow timer has nothing to image.
        PREVIEW_CAPTURE_INTERVAL = 1.0;
        logLine("USE_SCREENCAPTUREKIT=", true);
        logLine("PREVIEW_CAPTURE_INTERVAL=", PREVIEW_CAPTURE_INTERVAL);
    } else {
        logLine("USE_SCREENCAPTUREKIT=", false);
    }

    connectToVistraleCamera();
    setUpViews();

    // The share window's frames come from its compositor in both modes.
    captureStarted = true;

    // The welcome waits while the user deals with the camera's installation.
    if (!offerCameraInstall())
        firstLaunchCheck();

    hasScreenPermission = platform.permissions->screenCaptureAllowed();
    captureVideoPreview->setNoPermissionText(hasScreenPermission ? QString() : tr("Need Screen Permissions"));
    cameraSwitch->setVisible(hasScreenPermission);
    ccButton->setVisible(hasScreenPermission);
    logLine("hasScreenPermission=", hasScreenPermission);
}

void VistraleViewController::setUpViews()
{
    buildShareWindow();

    defaultImage = loadDefaultImage(settings.text(keys::BACKGROUND));
    const QList<ScreenInfo> present = platform.screens->screens();
    if (present.isEmpty()) {
        screenWidth = 1920;
        screenHeight = 1080;
    } else {
        screenWidth = present.first().frame.width();
        screenHeight = present.first().frame.height();
    }
    if (const std::optional<QRectF> frame = storedPreviewFrame(settings.text(keys::PREVIEW_FRAME), present))
        previewRect = QRectF(QPointF(0, 0), frame->size());
    contentView->resize(previewRect.size().toSize());
    buildPreview();

    desktopView->setContents(defaultImage);
    setUpBackdrops();
    setUpRecording();
    logLine("cursorScale=", present.isEmpty() ? 1.0 : camWidth / screenWidth);
    setUpPointerOverlay();
    setUpDocuments();
    layoutPreviewControls();

    std::weak_ptr<bool> token = alive;
    keyboardObserver
        = NotificationCenter::defaultCenter().addObserver("keyboard", [this, token](const QVariantMap& info) {
              if (!token.expired())
                  receivedKeyboardMessage(info);
          });
    platform.windowServer->setDesktopChangeHandler([this, token] {
        if (!token.expired())
            notifySpaceChange();
    });
    platform.screens->setChangeHandler([this, token] {
        if (!token.expired())
            screenParametersChanged();
    });
    sound = platform.sounds->load("Funk");
    soundScreenshot = platform.sounds->load("Grab");
    startTimers();
}

void VistraleViewController::buildShareWindow()
{
    scene = std::make_unique<Scene>(*platform.clock, realRect.size().toSize());
    panelCompositor = std::make_unique<Compositor>(*platform.clock);
    std::weak_ptr<bool> token = alive;
    panelCompositor->setFrameHandler([this, token](FrameRef frame) {
        if (!token.expired())
            panelFrameArrived(std::move(frame));
    });
    scene->setSnapshotHandler([this](DrawListRef list) {
        panelCompositor->submit(std::move(list));
        streamFramesShown();
    });

    shareWindow = std::make_unique<ShareWindowView>(realRect.size().toSize());
    shareWindow->setWindowTitle(tr("Vistrale Share"));
    panelWindowID = static_cast<qint64>(shareWindow->winId());
    positionShareWindow();

    SceneLayer& content = scene->root();
    content.setBackgroundColor(Qt::black);

    desktopView = std::make_shared<SceneLayer>("desktopView");
    desktopView->setTag(DESKTOP_TAG);
    desktopView->setFrame(realRect);
    desktopView->setContentsGravity(ContentsGravity::ResizeAspectFill);
    desktopView->setMasksToBounds(true);
    content.addChild(desktopView);

    videoDesktopView = std::make_shared<SceneLayer>("videoDesktopView");
    videoDesktopView->setTag(DESKTOP_TAG);
    videoDesktopView->setFrame(realRect);
    videoDesktopView->setHidden(true);
    content.addChild(videoDesktopView);

    windowsView = std::make_shared<SceneLayer>("windowsView");
    windowsView->setTag(WINDOWS_TAG);
    windowsView->setFrame(realRect);
    content.addChild(windowsView);

    WebcamOverlay::Hooks hooks;
    hooks.cameraSources = [this](const std::vector<WebcamInfo>& sources, const QString& current) {
        if (host)
            host->setCameraSources(sources, current);
    };
    hooks.switched = [this](bool on) {
        if (cameraSwitch)
            cameraSwitch->setChecked(on);
    };
    webcamOverlay = std::make_unique<WebcamOverlay>(platform, settings, *scene, realRect.size(), std::move(hooks));
    webcamView = webcamOverlay->view();
    content.addChild(webcamView);

    setUpCaptions(content);

    logoLayer = std::make_shared<SceneLayer>("logoLayer");
    logoLayer->setTag(TEXT_OVERLAY_TAG);
    logoLayer->setFrame(QRectF(9, 9, camWidth, std::trunc(1.25 * logoFontSize)));
    content.addChild(logoLayer);
    setOverlayText(settings.text(keys::OVERLAY_TEXT).value_or(QString()));

    webcamOverlay->build();
}

std::optional<QPointF> VistraleViewController::previewToOutput(QPointF position) const
{
    // Preview points (top-left origin) to output points (bottom-left origin).
    const QSizeF size = captureVideoPreview ? captureVideoPreview->size() : QSizeF();
    if (size.isEmpty())
        return std::nullopt;
    return QPointF(position.x() * camWidth / size.width(), (size.height() - position.y()) * camHeight / size.height());
}

void VistraleViewController::buildPreview()
{
    captureVideoPreview = new WindowDragView(contentView);
    captureVideoPreview->setGeometry(QRect(QPoint(0, 0), previewRect.size().toSize()));
    captureVideoPreview->setDefaultImage(defaultImage);
    captureVideoPreview->setContextMenuHandler([this](QPoint position) {
        if (host)
            host->popUpMenu(position);
    });
    captureVideoPreview->setClickHandler([this](QPointF position, Qt::KeyboardModifiers modifiers) {
        if (const std::optional<QPointF> output = previewToOutput(position))
            clickInPreview(modifiers & Qt::ShiftModifier, modifiers & Qt::MetaModifier, *output);
    });
    captureVideoPreview->setPressHandler([this](QPointF position) {
        const std::optional<QPointF> output = previewToOutput(position);
        return output && mouseDownInPreview(*output);
    });
    captureVideoPreview->setDragHandler([this](QPointF position, bool released) {
        if (released)
            mouseUpInPreview();
        else if (const std::optional<QPointF> output = previewToOutput(position))
            mouseDraggedInPreview(*output);
    });

    closeButton = new QPushButton(QStringLiteral("●"), contentView);
    closeButton->setObjectName("closeButton");
    closeButton->setProperty("tag", CLOSE_BUTTON_TAG);
    closeButton->setFlat(true);
    closeButton->setCursor(Qt::ArrowCursor);
    closeButton->setToolTip(tr("Hide the preview"));
    closeButton->setStyleSheet("QPushButton { color: red; background: transparent; border: none; font-size: 12px; }");
    connect(closeButton, &QPushButton::clicked, this, [this] { closeVistrale(); });

    // The webcam's on/off switch at the preview's top right.
    cameraSwitch = new QPushButton(tr("cam"), contentView);
    cameraSwitch->setObjectName("cameraSwitch");
    cameraSwitch->setProperty("tag", SWITCH_CAMERA_TAG);
    cameraSwitch->setCheckable(true);
    cameraSwitch->setChecked(settings.boolValue(keys::CAMERA));
    cameraSwitch->setCursor(Qt::ArrowCursor);
    cameraSwitch->setToolTip(tr("Webcam"));
    cameraSwitch->setStyleSheet(
        "QPushButton { color: white; background: rgba(0, 0, 0, 120); border: 1px solid gray;"
        " border-radius: 7px; font-size: 9px; padding: 0 4px; }"
        " QPushButton:checked { background: rgb(52, 199, 89); border-color: rgb(52, 199, 89); }");
    connect(cameraSwitch, &QPushButton::clicked, this, [this] { camToggled(); });
    buildCaptionButton();
    captureVideoPreview->setPointerShapeHandler([this](QPointF position) {
        const std::optional<QPointF> output = previewToOutput(position);
        return output && webcamOverlay ? webcamOverlay->pointerShape(*output) : Qt::ArrowCursor;
    });
    captureVideoPreview->setWheelHandler([this](double delta) {
        if (delta != 0)
            stepCameraSize(delta > 0);
    });
    captureVideoPreview->setKeyHandler([this](int key, const QString& text) {
        if (text == "+" || key == Qt::Key_Up) {
            stepCameraSize(true);
            return true;
        }
        if (text == "-" || key == Qt::Key_Down) {
            stepCameraSize(false);
            return true;
        }
        return false;
    });
}

void VistraleViewController::layoutPreviewControls()
{
    if (!contentView || !captureVideoPreview)
        return;
    const QSize size = contentView->size();
    captureVideoPreview->setGeometry(QRect(QPoint(0, 0), size));
    // (0, H − 24) with a bottom-left origin is the top-left corner.
    closeButton->setGeometry(0, 0, 24, 24);
    closeButton->raise();
    cameraSwitch->setGeometry(size.width() - 30 - 4, 4, 30, 16);
    cameraSwitch->raise();
    layoutCaptionButton();
}

void VistraleViewController::firstLaunchCheck()
{
    if (settings.boolValue(keys::ALREADY_SHOWN))
        return;
    settings.setBool(keys::ALREADY_SHOWN, true);
    std::weak_ptr<bool> token = alive;
    platform.clock->after(1.0, [this, token] {
        if (!token.expired() && host && SHOW_ABOUT_ON_LAUNCH)
            host->showAboutAlert();
    });
}

void VistraleViewController::setOverlayText(const QString& text)
{
    overlayText = text;
    if (!logoLayer)
        return;
    if (text.isEmpty()) {
        logoLayer->setHidden(true);
        logoLayer->setContents(QImage());
        return;
    }
    const QSize size = logoLayer->frame().size().toSize();
    logoLayer->setContents(renderTextPicture(text, size, logoFontSize, Qt::white, Qt::AlignLeft | Qt::AlignTop));
    logoLayer->setHidden(false);
}

void VistraleViewController::positionShareWindow()
{
    panelRect = parkedShareWindowFrame(platform.screens->screens(), realRect.size());
    if (shareWindow) {
        shareWindow->hide();
        shareWindow->setGeometry(qtGeometryFromFrame(panelRect));
    }
}

bool VistraleViewController::shareWindowWhollyOnScreen() const
{
    return liesWhollyOnScreen(platform.screens->screens(), panelRect);
}

void VistraleViewController::toggleShareWindowVisibility()
{
    if (shareWindowWhollyOnScreen()) {
        positionShareWindow();
        return;
    }
    panelRect.moveTopLeft(QPointF(0, 0));
    shareWindow->setGeometry(qtGeometryFromFrame(panelRect));
    if (const FrameRef frame = lastCapturedFrame().surface)
        shareWindow->showFrame(frame);
    shareWindow->show();
    shareWindow->raise();
}

void VistraleViewController::showPermissionDialog()
{
    if (confirmationDialog(*platform.dialogs, tr("Info"), tr("Vistrale needs your permission to record your screen"),
            tr("Open Preferences"), tr("Cancel")))
        platform.systemActions->openSettingsPage(
            "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
}

void VistraleViewController::closeVistrale()
{
    windowShown = false;
    setPreviewWindowVisible(false);
}

void VistraleViewController::showWindow()
{
    windowShown = true;
    setPreviewWindowVisible(true);
}

void VistraleViewController::setPreviewWindowVisible(bool visible)
{
    if (!contentView)
        return;
    QWidget* window = contentView->window();
    if (!visible) {
        // The window keeps its place: it is only taken off the screen, never closed.
        hiddenPreviewGeometry = window->geometry();
        window->setWindowOpacity(0.0);
        window->hide();
        return;
    }
    if (hiddenPreviewGeometry.isValid())
        window->setGeometry(hiddenPreviewGeometry);
    window->setWindowOpacity(1.0);
    window->show();
    window->raise();
}

CapturedFrame VistraleViewController::lastCapturedFrame() const
{
    std::lock_guard guard(frameLock);
    return latestFrame;
}

void VistraleViewController::panelFrameArrived(FrameRef frame)
{
    // The output-frame thread, in this order: the latest frame, the recorder, the
    // camera, the preview. While the share window is rearranged nothing goes out.
    if (missionControl.load())
        return;
    {
        std::lock_guard guard(frameLock);
        latestFrame.surface = frame;
    }
    ++framesArrived;
    {
        std::lock_guard guard(recorderLock);
        if (recorderSink)
            recorderSink(frame);
    }
    handOff.offer(frame);
    if (captureVideoPreview)
        captureVideoPreview->showFrame(frame);
    if (shareWindow)
        shareWindow->showFrame(frame);
}

void VistraleViewController::setRecorderSink(std::function<void(const FrameRef&)> sink)
{
    std::lock_guard guard(recorderLock);
    recorderSink = std::move(sink);
}

void VistraleViewController::cameraSinkStarted(CameraHandOff::Sink sink)
{
    handOff.setSink(std::move(sink));
    if (const FrameRef frame = lastCapturedFrame().surface)
        panelFrameArrived(frame);
}

} // namespace vistrale
