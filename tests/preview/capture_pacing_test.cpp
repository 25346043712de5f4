#include "platform/capture_pacer.h"
#include "tests/preview/controller_harness.h"

#include <gtest/gtest.h>
#include <limits>

using namespace vistrale;
using namespace vistrale::test;

TEST(CapturePacer, ReleasesTheNextCaptureOnceTheOutputShowsTheLastFrameElseAfterTheInterval)
{
    constexpr double I = 1.0 / 30;
    CapturePacer pacer(I);
    EXPECT_EQ(pacer.wait(5.0), 0);

    struct Step {
        const char* what;
        double captured; // capture start; NaN for none
        double delivered; // stamp of its frame; NaN when it delivered none
        double shown; // stamp the output reports; NaN for no report
        double at;
        double expectedWait;
    };
    const double none = std::numeric_limits<double>::quiet_NaN();
    const Step steps[] = {
        {"a frame not yet shown waits out the interval", 10.0, 10.001, none, 10.010, 10.0 + I - 10.010},
        {"an older frame shown does not release it", none, none, 9.9, 10.011, 10.0 + I - 10.011},
        {"once shown, at once", none, none, 10.001, 10.012, 0},
        {"a capture that delivered nothing waits the interval", 10.020, none, none, 10.021, 10.020 + I - 10.021},
        {"even when the frame before it is shown again", none, none, 10.001, 10.022, 10.020 + I - 10.022},
        {"the interval alone releases it", none, none, none, 10.020 + I, 0},
    };
    for (const Step& step : steps) {
        if (!std::isnan(step.captured))
            pacer.captureStarted(step.captured);
        if (!std::isnan(step.delivered))
            pacer.delivered(step.delivered);
        if (!std::isnan(step.shown))
            pacer.shown(step.shown);
        EXPECT_NEAR(pacer.wait(step.at), step.expectedWait, 1e-9) << step.what;
    }
}

TEST(CapturePacing, AfterASnapshotEachStreamHearsTheStampOfTheFrameItShows)
{
    CaptureHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    h.share(makeWindow(WINDOW + 12, QRectF(700, 200, 300, 300)));
    auto left = h.streamOf(WINDOW + 11);
    auto right = h.streamOf(WINDOW + 12);
    ASSERT_TRUE(left && right);
    left->shown.clear();
    right->shown.clear();

    auto stamped = [](QColor colour, double hostTime) {
        auto frame = std::const_pointer_cast<FrameBuffer>(makeFrame(QSize(400, 300), colour));
        frame->hostTime = hostTime;
        return FrameRef(frame);
    };
    // Two frames reach the main thread together: only the newer is shown.
    left->frames(stamped(Qt::red, 20.5));
    left->frames(stamped(Qt::green, 20.6));
    h.fake.clock->advance(0.05);
    EXPECT_EQ(left->shown, std::vector<double>{20.6});
    EXPECT_TRUE(right->shown.empty());

    // Told once per frame, not again on later snapshots.
    h.vc->setOverlayText("another snapshot");
    h.fake.clock->advance(0.05);
    EXPECT_EQ(left->shown, std::vector<double>{20.6});
}
