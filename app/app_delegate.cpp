#include "app/app_delegate.h"

#include "app/about_alert.h"
#include "app/hotkeys.h"
#include "app/preview_window.h"
#include "app/recording_display.h"
#include "app/settings/geometry_strings.h"
#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "app/settings/shortcut.h"
#include "app/shortcut_recorder.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/output_geometry.h"

#include "webcam/webcam_overlay.h"
#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTimer>

namespace vistrale {
namespace {

constexpr const char* APP_NOTIFICATION = "com.quorvia.vistrale.app";
constexpr const char* PLUGIN_NOTIFICATION = "com.quorvia.vistrale.plugin";

} // namespace

AppDelegate::AppDelegate(Platform& platform, Settings& settings, QString version)
    : platform(platform)
    , settings(settings)
    , version(std::move(version))
{
}

AppDelegate::~AppDelegate()
{
    hotkeys.reset();
    // The controller's view lives inside the preview window.
    controller.reset();
}

void AppDelegate::applicationDidFinishLaunching()
{
    // 1. The chosen camera and microphone; only text values count.
    currentCameraId = settings.text(keys::CAMERA_ID);
    currentMicId = settings.text(keys::MIC_ID);

    // 2. The camera's mirror state, for the camera process.
    publishMirror(settings.boolValue(keys::MIRROR));

    // 3. and 4. The status item and its menu.
    menu = std::make_unique<QMenu>();
    menuTable = std::make_unique<StatusMenu>(*menu, menuRows());
    trayIcon = std::make_unique<QSystemTrayIcon>();
    trayIcon->setIcon(QIcon(":/images/vistrale-statusbar-16.png"));
    trayIcon->setToolTip(tr("Vistrale"));
    trayIcon->setContextMenu(menu.get());
    // A left click opens the menu too, as the status item does.
    connect(trayIcon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // While recording the menu is detached: any click stops the recording.
        if (isRecording) {
            if (reason == QSystemTrayIcon::Context)
                logLine("right click");
            toggleRecording();
            return;
        }
        // Queued: the click that activated the icon must be over before the menu grabs
        // the pointer, or the menu closes at once.
        if (reason == QSystemTrayIcon::Trigger)
            QTimer::singleShot(0, this, [this] { popUpMenu(QCursor::pos()); });
    });
    trayIcon->show();
    platform.notifications->observe(PLUGIN_NOTIFICATION, [this](const QString& object) {
        logLine("notification message=", printableText(object));
        if (object == "mirrorstatus")
            publishMirror(settings.boolValue(keys::MIRROR));
    });

    // 5. The preview window.
    createPreviewWindow();

    recordingStatus = std::make_unique<RecordingDisplay>(trayIcon.get(), menu.get(), previewWindow.get());

    // 6. The controller, its view inside the window, the window in front.
    controller = std::make_unique<VistraleViewController>(platform, settings, this);
    controller->mirrorVistraleCamera = settings.boolValue(keys::MIRROR);
    previewWindow->setContent(controller->view());
    // The hot keys go live once the controller's view has loaded.
    hotkeys = std::make_unique<HotkeySolution>(*platform.pointerKeys);
    hotkeys->registerHotKeys(loadShortcut(settings));
    previewWindow->show();
    previewWindow->raise();
    previewWindow->activateWindow();

    // 7. The caption submenu's languages, a moment after launch.
    platform.clock->after(2.0, [this] { buildCaptionLanguages(); });

    // 8. A file that launched the application opens now, without the welcome.
    if (fileToOpen) {
        controller->SHOW_ABOUT_ON_LAUNCH = false;
        controller->showDocument(*fileToOpen);
    }
}

