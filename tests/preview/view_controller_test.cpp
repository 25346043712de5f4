#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "platform/fake/fake_platform.h"
#include "preview/compositor.h"
#include "preview/view_tags.h"
#include "preview/vistrale_view_controller.h"
#include "preview/window_drag_view.h"
#include "tests/support/test_files.h"
#include "webcam/webcam_overlay.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

// A controller on the in-memory platform with its own settings file; `load` builds
// its view and the share window.
struct ControllerHarness {
    ControllerHarness()
        : platform(fake.take())
        , settings(Settings::atPath(dir.filePath("Vistrale.conf")))
    {
    }
    VistraleViewController& load()
    {
        vc = std::make_unique<VistraleViewController>(platform, *settings, nullptr);
        vc->view();
        return *vc;
    }
    // Lets the scene hand out its snapshot and waits for the compositor to draw it.
    FrameRef drawnFrame()
    {
        const quint64 before = vc->compositor().framesDrawn();
        fake.clock->advance(0.1);
        for (int i = 0; i < 300 && vc->compositor().framesDrawn() == before; ++i)
            QThread::msleep(10);
        QCoreApplication::processEvents();
        return vc->lastCapturedFrame().surface;
    }

    QTemporaryDir dir;
    FakePlatform fake;
    Platform platform;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<VistraleViewController> vc;
};

QRgb pixelAt(const QImage& image, int x, int yFromBottom)
{
    return image.pixel(x, image.height() - 1 - yFromBottom);
}

} // namespace

