#include "app/settings/settings_keys.h"
#include "documents/web_pages.h"
#include "tests/app/app_harness.h"
#include "tests/support/test_files.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QMenu>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vistrale;
using namespace vistrale::test;
using vistrale::test::AppHarness;

namespace {

QStringList titles(QMenu& menu)
{
    QStringList result;
    for (QAction* action : menu.actions())
        result.append(action->isSeparator() ? QString("-") : action->text());
    return result;
}

struct LaunchedApp : AppHarness {
    LaunchedApp()
    {
        settings->setBool(keys::ALREADY_SHOWN, true);
        launch();
    }
};

} // namespace

TEST(StatusMenu, ListsTheItemsInTheirOrderWithTheirRefreshedTitles)
{
    LaunchedApp app;
    app.fake.audio->inputName = "Studio Mic";
    app.delegate->statusMenu()->refresh();
    QStringList shown = titles(*app.delegate->mainMenu());
    EXPECT_EQ(shown,
        (QStringList{"About (Super+F1 to select windows)", "Show Vistrale", "Show Vistrale Share", "Clear all", "-",
            "Start Recording...", "Save Screenshot...\tShift+Super+6", "Copy Screenshot...\tShift+Ctrl+Super+6", "-",
            "Microphone (Studio Mic)", "Webcam", "Closed Captions", "Text Overlay...", "Background Image...",
            "Show Document...\tCtrl+V", "Keyboard Shortcut...\tSuper+F1", "-", "Save as MOV (default MP4)",
            "Sound Effect", "Highlight Mouse with Super", "Smart Scaling", "-", "Activate Vistrale Camera",
            "Mirror Camera", "Check Screen Permissions...", "-", "Help", "-", "Contact <support@vistrale.app>",
            "Review Vistrale...", "Share...", "Quit"}));
}

TEST(StatusMenu, MicrophoneItemFollowsTheDefaultInputDevice)
{
    LaunchedApp app;
    EXPECT_EQ(app.itemStartingWith("Microphone")->text(), "Microphone (none)");
    app.fake.audio->inputName = "Headset";
    EXPECT_EQ(app.itemStartingWith("Microphone")->text(), "Microphone (Headset)");

    app.itemStartingWith("Microphone")->trigger();
    ASSERT_EQ(app.fake.dialogs->shown.size(), 1u);
    EXPECT_EQ(app.fake.dialogs->shown[0].message, "Microphone Input");
    EXPECT_EQ(
        app.fake.dialogs->shown[0].informative, "System Preferences > Sound > Input\nto change your microphone input");
    EXPECT_EQ(app.fake.dialogs->shown[0].defaultButton, "Close");
    EXPECT_FALSE(app.fake.dialogs->shown[0].secondButton.has_value());
}

TEST(StatusMenu, TogglesStartAtTheirDefaultsAndReachTheSettingsAndTheController)
{
    // `controller`: the controller's flag, which follows the tick; `keepsFalse`: switched
    // back it stores false instead of removing its key.
    struct Row {
        int tag;
        const char* key;
        bool checked;
        std::function<bool(VistraleViewController&)> controller;
        bool keepsFalse = false;
    };
    const Row rows[] = {
        {SOUND_TAG, keys::SOUND_OFF, true, nullptr},
        {MOV_TAG, keys::MOV, false, nullptr},
        {SMART_SCALING_TAG, keys::SMART_SCALING, false, [](VistraleViewController& vc) { return vc.smartScaling; }},
        {MOUSE_CLICKS_TAG, keys::MOUSE_CLICKS_OFF, true,
            [](VistraleViewController& vc) { return vc.includeMouseClicks; }},
        {MIRROR_TAG, keys::MIRROR, false, [](VistraleViewController& vc) -> bool { return vc.mirrorVistraleCamera; }, true},
    };
    LaunchedApp app;
    app.fake.notifications->posted.clear();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(app.item(row.tag)->isChecked(), row.checked);
        for (bool switched : {true, false}) {
            app.item(row.tag)->trigger();
            EXPECT_EQ(app.item(row.tag)->isChecked(), row.checked != switched);
            if (row.controller) {
                EXPECT_EQ(row.controller(*app.delegate->vc()), row.checked != switched);
            }
            const auto stored = app.reopenSettings();
            EXPECT_EQ(stored->contains(row.key), switched || row.keepsFalse);
            EXPECT_EQ(stored->boolValue(row.key), switched);
        }
    }
    QStringList mirrorNotes;
    for (const auto& posted : app.fake.notifications->posted)
        if (posted.second.startsWith("mirror="))
            mirrorNotes << posted.second;
    EXPECT_EQ(mirrorNotes, (QStringList{"mirror=true", "mirror=false"}));
    EXPECT_TRUE(app.item(SHOW_WINDOW_TAG)->isChecked());
    // Screen recording needs no permission here, so there is nothing to check.
    EXPECT_FALSE(app.item(SCREEN_PERMISSION_TAG)->isEnabled());
}

