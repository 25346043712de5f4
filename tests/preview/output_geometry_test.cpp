#include "preview/desktop_geometry.h"
#include "preview/output_geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

using namespace vistrale;

namespace {

ScreenInfo screen(double x, double y, double width, double height)
{
    return ScreenInfo{QRectF(x, y, width, height), QStringLiteral("screen"), 0};
}

const QSizeF SHARE_WINDOW(OUTPUT_RESOLUTION[0], OUTPUT_RESOLUTION[1]);

} // namespace

TEST(PreviewGeometry, IsOneSeventhOfTheOutputWithEachSideTruncated)
{
    EXPECT_EQ(previewRectFor(1920, 1080), QRectF(0, 0, 274, 154));
    EXPECT_EQ(previewRectFor(1280, 720), QRectF(0, 0, 182, 102));
}

TEST(PreviewWindow, OpensAtTheTopRightOfTheMainDisplay)
{
    const QSizeF size = previewRectFor(1920, 1080).size();
    EXPECT_EQ(previewWindowFrame(std::nullopt, screen(0, 0, 1920, 1080), size), QRectF(1638, 893, 274, 154));
    // The main screen's own origin counts, and without one the output's size stands in.
    EXPECT_EQ(previewWindowFrame(std::nullopt, screen(-100, 50, 1280, 1024), size),
        QRectF(-100 + 1280 - 274 - 8, 50 + 1024 - 154 - 8 - 25, 274, 154));
    EXPECT_EQ(previewWindowFrame(std::nullopt, std::nullopt, size), QRectF(1638, 893, 274, 154));
}

TEST(ShareWindowParking, PutsTheTopLeftCorner32PointsInsideTheRightmostScreensBottomRight)
{
    const QList<ScreenInfo> screens{screen(0, 0, 1920, 1080), screen(1920, 0, 1280, 1024)};
    const QRectF parked = parkedShareWindowFrame(screens, SHARE_WINDOW);
    EXPECT_EQ(parked, QRectF(3168, 32 - 1080, 1920, 1080));
    // Only a 32-point square is left on screen.
    EXPECT_EQ(screens[1].frame.intersected(parked), QRectF(3168, 0, 32, 32));
    EXPECT_FALSE(liesWhollyOnScreen(screens, parked));
    EXPECT_TRUE(liesWhollyOnScreen(screens, QRectF(QPointF(0, 0), SHARE_WINDOW)));
    // The rightmost screen wins whatever its place in the list; of two reaching equally
    // far right, the main screen; without screens, an empty rectangle.
    EXPECT_EQ(parkedShareWindowFrame({screen(-1280, 100, 1280, 1024), screen(0, 0, 1920, 1080)}, SHARE_WINDOW),
        QRectF(1888, 32 - 1080, 1920, 1080));
    EXPECT_EQ(parkedShareWindowFrame({screen(0, 0, 1920, 1080), screen(0, 1080, 1920, 1080)}, SHARE_WINDOW).topLeft(),
        QPointF(1888, 32 - 1080));
    EXPECT_EQ(parkedShareWindowFrame({}, SHARE_WINDOW), QRectF(-32, 32 - 1080, 1920, 1080));
}

TEST(WindowScreen, IsTheScreenTheWindowOverlapsMost)
{
    const QList<ScreenInfo> screens{screen(0, 0, 1920, 1080), screen(1920, 0, 1280, 1024)};
    EXPECT_EQ(screenOfWindow(screens, QRectF(1800, 100, 400, 300))->frame, screens[1].frame);
    EXPECT_EQ(screenOfWindow(screens, QRectF(1700, 100, 400, 300))->frame, screens[0].frame);
    EXPECT_FALSE(screenOfWindow(screens, QRectF(5000, 0, 100, 100)));
    EXPECT_TRUE(liesWhollyOnScreen(screens, QRectF(2000, 24, 1200, 1000)));
    EXPECT_FALSE(liesWhollyOnScreen(screens, QRectF(1800, 100, 400, 300)));
    EXPECT_FALSE(liesWhollyOnScreen(screens, QRectF(2000, 24, 1200, 1001)));
    EXPECT_FALSE(liesWhollyOnScreen({}, QRectF(0, 0, 10, 10)));
}

TEST(RoundHalfAway, RoundsHalvesAwayFromZero)
{
    EXPECT_EQ(roundHalfAway(2.5), 3);
    EXPECT_EQ(roundHalfAway(-2.5), -3);
    EXPECT_EQ(roundHalfAway(0.5), 1);
    EXPECT_EQ(roundHalfAway(-0.5), -1);
    EXPECT_EQ(roundHalfAway(2.4999), 2);
    EXPECT_EQ(roundHalfAway(-2.5001), -3);
    EXPECT_EQ(roundHalfAway(0.49999999999999994), 0);
}

TEST(DesktopGeometry, FlipsFramesAgainstTheMainScreensBottomEdge)
{
    const QScreen* main = QGuiApplication::primaryScreen();
    ASSERT_NE(main, nullptr);
    const int bottom = main->geometry().y() + main->geometry().height();
    // A window standing on the bottom edge has its Qt top its height above that edge.
    EXPECT_EQ(qtGeometryFromFrame(QRectF(40, 0, 300, 200)), QRect(40, bottom - 200, 300, 200));
    EXPECT_EQ(frameFromQtGeometry(QRect(40, bottom - 200, 300, 200)), QRectF(40, 0, 300, 200));
    const QRectF frame(-12, 333, 274, 154);
    EXPECT_EQ(frameFromQtGeometry(qtGeometryFromFrame(frame)), frame);
}
