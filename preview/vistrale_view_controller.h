#pragma once

#include "camera/camera_activation.h"
#include "documents/document_window_controller.h"
#include "platform/camera.h"
#include "platform/frame.h"
#include "platform/screens.h"
#include "platform/webcam.h"
#include "platform/window_server.h"
#include "platform/work_queue.h"
#include "preview/camera_hand_off.h"
#include "preview/captured_frame.h"
#include "preview/compositor.h"
#include "preview/scene.h"

#include <QColor>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QVariantMap>
#include <QWidget>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class QPushButton;
class QWidget;

namespace vistrale {

struct Platform;
class Settings;
class ShareWindowView;
class WindowDragView;
class PreviewContentView;
class RepeatingTimer;
class SKImageView;
class CaptureStream;
class Sound;
class HighlightWindowController;
class WebcamOverlay;
class Backdrops;
class RecordingController;
class Captions;
class TranscriptHandOver;
struct PointerEvent;
class MyCursorImageView;
class MagnifierView;
class CursorWindowController;
class WebPages;
struct TranscriptSession;
class TranscriptEdit;
class WebViewWindowController;
class ClipboardLinkOpener;

// What the controller asks of the application that hosts it.
class ApplicationHost {
public:
    virtual ~ApplicationHost() = default;
    // The About alert (also the first-run welcome).
    virtual void showAboutAlert() = 0;
    // Opens the status menu at a screen position (where no tray host shows it).
    virtual void popUpMenu(QPoint globalPosition) = 0;
    // The cameras for the "Webcam" submenu (the avatar first) and the one in use.
    virtual void setCameraSources(const std::vector<WebcamInfo>& sources, const QString& currentId)
    {
        Q_UNUSED(sources);
        Q_UNUSED(currentId);
    }

    // --- The recording display of the status item ---
    // At start and stop of a recording: whether it runs, with the microphone.
    virtual void setRecordingState(bool recording, bool withMicrophone)
    {
        Q_UNUSED(recording);
        Q_UNUSED(withMicrophone);
    }
    // Every second while recording: the elapsed time ("00:01").
    virtual void showRecordingTime(const QString& text, bool withMicrophone)
    {
        Q_UNUSED(text);
        Q_UNUSED(withMicrophone);
    }
    // When the processing of a recording is over: the normal status item again.
    virtual void resetStatusItem() { }
};

// Writes a picture as a PNG file; false, with a log line, when it cannot.
bool writePNG(const QImage& image, const QString& path);

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

    // --- Window picking and the shared-window list ---
    // Dispatches a hot key by its label ("keyboard", "screenshot", ...).
    void receivedKeyboardMessage(const QVariantMap& userInfo);
    // Picks or drops the window under the pointer; a second press within 0.5 s makes
    // it fill the output; over the bare desktop it offers the entire screen.
    void toggleWindowUnderMouse();
    void addWindow(const Window& window, bool highlight, bool entireScreen, bool animated);
    void removeWindow(qint64 windowNumber);
    void removeAllWindows();
    void makeWindowFullFrame(qint64 windowNumber);
    // The pointer and modifier step of both event monitors.
    void trackPointer(QPointF point);
    void notifySpaceChange();
    void screenParametersChanged();
    // A click in the preview that did not move, at a point in output coordinates.
    bool clickInPreview(bool shift, bool command, QPointF point);
    // Turns smart scaling on or off; the next tick lays every shared window out anew.
    void setSmartScaling(bool on);
    // Where a shared window goes in the output.
    QRectF layoutFrame(const QRectF& frame, qint64 windowNumber, bool skipFullFrame);

    // A new output size: the share window, its backdrop, the preview and the output
    // frames follow it.
    void changeResolution(double width, double height);

    // --- Screenshots ---
    // The output picture saved where the user says (copy false) or on the clipboard.
    void screenshot(bool copy);
    // The share window's picture now, at the output size; null before the first frame.
    QImage imagePanel();

