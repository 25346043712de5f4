#include "app/about_alert.h"
#include "app/preview_window.h"
#include "app/settings/geometry_strings.h"
#include "app/settings/settings_keys.h"
#include "app/settings/shortcut.h"
#include "preview/desktop_geometry.h"
#include "tests/app/app_harness.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

using namespace vistrale;
using vistrale::test::AppHarness;

namespace {

const QString ABOUT_TEXT = "Mouse over any window and press Super+F1 and it will appear in the preview window\n\n"
                           "Pick «Vistrale» in your video app instead of your entire screen\n\n"
                           "Record Vistrale with or without audio";

} // namespace

TEST(AboutAlert, NamesTheVersionOrVersionOneAndTheShortcut)
{
    const AlertSpec alert = aboutAlertSpec("2.3.4", "Super+F1");
    EXPECT_EQ(alert.message, "Vistrale version 2.3.4");
    EXPECT_EQ(alert.informative, ABOUT_TEXT);
    EXPECT_EQ(alert.defaultButton, "OK");
    EXPECT_FALSE(alert.secondButton.has_value());
    EXPECT_EQ(aboutAlertSpec("", "Super+F1").message, "Vistrale version 1.0.0");
}

TEST(AboutAlert, ShowsTheStoredShortcutWhenChosenFromTheMenu)
{
    AppHarness app;
    app.settings->setBool(keys::ALREADY_SHOWN, true);
    GlobalKeybindPreferences shortcut;
    shortcut.control = true;
    shortcut.option = true;
    shortcut.characters = "K";
    shortcut.keyCode = 40;
    saveShortcut(*app.settings, shortcut);
    app.launch();

    app.item(HEADER_TAG)->trigger();
    app.fake.clock->runPending();

    ASSERT_EQ(app.fake.dialogs->shown.size(), 1u);
    EXPECT_EQ(app.fake.dialogs->shown[0].message, "Vistrale version 2.3.4");
    const QString display = shortcutDisplayString(shortcut);
    EXPECT_TRUE(app.fake.dialogs->shown[0].informative.startsWith("Mouse over any window and press " + display + " "));
    EXPECT_GE(app.fake.dialogs->activations, 1);
}

