#pragma once

#include "platform/frame.h"
#include "platform/screens.h"
#include "preview/captured_frame.h"
#include "preview/compositor.h"
#include "preview/scene.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QRectF>
#include <memory>
#include <mutex>

class QPushButton;
class QWidget;

namespace vistrale {

struct Platform;
class Settings;
class ShareWindowView;
class WindowDragView;
class PreviewContentView;

// What the controller asks of the application that hosts it.
class ApplicationHost {
public:
    virtual ~ApplicationHost() = default;
    // The About alert (also the first-run welcome).
    virtual void showAboutAlert() = 0;
    // Opens the status menu at a screen position (where no tray host shows it).
    virtual void popUpMenu(QPoint globalPosition) = 0;
};

// Capture mode (live capture streams) or image mode (windows imaged on every tick).
// Process-wide; decided once at start-up.
extern bool USE_SCREENCAPTUREKIT;

// The main controller: the preview's content, the share window's scene and the state
// the rest of the system works on. Main thread only, except where a member says
// otherwise.
class VistraleViewController : public QObject {
public:
    VistraleViewController(Platform& platform, Settings& settings, ApplicationHost* host);
    ~VistraleViewController() override;

    // The preview content; the first call loads it (loadView, then viewDidLoad).
    QWidget* view();
    bool isViewLoaded() const { return contentView != nullptr; }

    // Action of the close button: hides the preview window; the share window, its
    // frames and everything else keep running.
    void closeVistrale();
    // Brings the preview window back where it was.
    void showWindow();
    // Lays out the preview's controls for the preview's current size.
    void layoutPreviewControls();

    // Parks the share window at the bottom-right corner of the rightmost screen.
    void positionShareWindow();
    // Shows the share window on screen at the origin, or parks it again.
    void toggleShareWindowVisibility();
    // The share window's frame in global points (bottom-left origin).
    QRectF panelFrame() const { return panelRect; }
    bool shareWindowWhollyOnScreen() const;

    // Asks the user to allow screen recording in the system settings.
    void showPermissionDialog();

    // Shows the text overlay; an empty text hides it.
    void setOverlayText(const QString& text);

    // The newest output frame; empty until the first one is drawn. Any thread.
    CapturedFrame lastCapturedFrame() const;
    Scene& shareScene() { return *scene; }
    const Compositor& compositor() const { return *panelCompositor; }
    ShareWindowView* shareWindowView() const { return shareWindow.get(); }
    WindowDragView* preview() const { return captureVideoPreview; }

    // --- State (names and defaults of the design) ---
    bool SHOW_ABOUT_ON_LAUNCH = true;
    bool windowShown = true;
    bool hasScreenPermission = false;
    bool captureStarted = false;
    bool dialogShown = false;
    bool includeMouseClicks = true;
    bool smartScaling = false;
    bool mirrorVistraleCamera = false;
    bool webviewNotLoaded = true;
    bool fireTimerDone = true;

    double camWidth;
    double camHeight;
    QRectF previewRect;
    QRectF realRect;
    QSizeF outputSize;
    double screenWidth = 0;
    double screenHeight = 0;
    QList<ScreenInfo> screens;
    double previousPanelX = -3298.0;

    static constexpr double MIN_RATIO = 2.0;
    double WEBCAM_HEIGHT_RATIO = 3.0;
    double cameraSize = 1.0;
    double previousCameraSizeBeforeFullScreen = 1.0;
    double webcamHeight;
    int webcamShape = 0;
    int speechVisibleLines = 3;
    float cameraBorderWidth = 0;
    QColor cameraBorderColor;
    int bitRate = 192000;
    double sampleRate = 44100.0;
    int channels = 2;
    qint64 lastWindow = -1;
    qint64 panelWindowID = 0;
    double logoFontSize;
    QImage defaultImage;

    // The share window's views, by the design's names.
    std::shared_ptr<SceneLayer> desktopView;
    std::shared_ptr<SceneLayer> videoDesktopView;
    std::shared_ptr<SceneLayer> webcamView;
    std::shared_ptr<SceneLayer> windowsView;
    std::shared_ptr<SceneLayer> speechScrollView;
    std::shared_ptr<SceneLayer> logoLayer;

private:
    void loadView();
    void viewDidLoad();
    void setUpViews();
    void buildShareWindow();
    void buildPreview();
    void firstLaunchCheck();
    // The output-frame path: every drawn frame, on the compositor thread.
    void panelFrameArrived(FrameRef frame);
    void setPreviewWindowVisible(bool visible);

    Platform& platform;
    Settings& settings;
    ApplicationHost* host;

    std::unique_ptr<Scene> scene;
    std::unique_ptr<Compositor> panelCompositor;
    std::unique_ptr<ShareWindowView> shareWindow;
    QRectF panelRect;
    QString overlayText;

    QPointer<QWidget> contentView;
    WindowDragView* captureVideoPreview = nullptr;
    QPushButton* closeButton = nullptr;
    QRect hiddenPreviewGeometry;

    mutable std::mutex frameLock;
    CapturedFrame latestFrame;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace vistrale