    // --- Frame clock ---
    // One tick: follows the shared windows' places, sizes and stacking.
    void fireTimer();
    // Image mode: refreshes the preview's picture from the latest output frame.
    void slowTimerFunc();
    bool isShared(qint64 windowNumber) const { return imageViews.count(windowNumber) > 0; }
    bool hasStream(qint64 windowNumber) const { return streams.count(windowNumber) > 0; }
    std::size_t sharedCount() const { return imageViews.size(); }
    // Output frames handed to the consumers so far. Any thread.
    quint64 framesDelivered() const { return framesArrived.load(); }
    SKImageView* imageView(qint64 windowNumber) const;
    HighlightWindowController* highlightView(qint64 windowNumber) const;

    // The output frames' consumers. The recorder takes every frame (output-frame
    // thread); the camera takes them through the hand-off.
    void setRecorderSink(std::function<void(const FrameRef&)> sink);
    CameraHandOff& cameraHandOff() { return handOff; }
    // The camera's queue is there: it gets the latest frame at once, then the next ones.
    void cameraSinkStarted(CameraHandOff::Sink sink);
    // The pointer magnifier's feed: every frame of a shared window's stream with that
    // window's number, on the stream's capture thread (not while the share window is
    // rearranged); the magnifier picks the window it shows and must not block. Any
    // thread but the hook's own; once it returns, the previous hook is not called
    // again. Unset (the default), streams pay one atomic read per frame.
    using MagnifierHook = std::function<void(const FrameRef& frame, qint64 windowNumber)>;
    void setMagnifierHook(MagnifierHook hook);

    // --- Webcam (the overlay does the work; these are its entry points) ---
    WebcamOverlay* webcam() const { return webcamOverlay.get(); }
    // The preview's webcam switch.
    void camToggled();
    bool toggleWebcam();
    void switchCamera(const QString& id);
    void pickCamera(int tag);
    void changeCameraSize(int segment);
    void stepCameraSize(bool grow);
    void toggleFullscreenWebcam();
    void webcamClicked(bool shift);
    // Dragging inside the preview (output points): a press on the webcam moves it.
    bool mouseDownInPreview(QPointF point);
    void mouseDraggedInPreview(QPointF point);
    void mouseUpInPreview();
    void setCameraShape(int shape);
    void borderSliderChanged(double width);
    void radiusSliderChanged(double radius);
    void changeColor(const QColor& color);
    void toggleWebcamMirror();
    bool isPointOverWebcam(QPointF screenPoint) const;
    bool setAvatarImage(const QString& path);
    void showAvatar();

    // --- Camera ---
    // Finds the device "Vistrale Camera" and its source and sink streams.
    void connectToVistraleCamera();
    // The very slow timer's work: asks the camera whether a client watches, and
    // starts or stops the sink.
    void veryslowTimerFunc();
    // Camera queue thread: the sink's queue, then its stream; the last frame goes at once.
    void initSink(quint32 device, quint32 sinkStream);
    // Camera queue thread (or main thread when nothing else runs there).
    void stopSink();
    bool hasSinkQueue() const;
    // Runs queued camera work to its end (the tests wait on it).
    void drainCameraQueue() { cameraQueue.drain(); }
    // Installs the camera for V4L2 readers (asks for the administrator's password).
    void activateVistraleCamera();
    // Removes it again.
    void deactivateVistraleCamera();
    // Whether the camera's source and sink streams were found.
    bool foundCameraStream() const { return vistraleStream.has_value(); }
    // Where activation finds its helper; tests point it at their own.
    CameraSetupPaths cameraSetupPaths = defaultCameraSetupPaths();
    // True from an activation request until its successful outcome.
    bool activating() const { return cameraActivation && cameraActivation->activating; }

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
    // Read on the output-frame thread.
    std::atomic<bool> mirrorVistraleCamera{false};
    bool webviewNotLoaded = true;
    // True while no tick runs or waits; test-and-cleared on the timer thread.
    std::atomic<bool> fireTimerDone{true};
    // Read by the capture threads: frames are dropped while it holds.
    std::atomic<bool> missionControl{false};
    bool draggingPanel = false;
    bool isSharingWindows = false;
    bool mouseEventsRegistered = false;
    bool isSaving = false;
    bool drawingRoi = false;
    bool buttonPressed = false;
    bool leftMouseDragged = false;
    bool commandPressed = false;
    bool shiftPressed = false;
    bool optionPressed = false;
    bool wasCommandPressed = false;
    bool commandDoublePressed = false;
    double lastCommandPressed = 0;
    bool mouseOverSharedWindow = false;
    qint64 mouseOverSharedWindowId = 0;
    qint64 sharingEntireScreen = 0;
    std::optional<quint32> displayId;
    std::optional<qint64> windowBeingRemoved;
    std::optional<qint64> lastClicked;
    QPointF mouseLocation;
    double lastKeyboard = 0;
    double cursorScale = 1.0;