TEST(StatusMenu, ActivateVistraleCameraRunsTheSetUpAndFollowsTheV4L2Device)
{
    LaunchedApp app;
    VistraleViewController& vc = *app.delegate->vc();
    vc.cameraSetupPaths.helper = app.dir.filePath("vistrale-camera-setup");
    vc.cameraSetupPaths.helperOwner = geteuid();
    vc.cameraSetupPaths.sysRoot = app.dir.filePath("sys");
    vc.cameraSetupPaths.modinfo = app.dir.filePath("no-modinfo");
    ASSERT_TRUE(writeFile(vc.cameraSetupPaths.helper, "#!/bin/sh\n", true));

    // No camera stream found: the item is there to install it.
    EXPECT_TRUE(app.item(ACTIVATE_TAG)->isEnabled());
    app.item(ACTIVATE_TAG)->trigger();
    ASSERT_EQ(app.fake.privileged->runs.size(), 1u);
    EXPECT_EQ(app.fake.privileged->runs[0], (QStringList{vc.cameraSetupPaths.helper, "activate", "--at-boot"}));
    EXPECT_TRUE(vc.activating());
    ASSERT_TRUE(app.fake.privileged->finishNext(PrivilegedResult{true, 0, {}}));
    QCoreApplication::processEvents();
    ASSERT_FALSE(app.fake.dialogs->shown.empty());
    EXPECT_EQ(app.fake.dialogs->shown.back().message, "Success");
    EXPECT_EQ(app.fake.dialogs->shown.back().informative, "The Vistrale camera is activated");
    EXPECT_FALSE(vc.activating());

    // The stream found but no V4L2 device: still offered, since PipeWire readers
    // need nothing installed and V4L2 readers do.
    app.fake.camera->addVistraleCamera(2);
    app.fake.camera->installed = false;
    vc.connectToVistraleCamera();
    ASSERT_TRUE(vc.foundCameraStream());
    EXPECT_TRUE(app.item(ACTIVATE_TAG)->isEnabled());
    app.fake.camera->installed = true;
    EXPECT_FALSE(app.item(ACTIVATE_TAG)->isEnabled());

    // The delegate's deactivation, which no item calls, removes it again.
    app.delegate->deactivateVistraleCamera();
    ASSERT_EQ(app.fake.privileged->runs.size(), 2u);
    EXPECT_EQ(app.fake.privileged->runs[1], (QStringList{vc.cameraSetupPaths.helper, "deactivate"}));
}

TEST(StatusMenu, TextOverlayStoresTheTextOnOkAndNothingOnCancel)
{
    LaunchedApp app;
    QAction* item = app.itemStartingWith("Text Overlay...");
    app.fake.dialogs->typedTexts = {"Quarterly review"};
    bool dialogShownWhileRunning = false;
    app.fake.dialogs->whileShown = [&](const AlertSpec&) { dialogShownWhileRunning = app.delegate->vc()->dialogShown; };
    item->trigger();
    EXPECT_TRUE(dialogShownWhileRunning);
    EXPECT_FALSE(app.delegate->vc()->dialogShown);
    ASSERT_EQ(app.fake.dialogs->shown.size(), 1u);
    EXPECT_EQ(app.fake.dialogs->shown[0].message, "Text Overlay");
    EXPECT_EQ(app.fake.dialogs->shown[0].informative, "Leave empty to hide the text overlay");
    EXPECT_EQ(app.fake.dialogs->textFieldInitial[0], "");
    EXPECT_EQ(app.settings->text(keys::OVERLAY_TEXT), QString("Quarterly review"));
    EXPECT_FALSE(app.delegate->vc()->logoLayer->isHidden());

    app.fake.dialogs->answers = {false};
    app.fake.dialogs->typedTexts = {"never stored"};
    item->trigger();
    EXPECT_EQ(app.fake.dialogs->textFieldInitial[1], "Quarterly review");
    EXPECT_EQ(app.settings->text(keys::OVERLAY_TEXT), QString("Quarterly review"));

    app.fake.dialogs->typedTexts = {""};
    item->trigger();
    EXPECT_TRUE(app.delegate->vc()->logoLayer->isHidden());
}

