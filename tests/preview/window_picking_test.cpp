#include "app/settings/settings_keys.h"
#include "overlays/highlight_window_controller.h"
#include "preview/sk_image_view.h"
#include "tests/preview/controller_harness.h"

#include <QThread>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

QImage solid(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

// The controller in image mode (no capture streams), with windows a test arranges and
// a pointer it moves.
struct PickingHarness : CaptureHarness {
    PickingHarness()
        : CaptureHarness([](FakePlatform& fake) { fake.windowServer->captureStreams = false; })
    {
    }

    void addDesktopWindow(const Window& window, QColor colour = Qt::red)
    {
        fake.windowServer->windows.append(window);
        fake.windowServer->windowImages.insert(window.windowNumber, solid(window.frame.size().toSize(), colour));
    }
    void pointAt(QPointF point) { fake.pointerKeys->location = point; }
    // Puts a window on the desktop and presses the shortcut over it.
    void pick(const Window& window)
    {
        addDesktopWindow(window);
        pointAt(window.frame.center());
        pressShortcut();
    }
    // Picks a window, animation over.
    void share(const Window& window)
    {
        pick(window);
        run(0.5);
    }
    // The shortcut as the hot key delivers it.
    void pressShortcut() { NotificationCenter::defaultCenter().post("keyboard", {{"label", "keyboard"}}); }
    // Runs ticks and animations for that long.
    void run(double seconds) { fake.clock->advance(seconds); }
    QRectF viewFrame(qint64 number) { return vc->imageView(number)->layer()->frame(); }
};

} // namespace