    double CAPTURE_INTERVAL = 1.0 / 30.0;
    double PREVIEW_CAPTURE_INTERVAL = 1.0 / 12.0;
    QHash<qint64, QRectF> positions;
    std::map<qint64, int> fullscreenWindows;

    double camWidth;
    double camHeight;
    QRectF previewRect;
    QRectF realRect;
    QSizeF outputSize;
    double screenWidth = 0;
    double screenHeight = 0;
    QList<ScreenInfo> screens;
    double previousPanelX = -3298.0;

    int speechVisibleLines = 3;
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
    // A point of the preview view as a point of the output; none before it has a size.
    std::optional<QPointF> previewToOutput(QPointF position) const;
    void firstLaunchCheck();
    // The output-frame path: every drawn frame, on the compositor thread.
    void panelFrameArrived(FrameRef frame);
    void setPreviewWindowVisible(bool visible);
    void startTimers();
    void startVerySlowTimer();
    // At teardown: no poll, no start, and a stopped sink, so that the camera's thread
    // has nothing left that points here.
    void shutDownCamera();
    // At start-up: offers to install the camera for V4L2 readers when it is missing;
    // true when the user chose to activate it.
    bool offerCameraInstall();
    void registerMouseEvents();
    void globalEvent(const PointerEvent& event);
    void playSound(Sound* sound);
    void finishRemoval(qint64 windowNumber);
    void animateRemoval(qint64 windowNumber);
    std::unique_ptr<HighlightWindowController> makeHighlight(const Window& window, bool highlight, bool entireScreen);
    std::optional<QRectF> hitRegion(const Window& window) const;
    // Live capture streams of the shared windows.
    void startStream(qint64 windowNumber, bool entireScreen);
    void reconfigureStream(qint64 windowNumber, const QRectF& frame);
    void stopStream(qint64 windowNumber);
    void streamFrameArrived(qint64 windowNumber, const FrameRef& frame);
    // After a snapshot: tells each stream whose frame it took, so the stream may
    // capture its next change at once.
    void streamFramesShown();
    std::optional<QRectF> cropFor(qint64 windowNumber) const;
    void grantScreenPermission();

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
    QPushButton* cameraSwitch = nullptr;
    std::unique_ptr<WebcamOverlay> webcamOverlay;
    QRect hiddenPreviewGeometry;

    struct StreamSlot;
    std::map<qint64, std::unique_ptr<SKImageView>> imageViews;
    std::map<qint64, std::unique_ptr<CaptureStream>> streams;
    // Stamps of the frames set into the views since the last snapshot, per window.
    std::map<qint64, double> framesAwaitingSnapshot;
    std::map<qint64, std::unique_ptr<HighlightWindowController>> highlightViews;
    std::unique_ptr<RepeatingTimer> dispatchSourceTimer;
    std::unique_ptr<RepeatingTimer> slowtimer;
    std::unique_ptr<Sound> sound;
    std::unique_ptr<Sound> soundScreenshot;
    int keyboardObserver = 0;
    quint64 slowTimerFrameSeen = 0;
    std::atomic<quint64> framesArrived{0};

