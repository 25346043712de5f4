#include "preview/layout_frame.h"

#include <gtest/gtest.h>

using namespace vistrale;

namespace {

ScreenInfo screen(double x, double y, double width, double height, quint32 id = 1)
{
    return ScreenInfo{QRectF(x, y, width, height), QStringLiteral("screen %1").arg(id), id};
}

LayoutInput output(QList<ScreenInfo> screens, bool smartScaling = false)
{
    LayoutInput input;
    input.screens = std::move(screens);
    input.camWidth = 1920;
    input.camHeight = 1080;
    input.smartScaling = smartScaling;
    return input;
}

} // namespace

// --- Fitting the window's screen into the output ---

TEST(WindowLayout, PillarboxesATallerScreenAndScalesTheWindowWithIt)
{
    // 1920 × 1200 in 1920 × 1080: k = 0.9, bars of 96 points at the sides.
    const FrameLayout layout = layoutFrame(output({screen(0, 0, 1920, 1200)}), QRectF(0, 0, 1000, 500));
    EXPECT_EQ(layout.frame, QRectF(96, 0, 900, 450));
    EXPECT_DOUBLE_EQ(layout.pointerScale, 0.9);
}

TEST(WindowLayout, PillarboxesAFourByThreeScreenAndRoundsHalvesAwayFromZero)
{
    // k = 1080 / 768 = 1.40625, x0 = 240.
    const FrameLayout layout = layoutFrame(output({screen(0, 0, 1024, 768)}), QRectF(100, 50, 200, 100));
    // 380.625, 70.3125, 281.25, 140.625.
    EXPECT_EQ(layout.frame, QRectF(381, 70, 281, 141));
}

TEST(WindowLayout, LetterboxesAWiderScreenAndCentresIt)
{
    // 2560 × 1080: k = 0.75, bars of 135 points above and below.
    const LayoutInput input = output({screen(0, 0, 2560, 1080)});
    EXPECT_EQ(layoutFrame(input, QRectF(0, 0, 400, 200)).frame, QRectF(0, 135, 300, 150));
    // The top right corner of the screen is the top right corner of the picture.
    EXPECT_EQ(layoutFrame(input, QRectF(2160, 880, 400, 200)).frame, QRectF(1620, 795, 300, 150));
}

TEST(WindowLayout, PlacesAWindowOnTheSecondScreenAgainstThatScreen)
{
    // 1280 × 1024 right of the main screen: k = 1080 / 1024, x0 = 285.
    const LayoutInput input = output({screen(0, 0, 1920, 1080, 1), screen(1920, 0, 1280, 1024, 2)});
    EXPECT_EQ(layoutFrame(input, QRectF(2020, 24, 640, 512)).frame, QRectF(390, 25, 675, 540));
}

TEST(WindowLayout, LaysAWindowAcrossTwoScreensOutAgainstTheFirstInTheList)
{
    const QRectF across(1800, 100, 400, 300);
    const ScreenInfo main = screen(0, 0, 1920, 1080, 1);
    const ScreenInfo side = screen(1920, 0, 1280, 1024, 2);
    EXPECT_EQ(layoutFrame(output({main, side}), across).frame, QRectF(1800, 100, 400, 300));
    // The same window with the order of the screens turned round: dx = -120.
    EXPECT_EQ(layoutFrame(output({side, main}), across).frame, QRectF(158, 105, 422, 316));
}

TEST(WindowLayout, GivesAnEmptyFrameWhenNoScreenHoldsTheWindow)
{
    const FrameLayout layout = layoutFrame(output({screen(0, 0, 1920, 1080)}), QRectF(3000, 100, 400, 300));
    EXPECT_EQ(layout.frame, QRectF(0, 0, 0, 0));
    EXPECT_EQ(layout.pointerScale, 0);
    EXPECT_EQ(layoutFrame(output({}), QRectF(0, 0, 400, 300)).frame, QRectF(0, 0, 0, 0));
}

TEST(WindowLayout, LeavesAWindowHangingOffTheOutputWithoutSmartScaling)
{
    // 3840 × 2160 at k = 0.5; the window reaches past the right edge.
    const FrameLayout layout = layoutFrame(output({screen(0, 0, 3840, 2160)}), QRectF(3700, -50, 400, 200));
    EXPECT_EQ(layout.frame, QRectF(1850, -25, 200, 100));
}