TEST(ViewController, StartsFromTheDefaultsOfAnEmptyStore)
{
    ControllerHarness h;
    VistraleViewController& vc = h.load();
    EXPECT_EQ(vc.previewRect, QRectF(0, 0, 274, 154));
    EXPECT_EQ(vc.realRect, QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(vc.outputSize, QSizeF(1920, 1080));
    EXPECT_EQ(vc.webcam()->webcamShape, CameraShape::normal);
    EXPECT_EQ(vc.speechVisibleLines, 3);
    EXPECT_EQ(vc.webcam()->cameraBorderWidth, 0.0f);
    EXPECT_EQ(vc.webcam()->cameraBorderColor, defaultBorderColor());
    EXPECT_TRUE(vc.includeMouseClicks);
    EXPECT_FALSE(vc.smartScaling);
    EXPECT_FALSE(vc.mirrorVistraleCamera);
    EXPECT_TRUE(vc.windowShown);
    EXPECT_TRUE(vc.SHOW_ABOUT_ON_LAUNCH);
    EXPECT_EQ(vc.webcam()->cameraSize, 0.0);
    EXPECT_EQ(vc.lastWindow, -1);
    EXPECT_EQ(vc.screenWidth, 1920);
    EXPECT_EQ(vc.screenHeight, 1080);
    EXPECT_TRUE(vc.logoLayer->isHidden());
    EXPECT_TRUE(vc.captureStarted);
    EXPECT_TRUE(vc.hasScreenPermission);
    EXPECT_NE(vc.panelWindowID, 0);
}

TEST(ViewController, ClampsStoredValuesOutsideTheirRange)
{
    ControllerHarness h;
    h.settings->setInteger(keys::CAMERA_SHAPE, 7);
    h.settings->setInteger(keys::SPEECH_LINES, 0);
    h.settings->setDouble(keys::CAMERA_SIZE, -0.25);
    h.settings->setData(keys::CAMERA_BORDER_COLOR, "not an archive");
    VistraleViewController& vc = h.load();
    EXPECT_EQ(vc.webcam()->webcamShape, CameraShape::normal);
    EXPECT_EQ(vc.speechVisibleLines, 3);
    EXPECT_EQ(vc.webcam()->cameraSize, -1.0);
    EXPECT_EQ(vc.webcam()->cameraBorderColor, defaultBorderColor());

    ControllerHarness other;
    other.settings->setInteger(keys::CAMERA_SHAPE, 3);
    other.settings->setInteger(keys::SPEECH_LINES, 2);
    other.settings->setBool(keys::MOUSE_CLICKS_OFF, true);
    EXPECT_EQ(other.load().webcam()->webcamShape, CameraShape::portrait);
    EXPECT_EQ(other.vc->speechVisibleLines, 2);
    EXPECT_FALSE(other.vc->includeMouseClicks);
}

TEST(ViewController, WithoutAScreenAssumesAFullHdMainScreen)
{
    ControllerHarness h;
    h.fake.screens->setScreens({});
    VistraleViewController& vc = h.load();
    EXPECT_EQ(vc.screenWidth, 1920);
    EXPECT_EQ(vc.screenHeight, 1080);
    // The rightmost-screen search starts from an empty rectangle.
    EXPECT_EQ(vc.panelFrame().topLeft(), QPointF(-32, 32 - 1080));
}

TEST(ShareWindow, IsParkedAtTheBottomRightCornerOfTheRightmostScreenAndShownAtTheOrigin)
{
    ControllerHarness h;
    h.fake.screens->setScreens(
        {ScreenInfo{QRectF(0, 0, 1920, 1080), "left", 1}, ScreenInfo{QRectF(1920, 56, 1280, 1024), "right", 2}});
    VistraleViewController& vc = h.load();
    // Top-left corner 32 left of the right edge and 32 above the bottom edge.
    EXPECT_EQ(vc.panelFrame().x(), 1920 + 1280 - 32);
    EXPECT_EQ(vc.panelFrame().y() + vc.panelFrame().height(), 56 + 32);
    EXPECT_EQ(vc.panelFrame().size(), QSizeF(1920, 1080));
    EXPECT_FALSE(vc.shareWindowWhollyOnScreen());

    // Shown at the screen origin, and parked again.
    const QRectF parked = vc.panelFrame();
    vc.toggleShareWindowVisibility();
    EXPECT_EQ(vc.panelFrame(), QRectF(0, 0, 1920, 1080));
    EXPECT_TRUE(vc.shareWindowWhollyOnScreen());
    vc.toggleShareWindowVisibility();
    EXPECT_EQ(vc.panelFrame(), parked);
}

TEST(ShareWindow, DrawsItsViewsInTagOrder)
{
    ControllerHarness h;
    VistraleViewController& vc = h.load();
    // Give every view a colour of its own so that each shows up in the draw list.
    const std::vector<std::pair<std::shared_ptr<SceneLayer>, QColor>> views{
        {vc.logoLayer, QColor(1, 0, 0)},
        {vc.speechScrollView, QColor(2, 0, 0)},
        {vc.webcamView, QColor(3, 0, 0)},
        {vc.windowsView, QColor(4, 0, 0)},
        {vc.desktopView, QColor(5, 0, 0)},
    };
    for (const auto& [layer, colour] : views) {
        layer->setHidden(false);
        layer->setFrame(QRectF(0, 0, 10, 10));
        layer->setContents(QImage());
        layer->setBackgroundColor(colour);
    }
    auto order = [&] {
        std::vector<int> reds;
        const DrawListRef list = h.vc->shareScene().snapshot();
        for (const DrawOp& op : list->ops)
            if (op.backgroundColor.red() >= 1 && op.backgroundColor.red() <= 5)
                reds.push_back(op.backgroundColor.red());
        return reds;
    };
    EXPECT_EQ(order(), (std::vector<int>{5, 4, 3, 2, 1}));

    // A webcam filling the output goes behind the shared windows.
    vc.webcamView->setTag(WEBCAM_TAG_BEHIND);
    EXPECT_EQ(order(), (std::vector<int>{5, 3, 4, 2, 1}));
    vc.webcamView->setTag(WEBCAM_TAG);
    EXPECT_EQ(order(), (std::vector<int>{5, 4, 3, 2, 1}));
}

TEST(OutputPicture, ShowsTheBackdropAndTheTextOverlay)
{
    ControllerHarness h;
    h.settings->setText(keys::OVERLAY_TEXT, "MMMMMMMM");
    VistraleViewController& vc = h.load();
    const FrameRef frame = h.drawnFrame();
    ASSERT_TRUE(frame);
    const QImage& image = frame->image;
    EXPECT_EQ(image.size(), QSize(1920, 1080));
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);

    // The backdrop fills the picture: compare the top right with the bundled picture.
    const QImage backdrop = vc.defaultImage.scaled(1920, 1080);
    const QColor expected = backdrop.pixelColor(1800, 100);
    const QColor seen = image.pixelColor(1800, 100);
    EXPECT_NEAR(seen.red(), expected.red(), 8);
    EXPECT_NEAR(seen.green(), expected.green(), 8);
    EXPECT_NEAR(seen.blue(), expected.blue(), 8);

    // White text near the bottom left, 48 points high.
    int white = 0;
    for (int x = 9; x < 400; ++x)
        for (int y = 9; y < 69; ++y)
            if (qRed(pixelAt(image, x, y)) > 240 && qGreen(pixelAt(image, x, y)) > 240
                && qBlue(pixelAt(image, x, y)) > 240)
                ++white;
    EXPECT_GT(white, 500);
    // Nothing white far from the overlay.
    EXPECT_LT(qRed(pixelAt(image, 1000, 600)), 240);

    // The preview shows the same frame.
    EXPECT_EQ(vc.preview()->lastFrame(), frame);
}