    CameraHandOff handOff;
    std::optional<quint32> myDeviceID;
    std::optional<quint32> vistraleStream;
    std::optional<quint32> vistraleSinkStream;
    // Written to the source stream's control string on every poll.
    int count = 0;
    mutable std::mutex cameraLock;
    std::shared_ptr<CameraSinkQueue> sinkQueue;
    std::unique_ptr<RepeatingTimer> veryslowtimer;
    // The camera's slow calls run here, one at a time, off the main thread.
    SerialQueue cameraQueue;
    // Made on the first request: it needs the administrator runner.
    std::unique_ptr<CameraActivation> cameraActivation;
    // The activation, made when first needed; null (with a log line) without a runner.
    CameraActivation* cameraSetUp();
    std::atomic<bool> sinkStarting{false};
    std::mutex recorderLock;
    std::function<void(const FrameRef&)> recorderSink;
    std::atomic<bool> magnifierHooked{false};
    std::mutex magnifierLock;
    MagnifierHook magnifierHook;

    mutable std::mutex frameLock;
    CapturedFrame latestFrame;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    // --- Backdrops: thin entry points; webcam/backdrops.h does the work
    // (preview/backdrop_actions.cpp) ---
public:
    // Any thread; applied on the main thread ("mov"/"mp4" → video, else picture).
    void setBackground(const QString& urlString);
    void setBackgroundImage(const QString& urlString);
    void setBackgroundVideo(const QString& urlString);
    void fetchBackground(const std::optional<QString>& urlString, bool video);
    QImage backgroundImage() const;
    void handleDroppedFile(const QString& path);
    // A file dropped on the preview, at a point in output coordinates; the one place
    // that decides where a dropped file goes.
    void droppedFile(const QString& path, QPointF outputPoint);
    void showBigSur();
    void showMonterey();
    void showCatalina();
    void showMojave();
    void showBackgroundOpenPanel();
    Backdrops* backdrops() const { return backdropsController.get(); }

private:
    void setUpBackdrops();
    std::unique_ptr<Backdrops> backdropsController;

    // --- Recording: thin entry points; recording/recording_controller.h does the work
    // (preview/recording_actions.cpp) ---
public:
    // The status menu's "Start Recording...": asks "Warning" when nothing is shared.
    void toggleRecordingFromMenu();
    // Stops a running recording, or asks for its options and starts one.
    void toggleRecording();
    void startRecording(bool withAudio);
    void stopRecording();
    bool recording() const;
    // Null when the platform has no media.
    RecordingController* recorder() const { return recordingController.get(); }

private:
    void setUpRecording();
    std::unique_ptr<RecordingController> recordingController;

