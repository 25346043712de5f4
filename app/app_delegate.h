#pragma once

#include "app/status_menu.h"
#include "preview/vistrale_view_controller.h"

#include <QObject>
#include <QUrl>
#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;

namespace vistrale {

struct Platform;
class Settings;
class PreviewWindow;
class HotkeySolution;
class RecordingDisplay;

// Menu-item tags.
constexpr int MIRROR_TAG = 203;
constexpr int CONFIGURE_TAG = 204;
constexpr int HEADER_TAG = 205;
constexpr int HIDE_TAG = 206;
constexpr int SHOW_WINDOW_TAG = 209;
constexpr int SOUND_TAG = 212;
constexpr int SCREENSHOT_TAG = 214;
constexpr int HIDE_PANEL_WINDOW_TAG = 219;
constexpr int SCREEN_PERMISSION_TAG = 220;
constexpr int ACTIVATE_TAG = 221;
constexpr int SMART_SCALING_TAG = 222;
constexpr int COPY_SCREENSHOT_TAG = 224;
constexpr int MOUSE_CLICKS_TAG = 225;
constexpr int MOV_TAG = 228;
constexpr int CAMERA_TAG = 210;
constexpr int MIRROR_WEBCAM_TAG = 211;
constexpr int SHAPE_NORMAL_TAG = 215;
constexpr int SHAPE_SQUARE_TAG = 216;
constexpr int SHAPE_ROUND_TAG = 217;
constexpr int SHAPE_PORTRAIT_TAG = 218;
constexpr int FULLSCREEN_WEBCAM_TAG = 227;
constexpr int PICK_CAMERA_TAG = 400;
constexpr int RECORD_TAG = 200;
constexpr int CC_MENU_TAG = 223;

// Deployment addresses of the product.
inline constexpr const char* SUPPORT_EMAIL = "support@vistrale.app";
inline constexpr const char* PRODUCT_PAGE = "https://vistrale.app";
inline constexpr const char* REVIEW_PAGE = "https://vistrale.app/review?action=write-review";

// The application shell: start-up, the status item and its menu, the preview window
// and the one view controller inside it. Lives for the whole run. Main thread only.
class AppDelegate : public QObject, public ApplicationHost {
public:
    AppDelegate(Platform& platform, Settings& settings, QString version);
    ~AppDelegate() override;

    // The start-up sequence.
    void applicationDidFinishLaunching();
    // A file handed over on the command line or by a second start. Always accepted.
    bool openFile(const QString& path);

    // ApplicationHost
    void showAboutAlert() override;
    void popUpMenu(QPoint globalPosition) override;

    // Menu handlers.
    void aboutWindow();
    void showPreviewWindow();
    void hidePanelWindow();
    void hideAll();
    void takeScreenshot();
    void copyScreenshot();
    void toggleMouseClicks();
    void settingsMic();
    void editOverlay();
    void configureShortcut();
    void toggleMov();
    void toggleSound();
    void toggleSmartScaling();
    void activateVistraleCamera();
    // No menu item calls it; it removes the camera for V4L2 readers.
    void deactivateVistraleCamera();
    void mirrorVistrale();
    void openSystemPreferences();
    void showContact();
    void writeReview();
    void shareVistrale();
    void terminate();
    // The "Help" and "Background Image..." items (the pages' windows).
    void showHelpPage();
    void showBackgroundPicker();
    // "Show Document...".
    void showDocumentPicker();

    VistraleViewController* vc() const { return controller.get(); }
    HotkeySolution* hotKeys() const { return hotkeys.get(); }
    PreviewWindow* window() const { return previewWindow.get(); }
    QMenu* mainMenu() const { return menu.get(); }
    StatusMenu* statusMenu() const { return menuTable.get(); }
    QSystemTrayIcon* statusItem() const { return trayIcon.get(); }
    // The display string of the stored shortcut; "Super+F1" while there is no controller.
    QString shortcutText() const;

    // The "Webcam" submenu's cameras (tags 400 + i), the avatar first.
    void setCameraSources(const std::vector<WebcamInfo>& sources, const QString& currentId) override;
    std::vector<WebcamInfo> cameraSources;
    std::optional<QString> currentCameraId;
    std::optional<QString> currentMicId;
    std::optional<QUrl> fileToOpen;
    bool isRecording = false;

    // --- Recording ---
    // "Start Recording..." and a click on the status item while recording.
    void toggleRecording();
    // ApplicationHost: the status item while recording.
    void setRecordingState(bool recording, bool withMicrophone) override;
    void showRecordingTime(const QString& text, bool withMicrophone) override;
    void resetStatusItem() override;
    RecordingDisplay* recordingDisplay() const { return recordingStatus.get(); }
    // The platform services, for the diagnostics interface.
    Platform& services() const { return platform; }

private:
    std::unique_ptr<RecordingDisplay> recordingStatus;

    std::vector<MenuRow> menuRows();
    std::vector<MenuRow> webcamMenuRows();
    // The camera items of the "Webcam" submenu, made anew from `cameraSources`.
    void rebuildCameraItems();
    void pickCustomCameraImage();
    void pickBorderColor();
    void publishMirror(bool mirror);
    void createPreviewWindow();

    // --- The "Closed Captions" submenu (app/caption_menu.cpp) ---
public:
    // Fills the languages in, on-device ones under "On Device", the others under
    // "Online"; says so when none is installed.
    void buildCaptionLanguages();
    void selectLocale(const QString& identifier);
    void customWords();
    void lineNumbers(int n);

private:
    std::vector<MenuRow> captionMenuRows();
    void checkCurrentLanguage();

    Platform& platform;
    Settings& settings;
    QString version;
    std::unique_ptr<QMenu> menu;
    std::unique_ptr<StatusMenu> menuTable;
    std::unique_ptr<QSystemTrayIcon> trayIcon;
    std::unique_ptr<PreviewWindow> previewWindow;
    std::unique_ptr<VistraleViewController> controller;
    std::unique_ptr<HotkeySolution> hotkeys;
};

} // namespace vistrale