TEST(WindowPicking, TheShortcutOverAWindowAddsItWhereItStandsOnTheScreen)
{
    PickingHarness h;
    h.pick(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    ASSERT_TRUE(h.vc->isShared(WINDOW + 11));
    EXPECT_EQ(h.fake.sounds->played->size(), 1);
    // Faded in from 80 % of its size: half-way it is smaller and translucent.
    h.fake.clock->advance(0.15);
    const DrawListRef halfWay = h.vc->shareScene().snapshot();
    bool fading = false;
    for (const DrawOp& op : halfWay->ops)
        if (op.opacity > 0 && op.opacity < 1 && op.rect.width() < 400 && op.rect.width() > 320)
            fading = true;
    EXPECT_TRUE(fading);
    h.run(0.3);
    EXPECT_EQ(h.viewFrame(WINDOW + 11), QRectF(100, 200, 400, 300));
    EXPECT_EQ(h.vc->imageView(WINDOW + 11)->layer()->opacity(), 1.0);
    EXPECT_TRUE(h.vc->isSharingWindows);
    ASSERT_NE(h.vc->highlightView(WINDOW + 11), nullptr);
    EXPECT_EQ(h.vc->positions.value(WINDOW + 11), QRectF(100, 200, 400, 300));
}

TEST(WindowPicking, PressingAgainOverASharedWindowTakesItOutWithASoundUnlessSoundIsOff)
{
    for (bool soundOff : {false, true}) {
        SCOPED_TRACE(soundOff);
        PickingHarness h;
        h.settings->setBool(keys::SOUND_OFF, soundOff);
        h.pick(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
        h.run(1.0);
        h.pressShortcut();
        EXPECT_TRUE(h.vc->isShared(WINDOW + 11)); // until the 0.3 s removal animation ends
        h.run(0.4);
        EXPECT_FALSE(h.vc->isShared(WINDOW + 11));
        EXPECT_EQ(h.vc->highlightView(WINDOW + 11), nullptr);
        EXPECT_FALSE(h.vc->positions.contains(WINDOW + 11));
        EXPECT_EQ(h.vc->lastWindow, -1);
        EXPECT_EQ(h.fake.sounds->played->size(), soundOff ? 0 : 2);
    }
}

TEST(WindowPicking, ADoublePressFillsTheOutputAndAThirdPressStartsANewPair)
{
    PickingHarness h;
    h.pick(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    h.run(0.2);
    h.pressShortcut();
    EXPECT_EQ(h.vc->lastWindow, -1);
    EXPECT_EQ(h.vc->fullscreenWindows.count(WINDOW + 11), 1u);
    h.run(0.5);
    EXPECT_EQ(h.viewFrame(WINDOW + 11), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(h.vc->fullscreenWindows.at(WINDOW + 11), 2);
    EXPECT_TRUE(h.vc->isShared(WINDOW + 11));

    // The third press within 0.5 s of the second is a first press again: it drops it.
    h.pressShortcut();
    h.run(0.4);
    EXPECT_FALSE(h.vc->isShared(WINDOW + 11));
}

TEST(WindowPicking, NeverPicksItsOwnWindowsOrTheFilteredOwner)
{
    PickingHarness h;
    h.addDesktopWindow(makeWindow(WINDOW + 21, QRectF(0, 0, 600, 600), "vistrale", "Vistrale Preview"));
    h.addDesktopWindow(makeWindow(WINDOW + 22, QRectF(0, 0, 600, 600), "LanguageTool for Desktop", "Check"));
    h.addDesktopWindow(makeWindow(WINDOW + 23, QRectF(0, 0, 600, 600), "xterm", "shell"));
    h.pointAt(QPointF(300, 300));
    h.pressShortcut();
    EXPECT_FALSE(h.vc->isShared(WINDOW + 21));
    EXPECT_FALSE(h.vc->isShared(WINDOW + 22));
    EXPECT_TRUE(h.vc->isShared(WINDOW + 23));

    // The document viewer is ours but is shared like any window.
    PickingHarness viewer;
    viewer.addDesktopWindow(makeWindow(WINDOW + 31, QRectF(0, 0, 600, 600), "Vistrale", "vistrale-document-viewer"));
    viewer.pointAt(QPointF(300, 300));
    viewer.pressShortcut();
    EXPECT_TRUE(viewer.vc->isShared(WINDOW + 31));
}

TEST(WindowPicking, TheBareDesktopOffersTheEntireScreenUntilTheNextPress)
{
    PickingHarness h;
    Window desktop = makeWindow(WINDOW + 5, QRectF(0, 0, 1920, 1080), "Window Server", "Desktop");
    h.fake.windowServer->desktop = desktop;
    h.fake.windowServer->displayImages.insert(1, solid(QSize(1920, 1080), Qt::green));
    h.addDesktopWindow(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    h.pointAt(QPointF(1500, 900));

    h.fake.dialogs->answers = {false};
    h.pressShortcut();
    ASSERT_EQ(h.fake.dialogs->shown.size(), 1u);
    EXPECT_EQ(h.fake.dialogs->shown[0].message, "Share entire screen?");
    EXPECT_EQ(h.fake.dialogs->shown[0].informative, "Are you sure you want to share your entire screen in Vistrale?");
    EXPECT_FALSE(h.vc->isShared(WINDOW + 5));

    h.run(1.0);
    h.pressShortcut(); // answered "Yes"
    ASSERT_TRUE(h.vc->isShared(WINDOW + 5));
    EXPECT_EQ(h.vc->sharingEntireScreen, WINDOW + 5);
    EXPECT_EQ(h.vc->displayId, std::optional<quint32>(1));
    EXPECT_EQ(h.viewFrame(WINDOW + 5), QRectF(0, 0, 1920, 1080));

    // A press anywhere, even over a window, ends it.
    h.pointAt(QPointF(150, 250));
    h.run(1.0);
    h.pressShortcut();
    EXPECT_EQ(h.vc->sharingEntireScreen, 0);
    EXPECT_FALSE(h.vc->displayId.has_value());
    h.run(0.4);
    EXPECT_EQ(h.vc->sharedCount(), 0u);
}

TEST(WindowPicking, NothingUnderThePointerDoesNothing)
{
    PickingHarness h;
    h.addDesktopWindow(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    h.pointAt(QPointF(1500, 900));
    h.pressShortcut();
    EXPECT_EQ(h.vc->sharedCount(), 0u);
    EXPECT_TRUE(h.fake.sounds->played->isEmpty());
}

TEST(FrameClock, RemovesVanishedWindowsButKeepsHiddenOnes)
{
    PickingHarness h;
    h.pick(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    h.share(makeWindow(WINDOW + 12, QRectF(900, 200, 400, 300), "xlogo", "xlogo"));
    ASSERT_EQ(h.vc->sharedCount(), 2u);

    h.fake.windowServer->windows[0].minimised = true; // still stacked: kept
    h.fake.windowServer->windows.removeAt(1); // gone: removed
    h.run(0.6);
    EXPECT_TRUE(h.vc->isShared(WINDOW + 11));
    EXPECT_FALSE(h.vc->isShared(WINDOW + 12));
}

TEST(FrameClock, StacksSharedWindowsAndShadowsTheFrontmost)
{
    PickingHarness h;
    h.addDesktopWindow(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    h.addDesktopWindow(makeWindow(WINDOW + 12, QRectF(300, 300, 400, 300), "xlogo", "xlogo"));
    for (QPointF at : {QPointF(150, 250), QPointF(650, 550)}) {
        h.pointAt(at);
        h.pressShortcut();
    }
    h.run(0.5);
    // 11 is in front on the desktop.
    EXPECT_EQ(h.vc->imageView(WINDOW + 11)->layer()->zPosition(), 101);
    EXPECT_EQ(h.vc->imageView(WINDOW + 12)->layer()->zPosition(), 100);
    EXPECT_TRUE(h.vc->imageView(WINDOW + 11)->isActiveWindow);
    EXPECT_FALSE(h.vc->imageView(WINDOW + 12)->isActiveWindow);
    EXPECT_EQ(h.vc->imageView(WINDOW + 11)->layer()->shadow()->blurRadius, 8.0);
    EXPECT_EQ(h.vc->imageView(WINDOW + 12)->layer()->shadow()->blurRadius, 2.0);

    std::swap(h.fake.windowServer->windows[0], h.fake.windowServer->windows[1]);
    h.run(0.1);
    EXPECT_EQ(h.vc->imageView(WINDOW + 12)->layer()->zPosition(), 101);
    EXPECT_TRUE(h.vc->imageView(WINDOW + 12)->isActiveWindow);
    EXPECT_FALSE(h.vc->imageView(WINDOW + 11)->isActiveWindow);
    EXPECT_EQ(h.vc->imageView(WINDOW + 11)->layer()->shadow()->blurRadius, 2.0);
}

TEST(FrameClock, FollowsAMovedAndResizedWindowWithinATenthOfASecondUnlessATickIsStillRunning)
{
    PickingHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    h.vc->fireTimerDone = false; // as if a tick were queued
    h.fake.windowServer->windows[0].frame = QRectF(700, 100, 500, 350);
    h.run(0.5);
    EXPECT_EQ(h.vc->positions.value(WINDOW + 11), QRectF(100, 200, 400, 300));
    h.vc->fireTimerDone = true;
    h.run(0.2);
    EXPECT_EQ(h.vc->positions.value(WINDOW + 11), QRectF(700, 100, 500, 350));
    EXPECT_EQ(h.viewFrame(WINDOW + 11), QRectF(700, 100, 500, 350));
}

TEST(FrameClock, SkipsTicksWhileTheShareWindowIsRearranged)
{
    PickingHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    Window panel = makeWindow(h.vc->panelWindowID, QRectF(3000, 0, 960, 540), "other", "Vistrale Share");
    h.fake.windowServer->windows.append(panel);
    h.fake.windowServer->windows[0].frame = QRectF(700, 100, 500, 350);
    h.run(0.2);
    EXPECT_TRUE(h.vc->missionControl);
    EXPECT_EQ(h.vc->positions.value(WINDOW + 11), QRectF(100, 200, 400, 300));
    h.fake.windowServer->windows.last().frame = QRectF(3000, 0, 1920, 1080);
    h.run(0.2);
    EXPECT_FALSE(h.vc->missionControl);
    EXPECT_EQ(h.vc->positions.value(WINDOW + 11), QRectF(700, 100, 500, 350));
}

TEST(FrameClock, ImageModeShowsEachWindowsPictureInTheOutput)
{
    PickingHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    h.fake.windowServer->windowImages[WINDOW + 11] = solid(QSize(400, 300), QColor(0, 255, 0));
    const quint64 drawn = h.vc->compositor().framesDrawn();
    h.run(0.1);
    for (int i = 0; i < 300 && h.vc->compositor().framesDrawn() == drawn; ++i)
        QThread::msleep(10);
    h.run(0.1);
    for (int i = 0; i < 100; ++i) {
        QThread::msleep(5);
        const FrameRef frame = h.vc->lastCapturedFrame().surface;
        if (frame && frame->image.pixelColor(300, 1080 - 350) == QColor(0, 255, 0))
            break;
    }
    const FrameRef frame = h.vc->lastCapturedFrame().surface;
    ASSERT_TRUE(frame);
    // The middle of the window's rectangle in the output (bottom-left 100, 200).
    EXPECT_EQ(frame->image.pixelColor(300, 1080 - 350), QColor(0, 255, 0));
    // Outside it, the backdrop.
    EXPECT_NE(frame->image.pixelColor(50, 1080 - 100), QColor(0, 255, 0));
}

TEST(CommandDoublePress, TwoCommandPressesWithinHalfASecondArmRegionDrawing)
{
    PickingHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    auto press = [&](bool down) {
        h.fake.pointerKeys->sendEvent(
            PointerEvent{PointerEvent::FlagsChanged, QPointF(150, 250), down ? unsigned(CommandFlag) : 0u});
    };
    press(true);
    press(false);
    const double first = h.vc->lastCommandPressed;
    h.fake.clock->advance(0.2);
    h.fake.pointerKeys->modifiers = 0;
    press(true);
    EXPECT_TRUE(h.vc->commandDoublePressed);
    EXPECT_EQ(h.vc->lastCommandPressed, first);
}

TEST(PreviewClicks, AClickRemovesTheWindowAndACommandClickCyclesItsBorder)
{
    PickingHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    const QList<QColor> expected{Qt::yellow, QColor::fromRgbF(0.3f, 0.3f, 1.0f), QColor::fromRgbF(0.3f, 1.0f, 0.3f),
        QColor::fromRgbF(1.0f, 0.3f, 0.3f), Qt::transparent};
    for (const QColor& colour : expected) {
        EXPECT_TRUE(h.vc->clickInPreview(false, true, QPointF(300, 350)));
        EXPECT_EQ(h.vc->imageView(WINDOW + 11)->borderColor, colour);
    }
    EXPECT_FALSE(h.vc->clickInPreview(false, false, QPointF(1500, 900)));
    EXPECT_TRUE(h.vc->clickInPreview(false, false, QPointF(300, 350)));
    h.run(0.4);
    EXPECT_FALSE(h.vc->isShared(WINDOW + 11));
}