void AppDelegate::createPreviewWindow()
{
    const QSizeF size(roundHalfAway(OUTPUT_RESOLUTION[0] / 7.0), roundHalfAway(OUTPUT_RESOLUTION[1] / 7.0));
    const QList<ScreenInfo> screens = platform.screens->screens();
    const std::optional<QRectF> stored = storedPreviewFrame(settings.text(keys::PREVIEW_FRAME), screens);
    const std::optional<ScreenInfo> mainScreen = screens.isEmpty() ? std::nullopt : std::optional(screens.first());

    previewWindow = std::make_unique<PreviewWindow>(*platform.ownWindows,
        QSize(OUTPUT_RESOLUTION[0], OUTPUT_RESOLUTION[1]), QSize(OUTPUT_RESOLUTION[0] / 12, OUTPUT_RESOLUTION[1] / 12));
    previewWindow->placeAt(previewWindowFrame(stored, mainScreen, size));
    previewWindow->setCloseHandler([this] {
        if (controller)
            controller->closeVistrale();
    });
    previewWindow->setFrameChangedHandler(
        [this](const QRectF& frame) { settings.setText(keys::PREVIEW_FRAME, rectString(frame)); });
}

bool AppDelegate::openFile(const QString& path)
{
    logLine("open file", printableText(path));
    const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    if (controller)
        controller->showDocument(url);
    else
        fileToOpen = url;
    return true;
}

void AppDelegate::showDocumentPicker()
{
    if (controller)
        controller->showDocumentPicker();
}

QString AppDelegate::shortcutText() const
{
    if (!controller)
        return shortcutDisplayString(defaultShortcut());
    return shortcutDisplayString(loadShortcut(settings));
}

void AppDelegate::showAboutAlert()
{
    if (!controller)
        return;
    const AlertSpec alert = aboutAlertSpec(version, shortcutDisplayString(loadShortcut(settings)));
    platform.dialogs->activateApplication();
    platform.clock->after(0, [this, alert] {
        platform.dialogs->runAlert(alert);
        if (controller && !controller->hasScreenPermission)
            controller->showPermissionDialog();
    });
}

void AppDelegate::popUpMenu(QPoint globalPosition)
{
    if (menu)
        menu->popup(globalPosition);
}