TEST(StatusMenu, ShareWindowItemShowsTheShareWindowAndParksItAgain)
{
    LaunchedApp app;
    EXPECT_EQ(app.item(HIDE_PANEL_WINDOW_TAG)->text(), "Show Vistrale Share");
    app.item(HIDE_PANEL_WINDOW_TAG)->trigger();
    EXPECT_EQ(app.delegate->vc()->panelFrame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(app.item(HIDE_PANEL_WINDOW_TAG)->text(), "Hide Vistrale Share");
    app.item(HIDE_PANEL_WINDOW_TAG)->trigger();
    EXPECT_EQ(app.item(HIDE_PANEL_WINDOW_TAG)->text(), "Show Vistrale Share");
    EXPECT_EQ(app.delegate->vc()->panelFrame().topLeft(), QPointF(1920 - 32, 32 - 1080));
}

TEST(StatusMenu, PermissionCheckOpensTheSettingsOnlyWhileRecordingIsNotAllowed)
{
    LaunchedApp app;
    // The item is disabled while permission exists; its handler still answers.
    app.delegate->openSystemPreferences();
    ASSERT_EQ(app.fake.dialogs->shown.size(), 1u);
    EXPECT_EQ(app.fake.dialogs->shown[0].message, "Vistrale is all set");
    EXPECT_EQ(app.fake.dialogs->shown[0].informative, "Vistrale has permission to record your screen, you're all set!");
    EXPECT_TRUE(app.fake.systemActions->settingsPages.empty());

    AppHarness denied;
    denied.settings->setBool(keys::ALREADY_SHOWN, true);
    denied.fake.permissions->allowed = false;
    denied.launch();
    QAction* item = denied.item(SCREEN_PERMISSION_TAG);
    ASSERT_TRUE(item->isEnabled());
    item->trigger();
    EXPECT_TRUE(denied.fake.dialogs->shown.empty());
    ASSERT_EQ(denied.fake.systemActions->settingsPages.size(), 1);
    EXPECT_EQ(denied.fake.systemActions->settingsPages[0],
        "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
}

TEST(StatusMenu, AddressItemsOpenMailTheReviewPageAndTheProductPageAndClearAllNeedsSharedWindows)
{
    LaunchedApp app;
    app.item(HIDE_TAG)->trigger();
    EXPECT_TRUE(app.fake.sounds->played->isEmpty());
    EXPECT_EQ(app.delegate->vc()->sharedCount(), 0u);
    app.itemStartingWith("Contact")->trigger();
    app.itemStartingWith("Review Vistrale...")->trigger();
    app.itemStartingWith("Share...")->trigger();
    ASSERT_EQ(app.fake.systemActions->opened.size(), 3u);
    EXPECT_EQ(app.fake.systemActions->opened[0].scheme(), "mailto");
    EXPECT_EQ(app.fake.systemActions->opened[0].query(), "subject=Vistrale");
    EXPECT_TRUE(app.fake.systemActions->opened[1].toString().endsWith("action=write-review"));
    EXPECT_EQ(app.fake.systemActions->opened[2].scheme(), "https");
}

TEST(StatusMenu, WithoutAControllerTheShortcutReadsCommandF1AndShowPreviewDoesNothing)
{
    AppHarness app;
    EXPECT_EQ(app.delegate->shortcutText(), "Super+F1");
    app.delegate->showPreviewWindow();
    app.delegate->editOverlay();
    app.delegate->settingsMic();
    EXPECT_TRUE(app.fake.dialogs->shown.empty());
}

TEST(StatusMenu, HelpAndBackgroundImageOpenOnePageWindowEach)
{
    LaunchedApp app;
    for (const QString title : {"Help", "Background Image..."}) {
        QAction* item = app.delegate->statusMenu()->itemWithTitlePrefix(title);
        ASSERT_TRUE(item);
        item->trigger();
        WebPages* pages = app.delegate->vc()->webPages();
        ASSERT_TRUE(pages);
        WebViewWindowController* page = title == "Help" ? pages->help() : pages->backgroundPicker();
        ASSERT_TRUE(page);
        EXPECT_EQ(page->window()->windowTitle(), title == "Help" ? "Vistrale Help" : "Vistrale Backgrounds");
        item->trigger();
        EXPECT_EQ(title == "Help" ? pages->help() : pages->backgroundPicker(), page);
        page->close();
    }
}

TEST(StatusMenu, ShowDocumentOpensTheChosenFileAndPastingWaitsForOwnDialogs)
{
    LaunchedApp app;
    QAction* item = app.itemStartingWith("Show Document...");
    auto viewers = [] {
        int count = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            count += window->windowTitle() == "vistrale-document-viewer" && window->isVisible();
        return count;
    };
    // Other tests of this run may have left viewers open.
    const int before = viewers();
    app.fake.dialogs->openPath = QCoreApplication::applicationDirPath() + "/missing.pdf";
    item->trigger();
    ASSERT_EQ(app.fake.dialogs->openPanels.size(), 1u);
    EXPECT_EQ(app.fake.dialogs->openPanels[0].allowedTypes,
        QStringList({"ppt", "pptx", "key", "doc", "docx", "rtf", "txt", "odt", "pages", "pdf"}));
    EXPECT_EQ(viewers(), before + 1);
    // A dropped document goes to the viewer too, whatever the case of its extension.
    app.delegate->vc()->handleDroppedFile(QCoreApplication::applicationDirPath() + "/dropped.PDF");
    EXPECT_EQ(viewers(), before + 2);
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->windowTitle() == "vistrale-document-viewer")
            window->close();

    // While one of Vistrale's own dialogs shows, Ctrl+V leaves the clipboard alone.
    app.fake.clipboard->plainText = "no link here";
    app.delegate->vc()->dialogShown = true;
    app.delegate->vc()->openClipboardLink();
    EXPECT_TRUE(app.fake.dialogs->shown.empty());
    app.delegate->vc()->dialogShown = false;
    app.delegate->vc()->openClipboardLink();
    ASSERT_EQ(app.fake.dialogs->shown.size(), 1u);
    EXPECT_EQ(app.fake.dialogs->shown[0].informative, "Could not find a link in the clipboard");
}