TEST(WindowLayout, FillsTheOutputWhenTheWindowIsMarkedToFillIt)
{
    LayoutInput input = output({screen(0, 0, 3840, 2160)}, true);
    input.fillsOutput = true;
    const FrameLayout layout = layoutFrame(input, QRectF(100, 100, 960, 540));
    EXPECT_EQ(layout.frame, QRectF(0, 0, 1920, 1080));
    EXPECT_DOUBLE_EQ(layout.pointerScale, 2.0);
    // Even off every screen.
    EXPECT_EQ(layoutFrame(input, QRectF(-5000, -5000, 100, 100)).frame, QRectF(0, 0, 1920, 1080));
}

// --- Smart scaling ---

TEST(SmartScaling, GrowsInStepsOf32PointsUpToTheWindowsRealSize)
{
    // k = 0.5: the 400 × 200 window would show at 200 × 100. Each step adds 32 × 16;
    // six steps reach 392 × 196, a seventh would pass 400.
    const LayoutInput input = output({screen(0, 0, 3840, 2160)}, true);
    const FrameLayout layout = layoutFrame(input, QRectF(1000, 1000, 400, 200));
    EXPECT_EQ(layout.frame, QRectF(404, 452, 392, 196));
    EXPECT_DOUBLE_EQ(layout.pointerScale, 392.0 / 400.0);
    // The 1920 × 1200 example grows three steps.
    EXPECT_EQ(
        layoutFrame(output({screen(0, 0, 1920, 1200)}, true), QRectF(0, 0, 1000, 500)).frame, QRectF(48, 0, 996, 498));
}

TEST(SmartScaling, PushesAGrownWindowBackInsideTheOutput)
{
    const LayoutInput input = output({screen(0, 0, 3840, 2160)}, true);
    // Grown about (0, 0) it would start at (-96, -48).
    EXPECT_EQ(layoutFrame(input, QRectF(0, 0, 400, 200)).frame, QRectF(0, 0, 392, 196));
    // At the top right corner it would reach past both edges.
    EXPECT_EQ(layoutFrame(input, QRectF(3440, 1960, 400, 200)).frame, QRectF(1528, 884, 392, 196));
}

TEST(SmartScaling, NeverGrowsBeyondTheOutput)
{
    // 3000 × 1500 shows at 1500 × 750; thirteen steps reach 1916 wide, a fourteenth
    // would be wider than the output.
    const LayoutInput input = output({screen(0, 0, 3840, 2160)}, true);
    EXPECT_EQ(layoutFrame(input, QRectF(0, 0, 3000, 1500)).frame, QRectF(0, 0, 1916, 958));
}

TEST(SmartScaling, StopsAfterAHundredSteps)
{
    LayoutInput input = output({screen(0, 0, 20000, 20000)}, true);
    input.camWidth = 8000;
    input.camHeight = 8000;
    // k = 0.4: 4000 × 4000 plus 100 steps of 32 is 7200; without the limit it would
    // reach 7968.
    EXPECT_EQ(layoutFrame(input, QRectF(0, 0, 10000, 10000)).frame, QRectF(0, 0, 7200, 7200));
}

TEST(SmartScaling, KeepsAWindowTheFitDoesNotShrink)
{
    // 1280 × 720 at k = 1.5: the window already shows larger than it is, and is not
    // pushed inside either.
    const LayoutInput input = output({screen(0, 0, 1280, 720)}, true);
    EXPECT_EQ(layoutFrame(input, QRectF(100, 100, 200, 100)).frame, QRectF(150, 150, 300, 150));
    EXPECT_EQ(layoutFrame(input, QRectF(1200, 0, 200, 100)).frame, QRectF(1800, 0, 300, 150));
}

TEST(SmartScaling, KeepsTheFittedSizeWhenNotOneStepFits)
{
    // k = 0.96: 500 × 250 shows at 480 × 240; one step would make it 512 wide.
    const LayoutInput input = output({screen(0, 0, 2000, 1125)}, true);
    EXPECT_EQ(layoutFrame(input, QRectF(0, 0, 500, 250)).frame, QRectF(0, 0, 480, 240));
}

TEST(SmartScaling, ShrinksAWindowLargerThanTheOutputToFitIt)
{
    // 8000 × 4000 on a 3840 × 2160 screen shows at 4000 × 2000, bigger than the output:
    // it is scaled about its centre to 1920 × 960 and pushed inside.
    const LayoutInput input = output({screen(0, 0, 3840, 2160)}, true);
    const FrameLayout layout = layoutFrame(input, QRectF(0, 0, 8000, 4000));
    EXPECT_EQ(layout.frame, QRectF(0, 120, 1920, 960));
    EXPECT_DOUBLE_EQ(layout.pointerScale, 0.24);
}