std::vector<MenuRow> AppDelegate::menuRows()
{
    auto checked = [](std::function<bool()> rule) {
        return [rule = std::move(rule)](QAction& item) { item.setChecked(rule()); };
    };
    std::vector<MenuRow> rows;
    rows.push_back({MenuRow::Item, HEADER_TAG, tr("About"), {}, false, [this] { aboutWindow(); },
        [this](QAction& item) { item.setText(tr("About") + " (" + shortcutText() + tr(" to select windows)")); }});
    rows.push_back({MenuRow::Item, SHOW_WINDOW_TAG, tr("Show Vistrale"), {}, true, [this] { showPreviewWindow(); },
        checked([this] { return controller && controller->windowShown; })});
    rows.push_back(
        {MenuRow::Item, HIDE_PANEL_WINDOW_TAG, tr("Show Vistrale Share"), {}, false, [this] { hidePanelWindow(); },
            [this](QAction& item) {
                const bool onScreen = controller && controller->shareWindowWhollyOnScreen();
                item.setText(onScreen ? tr("Hide Vistrale Share") : tr("Show Vistrale Share"));
            }});
    // Without a shared window the item stays enabled and does nothing.
    rows.push_back({MenuRow::Item, HIDE_TAG, tr("Clear all"), {}, false, [this] { hideAll(); }, {}});
    rows.push_back(MenuRow::separator());
    rows.push_back({MenuRow::Item, RECORD_TAG, tr("Start Recording..."), {}, false, [this] { toggleRecording(); }, {}});
    // Shift+Super+6 and Shift+Ctrl+Super+6 (the global hot keys).
    rows.push_back({MenuRow::Item, SCREENSHOT_TAG, tr("Save Screenshot..."),
        QKeySequence(Qt::META | Qt::SHIFT | Qt::Key_6), false, [this] { takeScreenshot(); }, {}});
    rows.push_back({MenuRow::Item, COPY_SCREENSHOT_TAG, tr("Copy Screenshot..."),
        QKeySequence(Qt::CTRL | Qt::META | Qt::SHIFT | Qt::Key_6), false, [this] { copyScreenshot(); }, {}});
    rows.push_back(MenuRow::separator());
    rows.push_back({MenuRow::Item, 0, "Microphone", {}, false, [this] { settingsMic(); },
        [this](QAction& item) {
            if (!controller)
                return;
            const QString name = platform.audio->defaultInputName();
            item.setText("Microphone (" + (name.isEmpty() ? QString("none") : name) + ")");
        }});
    MenuRow webcam{MenuRow::Item, CAMERA_TAG, tr("Webcam"), {}, false, {}, {}};
    webcam.submenu = webcamMenuRows();
    rows.push_back(std::move(webcam));
    MenuRow captions{MenuRow::Item, CC_MENU_TAG, tr("Closed Captions"), {}, false, {}, {}};
    captions.submenu = captionMenuRows();
    rows.push_back(std::move(captions));
    rows.push_back({MenuRow::Item, 0, tr("Text Overlay..."), {}, false, [this] { editOverlay(); }, {}});
    rows.push_back({MenuRow::Item, 0, tr("Background Image..."), {}, false, [this] { showBackgroundPicker(); }, {}});
    // Documents: the open panel; its key, Ctrl+V, pastes a link in the preview.
    rows.push_back({MenuRow::Item, 0, tr("Show Document..."), QKeySequence(Qt::CTRL | Qt::Key_V), false,
        [this] { showDocumentPicker(); }, {}});
    rows.push_back(
        {MenuRow::Item, CONFIGURE_TAG, tr("Keyboard Shortcut..."), {}, false, [this] { configureShortcut(); },
            [this](QAction& item) { item.setText(tr("Keyboard Shortcut...") + "\t" + shortcutText()); }});
    rows.push_back(MenuRow::separator());
    rows.push_back({MenuRow::Item, MOV_TAG, tr("Save as MOV (default MP4)"), {}, true, [this] { toggleMov(); },
        checked([this] { return settings.boolValue(keys::MOV); })});
    rows.push_back({MenuRow::Item, SOUND_TAG, tr("Sound Effect"), {}, true, [this] { toggleSound(); },
        checked([this] { return !settings.boolValue(keys::SOUND_OFF); })});
    rows.push_back({MenuRow::Item, MOUSE_CLICKS_TAG,
        tr("Highlight Mouse with %1").arg(keyCombinationText(KeyModifiers{.command = true}, {})), {}, true,
        [this] { toggleMouseClicks(); }, checked([this] { return !settings.boolValue(keys::MOUSE_CLICKS_OFF); })});
    rows.push_back({MenuRow::Item, SMART_SCALING_TAG, tr("Smart Scaling"), {}, true, [this] { toggleSmartScaling(); },
        checked([this] { return settings.boolValue(keys::SMART_SCALING); })});
    rows.push_back(MenuRow::separator());
    // The PipeWire camera needs no installation, so the item follows the V4L2 device.
    rows.push_back(
        {MenuRow::Item, ACTIVATE_TAG, tr("Activate Vistrale Camera"), {}, false, [this] { activateVistraleCamera(); },
            [this](QAction& item) {
                item.setEnabled(!controller || !controller->foundCameraStream() || !platform.camera
                    || !platform.camera->deviceInstalled());
            }});
    rows.push_back({MenuRow::Item, MIRROR_TAG, tr("Mirror Camera"), {}, true, [this] { mirrorVistrale(); },
        checked([this] { return settings.boolValue(keys::MIRROR); })});
    rows.push_back({MenuRow::Item, SCREEN_PERMISSION_TAG, tr("Check Screen Permissions..."), {}, false,
        [this] { openSystemPreferences(); },
        [this](QAction& item) {
            if (controller)
                item.setEnabled(!controller->hasScreenPermission);
        }});
    rows.push_back(MenuRow::separator());
    rows.push_back({MenuRow::Item, 0, tr("Help"), {}, false, [this] { showHelpPage(); }, {}});
    rows.push_back(MenuRow::separator());
    rows.push_back({MenuRow::Item, 0, tr("Contact <%1>").arg(SUPPORT_EMAIL), {}, false, [this] { showContact(); }, {}});
    rows.push_back({MenuRow::Item, 0, tr("Review Vistrale..."), {}, false, [this] { writeReview(); }, {}});
    rows.push_back({MenuRow::Item, 0, tr("Share..."), {}, false, [this] { shareVistrale(); }, {}});
    rows.push_back({MenuRow::Item, 0, tr("Quit"), {}, false, [this] { terminate(); }, {}});
    return rows;
}

