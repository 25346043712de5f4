#pragma once

#include "platform/webcam.h"
#include "webcam/webcam_geometry.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vistrale {

struct Platform;
class Scene;
class SceneLayer;
class Settings;
class WebcamFrameFitter;

// The pseudo-camera that shows the avatar picture instead of a camera.
inline const char* const AVATAR_CAMERA_ID = "vistrale-custom-avatar";

// The webcam in the output: `webcamView` with the live camera picture (or the avatar,
// or the permission picture) in its shape, border and place, its size steps, full size
// behind the windows, fading under the pointer and the camera choice. Main thread
// only; camera frames arrive on the camera's thread and are shown on the main thread.
class WebcamOverlay {
public:
    // What the overlay tells the application around it.
    struct Hooks {
        // The camera list for the "Webcam" submenu (the avatar first).
        std::function<void(const std::vector<WebcamInfo>& sources, const QString& currentId)> cameraSources;
        // The webcam was switched on or off (the preview's switch follows).
        std::function<void(bool on)> switched;
    };

    WebcamOverlay(Platform& platform, Settings& settings, Scene& scene, QSizeF output, Hooks hooks);
    ~WebcamOverlay();
    WebcamOverlay(const WebcamOverlay&) = delete;
    WebcamOverlay& operator=(const WebcamOverlay&) = delete;

    // The view in the share window's scene (added by the caller).
    const std::shared_ptr<SceneLayer>& view() const { return webcamView; }
    // The picture layer inside it, for tests.
    const std::shared_ptr<SceneLayer>& pictureLayer() const { return picture; }

    // Places the view as stored and starts the camera when "camera" is on.
    void build();
    // Flips "camera"; the new state.
    bool toggleWebcam();
    // The avatar, or the camera when access is not refused.
    void startCameraIfPermitted();
    // Starts the chosen camera ("cameraid", else the first one) and lists the cameras.
    void startWebcam();
    // Chooses a camera (or the avatar) and shows it.
    void switchCamera(const QString& id);
    // A camera of the submenu by its tag (400 + its place in the list).
    void pickCamera(int tag);
    void applyCameraSize();
    void changeCameraSize(int segment);
    void stepCameraSize(bool grow);
    void toggleFullscreenWebcam();
    // A click on the visible webcam; shift cycles the shape.
    void webcamClicked(bool shift);
    void setCameraShape(CameraShape shape);
    void setBorderWidth(double width);
    void setCornerRadius(double radius);
    void setBorderColor(const QColor& color);
    void toggleWebcamMirror();
    // Whether a point of the output lies on the visible webcam.
    bool containsOutputPoint(QPointF point) const;
    // The pointer's shape over a point of the output: a resize arrow on the webcam's
    // resize zone (pointing away from its centre), an open hand elsewhere on it where a
    // drag moves it, the arrow off it or at full size.
    Qt::CursorShape pointerShape(QPointF outputPoint) const;
    // Whether a screen point (bottom-left origin) lies on it, the screen mapped onto
    // the output.
    bool isPointOverWebcam(QPointF screenPoint, QSizeF screenSize) const;
    // One frame tick: fades the webcam while the pointer is over it and over a shared
    // window (`pointer` in output coordinates).
    void fadeStep(bool pointerOverSharedWindow, QPointF pointer);
    // A file dragged over the output: the webcam turns half transparent where the
    // file would become the avatar (over it, or anywhere at full size); none: the drag
    // ended.
    void dragHint(std::optional<QPointF> outputPoint);
    // Moving the webcam with the mouse in the preview (output points): a press on the
    // visible webcam, not at full size, starts a drag (true when it does); it follows
    // the pointer's travel since the press, kept at least half on the output; the
    // release stores its place in "camera-offset".
    bool beginDrag(QPointF outputPoint);
    void dragTo(QPointF outputPoint);
    void endDrag();
    // A picture file becomes the avatar; false (with the alert) when it is no picture.
    bool setAvatarImage(const QString& path);
    void showAvatar();
    void showCameraPermissionImage();
    // A new output size: the webcam is laid out anew.
    void setOutputSize(QSizeF size);
    // The cameras offered now, the avatar first.
    const std::vector<WebcamInfo>& cameraSources() const { return sources; }
    bool isVisible() const;

    // State, by the design's names.
    bool webcamOn = false;
    double cameraSize = 0;
    double WEBCAM_HEIGHT_RATIO = 3.0;
    double webcamHeight = 0;
    CameraShape webcamShape = CameraShape::normal;
    float cameraBorderWidth = 0;
    QColor cameraBorderColor;
    bool webcamFullScreen = false;
    double previousCameraSizeBeforeFullScreen = 0;
    bool webcamFaded = false;
    bool isCameraDenied = false;

private:
    // The size the webcam's pictures are shown at, for the capture thread and the camera.
    void setFeedBox(QSize box);
    void startStream(const QString& id);
    void stopStream();
    void makeWebcamFullSize();
    void updateWebcamMask(QSizeF size);
    void showStill(const QImage& image, bool aspectFit);
    void setFrame(const QRectF& frame);
    void switchOnIfOff();
    void listCameras();
    void frameArrived(quint64 generation, FrameRef frame);
    void showLatestFrame();
    void failed(quint64 generation, WebcamFailure failure, const QString& detail);
    double cornerRadius() const;
    QRectF storedOrDefaultFrame(QSizeF size) const;
    // At least half of a frame of this size stays on the output.
    QPointF keptOnOutput(QPointF origin, QSizeF size) const;
    void writeOffset(QPointF origin);

    Platform& platform;
    Settings& settings;
    Scene& scene;
    QSizeF output;
    Hooks hooks;
    std::shared_ptr<SceneLayer> webcamView;
    std::shared_ptr<SceneLayer> picture;
    std::vector<WebcamInfo> sources;
    QString currentId;
    std::unique_ptr<WebcamStream> stream;
    bool showingStill = false;
    // Where a webcam drag started, and the webcam's origin then; for a drag that
    // resizes, the pointer's distance from the centre and the size step then.
    std::optional<QPointF> firstMouseDownPoint;
    QPointF dragStartOrigin;
    double resizingDistance = -1.0;
    double resizeStartSize = 0;

    // Shared with the camera's thread.
    struct Feed;
    std::shared_ptr<Feed> feed;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace vistrale
