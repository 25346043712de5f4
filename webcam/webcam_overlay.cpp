#include "webcam/webcam_overlay.h"

#include "app/settings/geometry_strings.h"
#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/webcam/webcam_fit.h"
#include "preview/scene.h"
#include "preview/view_tags.h"
#include "webcam/documents_directory.h"
#include "webcam/webcam_pictures.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <cmath>

namespace vistrale {
namespace {

constexpr double DEFAULT_CORNER_RADIUS = 15.0;
constexpr double FADED_ALPHA = 0.2;
constexpr double ANIMATION_SECONDS = 0.25;
constexpr double APPLY_AFTER_START = 0.5;
constexpr int FIRST_CAMERA_TAG = 400;
const char* const AVATAR_FILE = "camerapicture.png";

} // namespace

// What the camera's thread and the main thread share about the running stream.
struct WebcamOverlay::Feed {
    std::mutex lock;
    // Frames of older streams are dropped.
    quint64 generation = 0;
    QSize box;
    bool mirrored = false;
    FrameRef latest;
    bool posted = false;
    // Camera thread only.
    WebcamFrameFitter fitter;
};

WebcamOverlay::WebcamOverlay(Platform& platform, Settings& settings, Scene& scene, QSizeF output, Hooks hooks)
    : platform(platform)
    , settings(settings)
    , scene(scene)
    , output(output)
    , hooks(std::move(hooks))
    , feed(std::make_shared<Feed>())
{
    webcamView = std::make_shared<SceneLayer>("webcamView");
    webcamView->setTag(WEBCAM_TAG);
    webcamView->setHidden(true);
    picture = std::make_shared<SceneLayer>("webcamPicture");
    picture->setFollowsParentBounds(QMarginsF());
    picture->setBackgroundColor(Qt::black);
    picture->setMasksToBounds(true);
    picture->setContentsGravity(ContentsGravity::ResizeAspectFill);
    webcamView->addChild(picture);

    const double size = settings.doubleValue(keys::CAMERA_SIZE);
    cameraSize = size < 0 ? FULL_SIZE : std::min(size, 2.0);
    previousCameraSizeBeforeFullScreen = cameraSize;
    webcamShape = cameraShapeFrom(settings.integer(keys::CAMERA_SHAPE));
    cameraBorderWidth = std::clamp(settings.floatValue(keys::CAMERA_BORDER_WIDTH), 0.0f, 32.0f);
    cameraBorderColor = borderColorSetting(settings);
    feed->mirrored = settings.boolValue(keys::MIRROR_WEBCAM);
}

WebcamOverlay::~WebcamOverlay()
{
    *alive = false;
    if (platform.webcams)
        platform.webcams->setCamerasChanged({});
    stopStream();
}

bool WebcamOverlay::isVisible() const
{
    return !webcamView->isHidden();
}

double WebcamOverlay::cornerRadius() const
{
    return std::clamp(settings.doubleValue(keys::CAMERA_CORNER_RADIUS), 0.0, 64.0);
}

void WebcamOverlay::build()
{
    if (!settings.contains(keys::CAMERA_CORNER_RADIUS))
        settings.setDouble(keys::CAMERA_CORNER_RADIUS, DEFAULT_CORNER_RADIUS);
    WEBCAM_HEIGHT_RATIO = cameraSize == FULL_SIZE ? 1.0 : MIN_RATIO + cameraSize;
    webcamHeight = output.height() / WEBCAM_HEIGHT_RATIO;
    const QSizeF size = webcamFrameSize(webcamShape, webcamHeight);
    setFrame(storedOrDefaultFrame(size));
    const bool on = settings.boolValue(keys::CAMERA);
    webcamView->setHidden(!on);
    updateWebcamMask(size);
    applyCameraSize();
    if (platform.webcams) {
        std::weak_ptr<bool> token = alive;
        platform.webcams->setCamerasChanged([this, token, &clock = *platform.clock] {
            clock.postToMain([this, token] {
                if (!token.expired())
                    listCameras();
            });
        });
    }
    listCameras();
    if (on)
        startCameraIfPermitted();
}

QRectF WebcamOverlay::storedOrDefaultFrame(QSizeF size) const
{
    QPointF origin = defaultWebcamOrigin(webcamShape, size, output.width());
    if (const std::optional<QString> stored = settings.text(keys::CAMERA_OFFSET)) {
        if (const std::optional<QPointF> point = parsePointString(*stored))
            origin = *point;
        else
            logLine("camera-offset not usable: ", printableText(*stored));
    }
    // A stored place off the output (another resolution) comes back on it.
    return QRectF(keptOnOutput(origin, size), size);
}

QPointF WebcamOverlay::keptOnOutput(QPointF origin, QSizeF size) const
{
    return {std::clamp(origin.x(), -size.width() / 2, output.width() - size.width() / 2),
        std::clamp(origin.y(), -size.height() / 2, output.height() - size.height() / 2)};
}

Qt::CursorShape WebcamOverlay::pointerShape(QPointF outputPoint) const
{
    if (webcamFullScreen || !containsOutputPoint(outputPoint))
        return Qt::ArrowCursor;
    const QRectF frame = webcamView->frame();
    if (!pointOnResizeZone(webcamShape, frame, outputPoint))
        return Qt::OpenHandCursor;
    const double dx = outputPoint.x() - frame.center().x();
    const double dy = outputPoint.y() - frame.center().y();
    if (std::abs(dx) > 2 * std::abs(dy))
        return Qt::SizeHorCursor;
    if (std::abs(dy) > 2 * std::abs(dx))
        return Qt::SizeVerCursor;
    // Output y grows upwards: up and right is the "/" diagonal on the screen.
    return dx * dy > 0 ? Qt::SizeBDiagCursor : Qt::SizeFDiagCursor;
}

bool WebcamOverlay::beginDrag(QPointF outputPoint)
{
    firstMouseDownPoint.reset();
    if (webcamFullScreen || !containsOutputPoint(outputPoint))
        return false;
    firstMouseDownPoint = outputPoint;
    dragStartOrigin = webcamView->frame().topLeft();
    const QRectF frame = webcamView->frame();
    resizingDistance = pointOnResizeZone(webcamShape, frame, outputPoint)
        ? std::hypot(outputPoint.x() - frame.center().x(), outputPoint.y() - frame.center().y())
        : -1.0;
    resizeStartSize = cameraSize;
    return true;
}

void WebcamOverlay::dragTo(QPointF outputPoint)
{
    if (!firstMouseDownPoint || webcamFullScreen)
        return;
    if (resizingDistance > 0) {
        // The size follows the pointer's distance from the centre, which stays put.
        const QPointF centre = webcamView->frame().center();
        const double next = sizeAfterResize(resizeStartSize, resizingDistance,
            std::hypot(outputPoint.x() - centre.x(), outputPoint.y() - centre.y()));
        if (next != cameraSize) {
            cameraSize = next;
            applyCameraSize();
        }
        return;
    }
    const QSizeF size = webcamView->frame().size();
    setFrame(QRectF(keptOnOutput(dragStartOrigin + (outputPoint - *firstMouseDownPoint), size), size));
}

void WebcamOverlay::endDrag()
{
    if (!firstMouseDownPoint)
        return;
    firstMouseDownPoint.reset();
    resizingDistance = -1.0;
    if (!webcamFullScreen)
        writeOffset(webcamView->frame().topLeft());
}

void WebcamOverlay::writeOffset(QPointF origin)
{
    settings.setText(keys::CAMERA_OFFSET, pointString(origin));
}

void WebcamOverlay::setFrame(const QRectF& frame)
{
    webcamView->setFrame(frame);
    setFeedBox(frame.size().toSize());
}

void WebcamOverlay::setFeedBox(QSize box)
{
    {
        std::lock_guard guard(feed->lock);
        feed->box = box;
    }
    // The camera scales its pictures down to this size on the way in.
    if (stream)
        stream->fitPicturesTo(box);
}

bool WebcamOverlay::toggleWebcam()
{
    const bool was = settings.boolValue(keys::CAMERA);
    settings.setBool(keys::CAMERA, !was);
    if (hooks.switched)
        hooks.switched(!was);
    webcamView->setHidden(was);
    if (!was) {
        webcamHeight = output.height() / WEBCAM_HEIGHT_RATIO;
        const double w = webcamHeight * 16 / 9;
        const double h = webcamHeight;
        QPointF origin(
            output.width() - WEBCAM_MARGIN - w + (webcamShape != CameraShape::normal ? (w - h) / 2 : 0), WEBCAM_MARGIN);
        if (const std::optional<QString> stored = settings.text(keys::CAMERA_OFFSET))
            origin = parsePointString(*stored).value_or(origin);
        setFrame(QRectF(origin, QSizeF(w, h)));
        applyCameraSize();
        startCameraIfPermitted();
    } else {
        webcamOn = false;
        stopStream();
        picture->setContents(QImage());
        showingStill = false;
    }
    return !was;
}

void WebcamOverlay::switchOnIfOff()
{
    if (!settings.boolValue(keys::CAMERA))
        toggleWebcam();
}

void WebcamOverlay::startCameraIfPermitted()
{
    if (settings.text(keys::CAMERA_ID) == QString(AVATAR_CAMERA_ID)) {
        showAvatar();
        return;
    }
    // Access is learnt by trying: a refused camera reports it, and the permission
    // picture comes back.
    isCameraDenied = false;
    startWebcam();
}

void WebcamOverlay::listCameras()
{
    sources = {WebcamInfo{AVATAR_CAMERA_ID, QObject::tr("Avatar")}};
    if (platform.webcams) {
        for (const WebcamInfo& camera : platform.webcams->cameras())
            if (!isVistraleOwnCamera(camera.name))
                sources.push_back(camera);
    }
    if (hooks.cameraSources)
        hooks.cameraSources(
            sources, currentId.isEmpty() ? settings.text(keys::CAMERA_ID).value_or(QString()) : currentId);
}

void WebcamOverlay::startWebcam()
{
    stopStream();
    showingStill = false;
    listCameras();
    const QString wanted = settings.text(keys::CAMERA_ID).value_or(QString());
    QString chosen;
    for (std::size_t i = 1; i < sources.size(); ++i) {
        if (sources[i].id == wanted) {
            chosen = wanted;
            break;
        }
    }
    // The saved camera is missing: the first one there is (never Vistrale's own, which
    // is not listed).
    if (chosen.isEmpty() && sources.size() > 1)
        chosen = sources[1].id;
    if (chosen.isEmpty()) {
        logLine("no camera found");
        showStill(cameraProblemPicture(QObject::tr("No camera found")), true);
        return;
    }
    currentId = chosen;
    startStream(chosen);
    picture->setContents(QImage());
    webcamOn = true;
    if (hooks.cameraSources)
        hooks.cameraSources(sources, currentId);
    std::weak_ptr<bool> token = alive;
    platform.clock->after(APPLY_AFTER_START, [this, token] {
        if (!token.expired())
            applyCameraSize();
    });
}

void WebcamOverlay::startStream(const QString& id)
{
    stopStream();
    if (!platform.webcams)
        return;
    quint64 generation;
    {
        std::lock_guard guard(feed->lock);
        generation = ++feed->generation;
    }
    std::weak_ptr<bool> token = alive;
    Clock& clock = *platform.clock;
    std::shared_ptr<Feed> shared = feed;
    stream = platform.webcams->start(
        id,
        [this, shared, generation, token, &clock](FrameRef frame) {
            QSize box;
            bool mirrored;
            {
                std::lock_guard guard(shared->lock);
                if (shared->generation != generation)
                    return;
                box = shared->box;
                mirrored = shared->mirrored;
            }
            FrameRef fitted = shared->fitter.fit(frame, box, mirrored);
            {
                std::lock_guard guard(shared->lock);
                if (shared->generation != generation)
                    return;
                shared->latest = std::move(fitted);
                if (shared->posted)
                    return;
                shared->posted = true;
            }
            clock.postToMain([this, token] {
                if (!token.expired())
                    showLatestFrame();
            });
        },
        [this, generation, token, &clock](WebcamFailure failure, const QString& detail) {
            clock.postToMain([this, token, generation, failure, detail] {
                if (!token.expired())
                    failed(generation, failure, detail);
            });
        });
    if (!stream) {
        logLine("webcam not found: ", printableText(id));
        return;
    }
    std::lock_guard guard(feed->lock);
    stream->fitPicturesTo(feed->box);
}

void WebcamOverlay::stopStream()
{
    if (stream) {
        stream->stop();
        stream.reset();
    }
    std::lock_guard guard(feed->lock);
    ++feed->generation;
    feed->latest.reset();
    feed->posted = false;
}

void WebcamOverlay::showLatestFrame()
{
    FrameRef frame;
    {
        std::lock_guard guard(feed->lock);
        frame = std::move(feed->latest);
        feed->posted = false;
    }
    if (frame && !showingStill && stream)
        picture->setContents(frame->image);
}

void WebcamOverlay::failed(quint64 generation, WebcamFailure failure, const QString& detail)
{
    {
        std::lock_guard guard(feed->lock);
        if (generation != feed->generation)
            return;
    }
    logLine("webcam " + webcamFailureText(failure) + ": ", printableText(detail));
    if (failure == WebcamFailure::Denied) {
        isCameraDenied = true;
        showCameraPermissionImage();
        return;
    }
    stopStream();
    showStill(cameraProblemPicture(failure == WebcamFailure::Busy ? QObject::tr("The camera is used by another program")
                                                                  : QObject::tr("The camera is gone")),
        true);
}

void WebcamOverlay::switchCamera(const QString& id)
{
    settings.setText(keys::CAMERA_ID, id);
    settings.setBool(keys::CAMERA, true);
    settings.sync();
    startCameraIfPermitted();
    if (hooks.switched)
        hooks.switched(true);
    currentId = id;
    webcamView->setHidden(false);
    if (hooks.cameraSources)
        hooks.cameraSources(sources, currentId);
}

void WebcamOverlay::pickCamera(int tag)
{
    const int index = tag - FIRST_CAMERA_TAG;
    if (index < 0 || index >= static_cast<int>(sources.size()))
        return;
    switchCamera(sources[static_cast<std::size_t>(index)].id);
}

void WebcamOverlay::applyCameraSize()
{
    settings.setDouble(keys::CAMERA_SIZE, cameraSize);
    WEBCAM_HEIGHT_RATIO = MIN_RATIO + cameraSize;
    if (cameraSize == FULL_SIZE) {
        WEBCAM_HEIGHT_RATIO = 1.0;
        webcamHeight = output.height();
        webcamView->setTag(WEBCAM_TAG_BEHIND);
        makeWebcamFullSize();
        return;
    }
    webcamView->setTag(WEBCAM_TAG);
    webcamFullScreen = false;
    webcamHeight = output.height() / WEBCAM_HEIGHT_RATIO;
    const QPointF centre = webcamView->frame().center();
    const QSizeF size = webcamFrameSize(webcamShape, webcamHeight);
    const QPointF origin(centre.x() - size.width() / 2, centre.y() - size.height() / 2);
    writeOffset(origin);
    updateWebcamMask(size);
    setFrame(QRectF(origin, size));
}

void WebcamOverlay::makeWebcamFullSize()
{
    webcamFullScreen = true;
    updateWebcamMask(output);
    const QRectF whole(QPointF(0, 0), output);
    setFeedBox(output.toSize());
    scene.animate(webcamView, whole, std::nullopt, ANIMATION_SECONDS, AnimationTiming::EaseInEaseOut);
}

void WebcamOverlay::updateWebcamMask(QSizeF size)
{
    const bool full = cameraSize == FULL_SIZE;
    const QRectF shape = visibleShapeRect(webcamShape, size, full);
    picture->setMaskRect(size.isEmpty() ? QRectF(0, 0, 1, 1)
                                        : QRectF(shape.x() / size.width(), shape.y() / size.height(),
                                            shape.width() / size.width(), shape.height() / size.height()));
    const bool round = !full && webcamShape == CameraShape::round;
    picture->setMask(round ? LayerMask::Ellipse : LayerMask::None);
    picture->setCornerRadius(full || round ? 0.0 : cornerRadius());
    picture->setBorderWidth(full ? 0.0 : cameraBorderWidth);
    picture->setBorderColor(cameraBorderColor);
}

void WebcamOverlay::changeCameraSize(int segment)
{
    previousCameraSizeBeforeFullScreen = cameraSize;
    cameraSize = sizeAfterSegment(cameraSize, segment);
    applyCameraSize();
    switchOnIfOff();
}

void WebcamOverlay::stepCameraSize(bool grow)
{
    if (!isVisible())
        return;
    cameraSize = sizeAfterStep(cameraSize, grow);
    applyCameraSize();
    switchOnIfOff();
}

void WebcamOverlay::toggleFullscreenWebcam()
{
    if (cameraSize != FULL_SIZE) {
        previousCameraSizeBeforeFullScreen = cameraSize;
        writeOffset(webcamView->frame().topLeft());
        cameraSize = FULL_SIZE;
        applyCameraSize();
    } else {
        const std::optional<QPointF> stored = parsePointString(settings.text(keys::CAMERA_OFFSET).value_or(QString()));
        cameraSize = previousCameraSizeBeforeFullScreen == FULL_SIZE ? 0.0 : previousCameraSizeBeforeFullScreen;
        applyCameraSize();
        if (stored) {
            setFrame(QRectF(*stored, webcamView->frame().size()));
            writeOffset(*stored);
        }
    }
    switchOnIfOff();
}

void WebcamOverlay::webcamClicked(bool shift)
{
    if (isCameraDenied) {
        if (confirmationDialog(*platform.dialogs, QObject::tr("Info"),
                QObject::tr("Vistrale needs your permission to access your camera"), QObject::tr("Open Preferences"),
                QObject::tr("Cancel")))
            platform.systemActions->openSettingsPage(
                "x-apple.systempreferences:com.apple.preference.security?Privacy_Camera");
        return;
    }
    if (shift) {
        setCameraShape(static_cast<CameraShape>((static_cast<int>(webcamShape) + 1) % 4));
        return;
    }
    cameraSize = sizeAfterClick(cameraSize);
    WEBCAM_HEIGHT_RATIO = MIN_RATIO + cameraSize;
    applyCameraSize();
}

void WebcamOverlay::setCameraShape(CameraShape shape)
{
    settings.setInteger(keys::CAMERA_SHAPE, static_cast<int>(shape));
    webcamShape = shape;
    if (showingStill)
        picture->setContentsGravity(shape == CameraShape::square || shape == CameraShape::round
                ? ContentsGravity::ResizeAspect
                : ContentsGravity::ResizeAspectFill);
    applyCameraSize();
    switchOnIfOff();
}

void WebcamOverlay::setBorderWidth(double width)
{
    cameraBorderWidth = static_cast<float>(std::clamp(width, 0.0, 32.0));
    settings.setDouble(keys::CAMERA_BORDER_WIDTH, cameraBorderWidth);
    if (!webcamFullScreen)
        picture->setBorderWidth(cameraBorderWidth);
    switchOnIfOff();
}

void WebcamOverlay::setCornerRadius(double radius)
{
    settings.setDouble(keys::CAMERA_CORNER_RADIUS, std::clamp(radius, 0.0, 64.0));
    applyCameraSize();
    switchOnIfOff();
}

void WebcamOverlay::setBorderColor(const QColor& color)
{
    if (!color.isValid())
        return;
    cameraBorderColor = color;
    settings.setData(keys::CAMERA_BORDER_COLOR, archiveColor(color));
    picture->setBorderColor(color);
}

void WebcamOverlay::toggleWebcamMirror()
{
    const bool mirrored = settings.toggle(keys::MIRROR_WEBCAM);
    std::lock_guard guard(feed->lock);
    feed->mirrored = mirrored;
}

bool WebcamOverlay::containsOutputPoint(QPointF point) const
{
    return isVisible() && pointOnWebcam(webcamShape, webcamView->frame(), point);
}

bool WebcamOverlay::isPointOverWebcam(QPointF screenPoint, QSizeF screenSize) const
{
    if (screenSize.isEmpty())
        return false;
    const QPointF point(
        output.width() * screenPoint.x() / screenSize.width(), output.height() * screenPoint.y() / screenSize.height());
    return containsOutputPoint(point);
}

void WebcamOverlay::fadeStep(bool pointerOverSharedWindow, QPointF pointer)
{
    const bool over = isVisible() && !webcamFullScreen && pointerOverSharedWindow && containsOutputPoint(pointer);
    if (over == webcamFaded)
        return;
    webcamFaded = over;
    scene.animate(webcamView, std::nullopt, over ? FADED_ALPHA : 1.0, ANIMATION_SECONDS, AnimationTiming::Linear);
}

void WebcamOverlay::dragHint(std::optional<QPointF> outputPoint)
{
    if (!isVisible())
        return;
    const bool over = outputPoint && (webcamFullScreen || webcamView->frame().contains(*outputPoint));
    webcamView->setOpacity(over ? 0.5 : 1.0);
}

void WebcamOverlay::showStill(const QImage& image, bool aspectFit)
{
    stopStream();
    showingStill = true;
    picture->setContentsGravity(aspectFit ? ContentsGravity::ResizeAspect : ContentsGravity::ResizeAspectFill);
    picture->setContents(image);
}

void WebcamOverlay::showCameraPermissionImage()
{
    showStill(cameraPermissionPicture(), true);
    switchOnIfOff();
}

void WebcamOverlay::showAvatar()
{
    QImage image = defaultAvatarPicture();
    if (const std::optional<QString> name = settings.text(keys::CAMERA_PICTURE)) {
        const QString path = QDir(documentsDirectory()).filePath(QFileInfo(*name).fileName());
        QString why;
        const QImage chosen = readPictureFile(path, &why);
        if (!chosen.isNull())
            image = chosen;
        else
            logLine("avatar picture not readable: ", printableText(why));
    }
    currentId = AVATAR_CAMERA_ID;
    showStill(image, webcamShape == CameraShape::square || webcamShape == CameraShape::round);
    switchOnIfOff();
}

bool WebcamOverlay::setAvatarImage(const QString& path)
{
    QString why;
    const QImage image = readPictureFile(path, &why);
    if (image.isNull()) {
        logLine("image not supported");
        logLine("avatar refused: ", printableText(path) + ": " + printableText(why));
        std::weak_ptr<bool> token = alive;
        platform.clock->after(0, [this, token] {
            if (!token.expired())
                informationAlert(
                    *platform.dialogs, QObject::tr("Vistrale"), QObject::tr("Only images are supported for avatars"));
        });
        return false;
    }
    const QString copy = QDir(documentsDirectory()).filePath(AVATAR_FILE);
    QFile::remove(copy);
    // The decoded picture is written, not the file: what is kept is known to load.
    if (!image.save(copy, "PNG"))
        logLine("avatar copy not written: ", copy);
    settings.setText(keys::CAMERA_PICTURE, AVATAR_FILE);
    switchCamera(AVATAR_CAMERA_ID);
    return true;
}

void WebcamOverlay::setOutputSize(QSizeF size)
{
    if (size.isEmpty() || size == output)
        return;
    const QPointF relative(
        webcamView->frame().center().x() / output.width(), webcamView->frame().center().y() / output.height());
    output = size;
    if (cameraSize == FULL_SIZE) {
        makeWebcamFullSize();
        return;
    }
    // The webcam keeps its relative place and its share of the output's height.
    const QSizeF frameSize = webcamFrameSize(webcamShape, output.height() / WEBCAM_HEIGHT_RATIO);
    setFrame(QRectF(QPointF(relative.x() * size.width() - frameSize.width() / 2,
                        relative.y() * size.height() - frameSize.height() / 2),
        frameSize));
    applyCameraSize();
}

} // namespace vistrale