std::vector<MenuRow> AppDelegate::webcamMenuRows()
{
    auto checked = [](std::function<bool()> rule) {
        return [rule = std::move(rule)](QAction& item) { item.setChecked(rule()); };
    };
    // A label and a control side by side, as one row of the submenu.
    auto labelled = [](const QString& label, QWidget* control) {
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(12, 2, 12, 2);
        layout->addWidget(new QLabel(label));
        layout->addWidget(control, 1);
        return row;
    };
    auto slider = [this](const char* key, int maximum, std::function<void(double)> changed) {
        auto* control = new QSlider(Qt::Horizontal);
        control->setRange(0, maximum);
        control->setValue(static_cast<int>(settings.doubleValue(key)));
        connect(
            control, &QSlider::valueChanged, control, [changed = std::move(changed)](int value) { changed(value); });
        return control;
    };
    std::vector<MenuRow> rows;
    rows.push_back({MenuRow::Item, MIRROR_WEBCAM_TAG, tr("Mirror"), {}, true,
        [this] {
            if (controller)
                controller->toggleWebcamMirror();
        },
        checked([this] { return settings.boolValue(keys::MIRROR_WEBCAM); })});
    rows.push_back(MenuRow::separator());
    const std::pair<int, QString> shapes[] = {{SHAPE_NORMAL_TAG, tr("Rectangle")}, {SHAPE_SQUARE_TAG, tr("Square")},
        {SHAPE_ROUND_TAG, tr("Circle")}, {SHAPE_PORTRAIT_TAG, tr("Portrait")}};
    for (int shape = 0; shape < 4; ++shape)
        rows.push_back({MenuRow::Item, shapes[shape].first, shapes[shape].second, {}, true,
            [this, shape] {
                if (controller)
                    controller->setCameraShape(shape);
            },
            checked([this, shape] { return settings.integer(keys::CAMERA_SHAPE) == shape; })});
    rows.push_back(MenuRow::separator());
    rows.push_back({MenuRow::Item, FULLSCREEN_WEBCAM_TAG, tr("Fullscreen"),
        QKeySequence(Qt::CTRL | Qt::META | Qt::Key_Return), true,
        [this] {
            if (controller)
                controller->toggleFullscreenWebcam();
        },
        checked([this] { return controller && controller->webcam() && controller->webcam()->cameraSize == -1.0; })});
    MenuRow size{MenuRow::Item, 0, QString(), {}, false, {}, {}};
    size.view = [this, labelled] {
        auto* buttons = new QWidget;
        auto* layout = new QHBoxLayout(buttons);
        layout->setContentsMargins(0, 0, 0, 0);
        for (int segment = 0; segment < 2; ++segment) {
            auto* button = new QPushButton(segment == 0 ? "-" : "+");
            button->setObjectName(segment == 0 ? "webcamSmaller" : "webcamLarger");
            connect(button, &QPushButton::clicked, button, [this, segment] {
                if (controller)
                    controller->changeCameraSize(segment);
            });
            layout->addWidget(button);
        }
        return labelled(tr("Size"), buttons);
    };
    rows.push_back(std::move(size));
    MenuRow colour{MenuRow::Item, 0, QString(), {}, false, {}, {}};
    colour.view = [this, labelled] {
        auto* button = new QPushButton(tr("Change"));
        button->setObjectName("borderColorButton");
        const QColor current = borderColorSetting(settings);
        button->setStyleSheet(QString("QPushButton { background: %1; }").arg(current.name()));
        connect(button, &QPushButton::clicked, button, [this] { pickBorderColor(); });
        return labelled(tr("Border Color"), button);
    };
    rows.push_back(std::move(colour));
    MenuRow border{MenuRow::Item, 0, QString(), {}, false, {}, {}};
    border.view = [this, labelled, slider] {
        return labelled(tr("Border Width"), slider(keys::CAMERA_BORDER_WIDTH, 32, [this](double value) {
            if (controller)
                controller->borderSliderChanged(value);
        }));
    };
    rows.push_back(std::move(border));
    MenuRow radius{MenuRow::Item, 0, QString(), {}, false, {}, {}};
    radius.view = [this, labelled, slider] {
        return labelled(tr("Corner Radius"), slider(keys::CAMERA_CORNER_RADIUS, 64, [this](double value) {
            if (controller)
                controller->radiusSliderChanged(value);
        }));
    };
    rows.push_back(std::move(radius));
    rows.push_back(MenuRow::separator());
    rows.push_back({MenuRow::Item, 0, tr("Change Avatar..."), {}, false, [this] { pickCustomCameraImage(); }, {}});
    return rows;
}