TEST(AboutAlert, AsksForScreenPermissionAfterwardsWhenItIsMissing)
{
    AppHarness app;
    app.settings->setBool(keys::ALREADY_SHOWN, true);
    app.fake.permissions->allowed = false;
    app.launch();
    app.fake.dialogs->answers = {true, true};

    app.item(HEADER_TAG)->trigger();
    app.fake.clock->runPending();

    ASSERT_EQ(app.fake.dialogs->shown.size(), 2u);
    EXPECT_EQ(app.fake.dialogs->shown[1].message, "Info");
    EXPECT_EQ(app.fake.dialogs->shown[1].informative, "Vistrale needs your permission to record your screen");
    EXPECT_EQ(app.fake.dialogs->shown[1].defaultButton, "Open Preferences");
    ASSERT_EQ(app.fake.systemActions->settingsPages.size(), 1);
    EXPECT_EQ(app.fake.systemActions->settingsPages[0],
        "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
}

TEST(FirstRunWelcome, IsShownOnceASecondAfterTheFirstLaunch)
{
    AppHarness first;
    first.launch();
    first.fake.clock->advance(0.9);
    EXPECT_TRUE(first.fake.dialogs->shown.empty());
    first.fake.clock->advance(0.2);
    first.fake.clock->runPending();
    ASSERT_EQ(first.fake.dialogs->shown.size(), 1u);
    EXPECT_EQ(first.fake.dialogs->shown[0].informative, ABOUT_TEXT);
    EXPECT_TRUE(first.reopenSettings()->boolValue(keys::ALREADY_SHOWN));

    AppHarness second("2.3.4", first.path);
    second.launch();
    second.fake.clock->advance(5);
    EXPECT_TRUE(second.fake.dialogs->shown.empty());
}

TEST(FirstRunWelcome, IsNotShownWhenTheFirstLaunchOpensAFile)
{
    AppHarness app;
    EXPECT_TRUE(app.delegate->openFile(app.dir.filePath("slides.pdf")));
    app.launch();
    app.fake.clock->advance(5);

    EXPECT_TRUE(app.fake.dialogs->shown.empty());
    EXPECT_FALSE(app.delegate->vc()->SHOW_ABOUT_ON_LAUNCH);
    ASSERT_TRUE(app.delegate->fileToOpen.has_value());
    EXPECT_EQ(app.delegate->fileToOpen->toLocalFile(), app.dir.filePath("slides.pdf"));
    // The welcome counts as shown: the next launch stays quiet too.
    EXPECT_TRUE(app.settings->boolValue(keys::ALREADY_SHOWN));
}

TEST(StartUp, PublishesTheMirrorStateBeforeAnythingElseAndAnswersTheCameraAskingForIt)
{
    AppHarness app;
    app.settings->setBool(keys::MIRROR, true);
    app.launch();
    ASSERT_FALSE(app.fake.notifications->posted.empty());
    EXPECT_EQ(
        app.fake.notifications->posted[0], std::make_pair(QString("com.quorvia.vistrale.app"), QString("mirror=true")));
    EXPECT_TRUE(app.delegate->vc()->mirrorVistraleCamera);

    app.fake.notifications->posted.clear();
    app.fake.notifications->deliver("com.quorvia.vistrale.plugin", "something else");
    EXPECT_TRUE(app.fake.notifications->posted.empty());
    app.item(MIRROR_TAG)->trigger();
    app.fake.notifications->posted.clear();
    app.fake.notifications->deliver("com.quorvia.vistrale.plugin", "mirrorstatus");
    ASSERT_EQ(app.fake.notifications->posted.size(), 1u);
    EXPECT_EQ(app.fake.notifications->posted[0].second, "mirror=false");
}

TEST(StartUp, KeepsOnlyTextCameraAndMicrophoneIdentifiers)
{
    AppHarness app;
    app.settings->setText(keys::CAMERA_ID, "usb-cam-1");
    app.settings->setData(keys::MIC_ID, QByteArray("\x01\x02", 2));
    app.launch();
    EXPECT_EQ(app.delegate->currentCameraId, QString("usb-cam-1"));
    EXPECT_FALSE(app.delegate->currentMicId.has_value());
}

TEST(PreviewWindow, OpensAtTheTopRightOfTheMainDisplayByDefault)
{
    AppHarness app;
    app.launch();
    PreviewWindow* window = app.delegate->window();
    EXPECT_EQ(frameFromQtGeometry(window->geometry()), QRectF(1920 - 274 - 8, 1080 - 154 - 8 - 25, 274, 154));
    EXPECT_EQ(window->minimumSize(), QSize(160, 90));
    EXPECT_EQ(window->windowTitle(), "Vistrale Preview");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    const quintptr id = window->winId();
    EXPECT_TRUE(app.fake.ownWindows->keepAbove[id]);
    EXPECT_EQ(app.fake.ownWindows->aspect[id], std::make_pair(1920, 1080));
    EXPECT_NE(std::find(app.fake.ownWindows->onAllDesktops.begin(), app.fake.ownWindows->onAllDesktops.end(), id),
        app.fake.ownWindows->onAllDesktops.end());
}

TEST(PreviewWindow, OpensAtTheStoredFrameMovedOntoItsScreenOrAtTheDefaultForBadOnes)
{
    const QRectF standard(1920 - 274 - 8, 1080 - 154 - 8 - 25, 274, 154);
    const struct {
        const char* stored;
        QRectF expected;
    } cases[] = {
        {"{{100, 200}, {320, 180}}", QRectF(100, 200, 320, 180)},
        // Shrunk and moved onto the screen.
        {"{{0, 0}, {40000, 40000}}", QRectF(0, 0, 1080, 1080)},
        {"{{1800, 1000}, {320, 180}}", QRectF(1600, 900, 320, 180)},
        {"{{-100, -50}, {3840, 2160}}", QRectF(0, 0, 1920, 1080)},
        // Not a rectangle, or off every screen.
        {"{{100, 200}, {320}}", standard},
        {"garbage", standard},
        {"{{1, 2}, {-5, 9}}", standard},
        {"{{nan, 0}, {10, 10}}", standard},
        {"{{0, 0}, {1e300, 1e300}}", standard},
        {"{{5000, 5000}, {320, 180}}", standard},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        AppHarness app;
        app.settings->setText(keys::PREVIEW_FRAME, c.stored);
        app.launch();
        EXPECT_EQ(frameFromQtGeometry(app.delegate->window()->geometry()), c.expected);
        EXPECT_EQ(app.delegate->vc()->previewRect, QRectF(QPointF(0, 0), c.expected.size()));
    }
}

TEST(PreviewWindow, ClosingHidesItAndShowVistraleBringsItBackInPlace)
{
    AppHarness app;
    app.settings->setBool(keys::ALREADY_SHOWN, true);
    app.launch();
    PreviewWindow* window = app.delegate->window();
    const QRect before = window->geometry();

    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(app.delegate->vc()->windowShown);
    EXPECT_FALSE(app.item(SHOW_WINDOW_TAG)->isChecked());

    app.item(SHOW_WINDOW_TAG)->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(app.delegate->vc()->windowShown);
    EXPECT_EQ(window->geometry(), before);
    EXPECT_TRUE(app.item(SHOW_WINDOW_TAG)->isChecked());

    // The close button does the same as closing.
    app.delegate->vc()->closeVistrale();
    EXPECT_FALSE(window->isVisible());
}

TEST(PreviewWindow, WritesItsFrameWhenTheUserMovesIt)
{
    AppHarness app;
    app.settings->setBool(keys::ALREADY_SHOWN, true);
    app.launch();
    PreviewWindow* window = app.delegate->window();
    EXPECT_FALSE(app.settings->contains(keys::PREVIEW_FRAME));

    window->move(window->pos() - QPoint(300, -40));
    for (int i = 0; i < 100 && !app.settings->contains(keys::PREVIEW_FRAME); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    const std::optional<QString> stored = app.reopenSettings()->text(keys::PREVIEW_FRAME);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(parseRectString(*stored), frameFromQtGeometry(window->geometry()));
}

TEST(StartUp, RegistersTheShortcutSoThatItPicksTheWindowUnderThePointer)
{
    AppHarness app;
    app.settings->setBool(keys::ALREADY_SHOWN, true);
    app.fake.windowServer->captureStreams = false;
    Window window;
    window.windowNumber = 77;
    window.frame = QRectF(100, 100, 300, 200);
    window.applicationName = "xlogo";
    window.windowName = "xlogo";
    app.fake.windowServer->windows.append(window);
    app.fake.pointerKeys->location = QPointF(200, 200);
    app.launch();

    // Super+F1, and the three fixed combinations.
    EXPECT_EQ(app.fake.pointerKeys->hotKeys.size(), 4u);
    EXPECT_TRUE(app.fake.pointerKeys->pressHotKey(122, HOTKEY_COMMAND));
    EXPECT_TRUE(app.delegate->vc()->isShared(77));
}

TEST(PreviewWindow, FollowsAResolutionChangeToTheTopRightOfItsScreen)
{
    AppHarness app;
    app.settings->setBool(keys::ALREADY_SHOWN, true);
    app.launch();
    app.delegate->vc()->changeResolution(1280, 720);
    EXPECT_EQ(
        frameFromQtGeometry(app.delegate->window()->geometry()), QRectF(1920 - 182 - 8, 1080 - 102 - 8 - 25, 182, 102));
    EXPECT_EQ(app.fake.ownWindows->aspect[app.delegate->window()->winId()], std::make_pair(1280, 720));
}