TEST(OutputPicture, IsNotDrawnAgainWhileNothingChanges)
{
    ControllerHarness h;
    VistraleViewController& vc = h.load();
    ASSERT_TRUE(h.drawnFrame());
    const quint64 snapshots = vc.shareScene().snapshotCount();
    h.fake.clock->advance(3.0);
    EXPECT_EQ(vc.shareScene().snapshotCount(), snapshots);

    vc.setOverlayText("changed");
    h.fake.clock->advance(0.1);
    EXPECT_EQ(vc.shareScene().snapshotCount(), snapshots + 1);
}

TEST(OutputPicture, UsesAStoredBackgroundPictureFileAndFallsBackWhenItIsUnreadable)
{
    ControllerHarness h;
    QImage red(64, 36, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString path = h.dir.filePath("red.png");
    ASSERT_TRUE(red.save(path));
    h.settings->setText(keys::BACKGROUND, QUrl::fromLocalFile(path).toString());
    EXPECT_EQ(h.load().defaultImage.pixelColor(5, 5), QColor(Qt::red));

    ControllerHarness broken;
    ASSERT_TRUE(writeFile(broken.dir.filePath("junk.png"), "not a picture at all"));
    broken.settings->setText(keys::BACKGROUND, broken.dir.filePath("junk.png"));
    const QImage fallback = broken.load().defaultImage;
    EXPECT_EQ(fallback.size(), QSize(1920, 1080));
}

TEST(OutputResolution, ASmallerOutputShrinksThePreviewTheShareWindowAndTheFrames)
{
    ControllerHarness h;
    VistraleViewController& vc = h.load();
    ASSERT_TRUE(h.drawnFrame());
    vc.changeResolution(1280, 720);
    EXPECT_EQ(vc.previewRect, QRectF(0, 0, 182, 102));
    EXPECT_EQ(vc.realRect, QRectF(0, 0, 1280, 720));
    EXPECT_EQ(vc.outputSize, QSizeF(1280, 720));
    EXPECT_EQ(vc.panelFrame().size(), QSizeF(1280, 720));
    EXPECT_EQ(vc.panelFrame().topLeft(), QPointF(1920 - 32, 32 - 720));
    EXPECT_EQ(vc.desktopView->frame(), QRectF(0, 0, 1280, 720));
    vc.setOverlayText("small");
    const FrameRef frame = h.drawnFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->image.size(), QSize(1280, 720));

    // Sizes no output can have change nothing.
    vc.changeResolution(0, -5);
    vc.changeResolution(1e9, 1e9);
    EXPECT_EQ(vc.realRect, QRectF(0, 0, 1280, 720));
}