void AppDelegate::setCameraSources(const std::vector<WebcamInfo>& sources, const QString& currentId)
{
    cameraSources = sources;
    currentCameraId = currentId;
    rebuildCameraItems();
}

void AppDelegate::rebuildCameraItems()
{
    QMenu* submenu = menuTable ? menuTable->submenuWithTag(CAMERA_TAG) : nullptr;
    if (!submenu)
        return;
    for (QAction* item : submenu->actions())
        if (item->data().toInt() >= PICK_CAMERA_TAG) {
            submenu->removeAction(item);
            item->deleteLater();
        }
    for (std::size_t i = 0; i < cameraSources.size(); ++i) {
        const int tag = PICK_CAMERA_TAG + static_cast<int>(i);
        QAction* item = submenu->addAction(cameraSources[i].name);
        item->setData(tag);
        item->setCheckable(true);
        item->setChecked(currentCameraId && cameraSources[i].id == *currentCameraId);
        connect(item, &QAction::triggered, item, [this, tag] {
            if (controller)
                controller->pickCamera(tag);
        });
    }
}

void AppDelegate::pickCustomCameraImage()
{
    platform.dialogs->activateApplication();
    const QString path = QFileDialog::getOpenFileName(nullptr, tr("Choose an image | Vistrale"), QString(),
        tr("Images (*.jpg *.jpeg *.bmp *.png *.heic *.heif *.webp)"));
    if (!path.isEmpty() && controller)
        controller->setAvatarImage(path);
}

void AppDelegate::pickBorderColor()
{
    if (menu)
        menu->close();
    platform.dialogs->activateApplication();
    const QColor color = QColorDialog::getColor(borderColorSetting(settings), nullptr, tr("Border Color"));
    if (color.isValid() && controller)
        controller->changeColor(color);
}

void AppDelegate::aboutWindow()
{
    showAboutAlert();
}

void AppDelegate::showPreviewWindow()
{
    if (!controller) {
        logLine("app menu showWindow: no VC");
        return;
    }
    if (controller->windowShown)
        controller->closeVistrale();
    else
        controller->showWindow();
}

void AppDelegate::hidePanelWindow()
{
    if (controller)
        controller->toggleShareWindowVisibility();
}

void AppDelegate::hideAll()
{
    if (controller && controller->sharedCount() > 0)
        controller->removeAllWindows();
}

void AppDelegate::takeScreenshot()
{
    if (controller)
        controller->screenshot(false);
}

void AppDelegate::copyScreenshot()
{
    if (controller)
        controller->screenshot(true);
}

void AppDelegate::toggleMouseClicks()
{
    const bool off = settings.toggle(keys::MOUSE_CLICKS_OFF);
    if (controller)
        controller->includeMouseClicks = !off;
}

