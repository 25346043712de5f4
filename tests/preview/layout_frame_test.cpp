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

struct LayoutCase {
    const char* what;
    QList<ScreenInfo> screens;
    QRectF window;
    QRectF expected;
    std::optional<double> pointerScale = std::nullopt;
    bool fillsOutput = false;
};

void expectLayouts(const std::vector<LayoutCase>& cases, bool smartScaling)
{
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.what);
        LayoutInput input = output(c.screens, smartScaling);
        input.fillsOutput = c.fillsOutput;
        const FrameLayout layout = layoutFrame(input, c.window);
        EXPECT_EQ(layout.frame, c.expected);
        if (c.pointerScale) {
            EXPECT_DOUBLE_EQ(layout.pointerScale, *c.pointerScale);
        }
    }
}

} // namespace

TEST(WindowLayout, FitsTheWindowsScreenIntoTheOutputAndPlacesTheWindowOnIt)
{
    const ScreenInfo main = screen(0, 0, 1920, 1080, 1);
    const ScreenInfo side = screen(1920, 0, 1280, 1024, 2);
    expectLayouts(
        {
            // k = 0.9, bars of 96 points at the sides.
            {"pillarboxed taller screen", {screen(0, 0, 1920, 1200)}, {0, 0, 1000, 500}, {96, 0, 900, 450}, 0.9},
            // k = 1080 / 768 = 1.40625, x0 = 240: 380.625, 70.3125, 281.25, 140.625.
            {"halves rounded away from zero", {screen(0, 0, 1024, 768)}, {100, 50, 200, 100}, {381, 70, 281, 141}},
            // 2560 × 1080: k = 0.75, bars of 135 points above and below.
            {"letterboxed wider screen", {screen(0, 0, 2560, 1080)}, {0, 0, 400, 200}, {0, 135, 300, 150}},
            // The top right corner of the screen is the top right corner of the picture.
            {"top right corner", {screen(0, 0, 2560, 1080)}, {2160, 880, 400, 200}, {1620, 795, 300, 150}},
            // 1280 × 1024 right of the main screen: k = 1080 / 1024, x0 = 285.
            {"second screen", {main, side}, {2020, 24, 640, 512}, {390, 25, 675, 540}},
            // Across two screens: against the first in the list.
            {"across, main first", {main, side}, {1800, 100, 400, 300}, {1800, 100, 400, 300}},
            {"across, side first", {side, main}, {1800, 100, 400, 300}, {158, 105, 422, 316}},
            {"on no screen", {main}, {3000, 100, 400, 300}, {0, 0, 0, 0}, 0},
            {"no screens", {}, {0, 0, 400, 300}, {0, 0, 0, 0}},
            // 3840 × 2160 at k = 0.5; the window reaches past the right edge.
            {"hanging off", {screen(0, 0, 3840, 2160)}, {3700, -50, 400, 200}, {1850, -25, 200, 100}},
        },
        false);
}

TEST(SmartScaling, GrowsInStepsOf32PointsUpToTheRealSizeInsideTheOutput)
{
    const ScreenInfo uhd = screen(0, 0, 3840, 2160);
    expectLayouts(
        {
            // k = 0.5: 200 × 100 grows by 32 × 16 six times to 392 × 196; a seventh would pass 400.
            {"six steps", {uhd}, {1000, 1000, 400, 200}, {404, 452, 392, 196}, 392.0 / 400.0},
            {"three steps", {screen(0, 0, 1920, 1200)}, {0, 0, 1000, 500}, {48, 0, 996, 498}},
            // Grown about (0, 0) it would start at (-96, -48): pushed back inside.
            {"pushed inside at the origin", {uhd}, {0, 0, 400, 200}, {0, 0, 392, 196}},
            {"pushed inside at the top right", {uhd}, {3440, 1960, 400, 200}, {1528, 884, 392, 196}},
            // 3000 × 1500 shows at 1500 × 750; a fourteenth step would be wider than the output.
            {"never beyond the output", {uhd}, {0, 0, 3000, 1500}, {0, 0, 1916, 958}},
            // 1280 × 720 at k = 1.5: shown larger than it is already, and not pushed inside.
            {"not shrunk", {screen(0, 0, 1280, 720)}, {100, 100, 200, 100}, {150, 150, 300, 150}},
            {"not pushed", {screen(0, 0, 1280, 720)}, {1200, 0, 200, 100}, {1800, 0, 300, 150}},
            // k = 0.96: 500 × 250 shows at 480 × 240; one step would make it 512 wide.
            {"no step fits", {screen(0, 0, 2000, 1125)}, {0, 0, 500, 250}, {0, 0, 480, 240}},
            // 8000 × 4000 shows at 4000 × 2000: scaled about its centre to 1920 × 960, pushed inside.
            {"larger than the output", {uhd}, {0, 0, 8000, 4000}, {0, 120, 1920, 960}, 0.24},
            // A window marked to fill the output fills it, even off every screen.
            {"fills", {uhd}, {100, 100, 960, 540}, {0, 0, 1920, 1080}, 2.0, true},
            {"fills off screen", {uhd}, {-5000, -5000, 100, 100}, {0, 0, 1920, 1080}, std::nullopt, true},
        },
        true);
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