    // --- Pointer, magnifier and region highlight: thin entry points; overlays/ does the
    // work (preview/pointer_actions.cpp) ---
public:
    // Shows the pointer (and the magnifier, and the ring on the desktop) where it stands
    // over a shared window, or hides them when it is over none.
    void updatePointerOverlay();
    void hidePointerOverlay();
    // The pointer's place in the output over a shared window; (0, 0) when the window is
    // not shared or has no position.
    QPointF pointInOutput(qint64 windowNumber) const;
    // Observer of "roi": the window's region box was drawn (or removed).
    void receivedRoiMessage(const QVariantMap& userInfo);
    // Every highlight border turns red while recording, and back afterwards; new
    // borders follow.
    void setRecordingLook(bool recording);
    MyCursorImageView* pointerView() const { return cursorView.get(); }
    MagnifierView* magnifier() const { return cursorMagnifier.get(); }
    CursorWindowController* enhancedPointer() const { return cursorEnhancedWindow.get(); }
    qint64 magnifierWindowId = 0;
    bool recordingLook = false;

private:
    void setUpPointerOverlay();
    void tearDownPointerOverlay();
    // The tick's pointer step: one query, the pointer image, the modifiers.
    void pointerTick();
    // The tick's region and overlay step, once the window under the pointer is known.
    void pointerOverlayTick(qint64 frameHit);
    void trackPointer(QPointF point, bool anyButtonDown);
    // The window's source rectangle for the output (global points): its region box when
    // it has one, else its frame; none without a position.
    std::optional<QRectF> pointerSource(qint64 windowNumber) const;
    void setMagnifierShown(bool shown);
    std::unique_ptr<MyCursorImageView> cursorView;
    std::unique_ptr<MagnifierView> cursorMagnifier;
    std::unique_ptr<CursorWindowController> cursorEnhancedWindow;
    int roiObserver = 0;
    // The tick updates the overlay itself once the hit window is known.
    bool deferPointerOverlay = false;

    // --- Captions: thin entry points; captions/captions.h does the work
    // (preview/caption_actions.cpp) ---
public:
    Captions* captions() const { return captionsController.get(); }
    // The preview's caption button.
    void ccToggled();

private:
    void setUpCaptions(SceneLayer& content);
    void buildCaptionButton();
    void layoutCaptionButton();
    std::unique_ptr<Captions> captionsController;
    // Gives each recording its transcript; goes before the captions it reads.
    std::unique_ptr<TranscriptHandOver> transcriptHandOver;
    QPushButton* ccButton = nullptr;

    // --- Local web pages: thin entry points; documents/web_pages.h does the work
    // (preview/page_actions.cpp) ---
public:
    // The "Help" and "Background Image..." items: one window each, shown again.
    void showHelpPage();
    void showBackgroundPicker();
    // The stored shortcut changed: an open help page shows the new display string.
    void shortcutChanged(const QString& displayString);
    // The caption editor over a finished recording's captions and audio.
    void showTranscriptEditor(const QString& subRip, const QString& audioPath, TranscriptSession session);
    // The caption editor's saved captions (its "save-transcript" message).
    void saveTranscript(const QString& vtt);
    // Burns the captions into the edited recording (recording/video_overlay_processor.h
    // does the export, captions/recording_transcript.h the recording's side); the
    // editor page shows the progress and closes when the export is over.
    void exportWithSubtitles(const QString& captions, const std::shared_ptr<TranscriptEdit>& edit);
    // "ProgressBarPercentage": the export's progress goes to the editor page.
    void statusUpdate(const QVariantMap& userInfo);
    // Null until a page was first asked for.
    WebPages* webPages() const { return pages.get(); }

private:
    WebPages& pagesController();
    std::unique_ptr<WebPages> pages;
    // The editor page that hears the running export's progress.
    QPointer<WebViewWindowController> subtitleWebView;
    int progressObserver = 0;
    // --- Documents: thin entry points; documents/ does the work
    // (preview/document_actions.cpp) ---
public:
    // Opens a file or web address in a document window of its own and shares that
    // window one second later.
    void showDocument(const QUrl& url);
    // Ctrl+V in the preview: the clipboard's link.
    void openClipboardLink();
    // "Show Document...": an open panel for presentations and documents.
    void showDocumentPicker();
    ClipboardLinkOpener* clipboardLinks() const { return clipboardOpener.get(); }
    // Where LibreOffice is looked for and its PDFs go; tests point these elsewhere.
    DocumentViewerOptions documentOptions() const;
    OfficeConversion::Options officeOptions;

private:
    void setUpDocuments();
    void shareDocumentWindow(qint64 windowNumber);
    std::unique_ptr<ClipboardLinkOpener> clipboardOpener;
};

} // namespace vistrale