void AppDelegate::settingsMic()
{
    if (!controller)
        return;
    informationAlert(*platform.dialogs, tr("Microphone Input"),
        tr("System Preferences > Sound > Input\nto change your microphone input"));
}

void AppDelegate::editOverlay()
{
    if (!controller)
        return;
    AlertSpec alert{tr("Text Overlay"), tr("Leave empty to hide the text overlay"), tr("OK"), tr("Cancel")};
    controller->dialogShown = true;
    const std::optional<QString> text
        = platform.dialogs->runTextAlert(alert, settings.text(keys::OVERLAY_TEXT).value_or(QString()));
    controller->dialogShown = false;
    if (!text)
        return;
    settings.setText(keys::OVERLAY_TEXT, *text);
    controller->setOverlayText(*text);
}

void AppDelegate::configureShortcut()
{
    if (!controller || !hotkeys)
        return;
    const QString before = shortcutText();
    vistrale::configureShortcut(*platform.dialogs, settings, *hotkeys);
    // An open help page shows the new shortcut.
    if (shortcutText() != before)
        controller->shortcutChanged(shortcutText());
}

// --- Local web pages ---

void AppDelegate::showHelpPage()
{
    if (controller)
        controller->showHelpPage();
}

void AppDelegate::showBackgroundPicker()
{
    if (controller)
        controller->showBackgroundPicker();
}

void AppDelegate::toggleMov()
{
    settings.toggle(keys::MOV);
}

void AppDelegate::toggleSound()
{
    settings.toggle(keys::SOUND_OFF);
}

void AppDelegate::toggleSmartScaling()
{
    const bool on = settings.toggle(keys::SMART_SCALING);
    if (controller)
        controller->setSmartScaling(on);
}

void AppDelegate::activateVistraleCamera()
{
    if (controller)
        controller->activateVistraleCamera();
}

void AppDelegate::deactivateVistraleCamera()
{
    if (controller)
        controller->deactivateVistraleCamera();
}

void AppDelegate::mirrorVistrale()
{
    const bool mirror = !settings.boolValue(keys::MIRROR);
    settings.setBool(keys::MIRROR, mirror);
    settings.sync();
    publishMirror(mirror);
}

void AppDelegate::publishMirror(bool mirror)
{
    platform.notifications->post(APP_NOTIFICATION, mirror ? "mirror=true" : "mirror=false");
    if (controller)
        controller->mirrorVistraleCamera = mirror;
}

void AppDelegate::openSystemPreferences()
{
    if (platform.permissions->screenCaptureAllowed()) {
        informationAlert(*platform.dialogs, tr("Vistrale is all set"),
            tr("Vistrale has permission to record your screen, you're all set!"));
        return;
    }
    if (controller)
        platform.systemActions->openSettingsPage(
            "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
}

void AppDelegate::showContact()
{
    platform.systemActions->openUrl(QUrl(QString("mailto:%1?subject=Vistrale").arg(SUPPORT_EMAIL)));
}

void AppDelegate::writeReview()
{
    platform.systemActions->openUrl(QUrl(REVIEW_PAGE));
}

void AppDelegate::shareVistrale()
{
    platform.systemActions->openUrl(QUrl(PRODUCT_PAGE));
}

void AppDelegate::terminate()
{
    // Not quit(): that first asks every window to close, and the preview window
    // answers a close by hiding, which cancels the quit.
    QApplication::exit(0);
}

// --- Recording ---

void AppDelegate::toggleRecording()
{
    if (controller)
        controller->toggleRecordingFromMenu();
}

void AppDelegate::setRecordingState(bool recording, bool withMicrophone)
{
    isRecording = recording;
    if (recordingStatus)
        recordingStatus->setRecordingState(recording, withMicrophone);
}

void AppDelegate::showRecordingTime(const QString& text, bool withMicrophone)
{
    if (recordingStatus)
        recordingStatus->showRecordingTime(text, withMicrophone);
}

void AppDelegate::resetStatusItem()
{
    if (recordingStatus)
        recordingStatus->resetStatusItem();
}

} // namespace vistrale
