#include "platform/capture_pacer.h"
#include "tests/preview/controller_harness.h"

#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

TEST(CapturePacer, ReleasesTheNextCaptureOnceTheOutputShowsTheLastFrameElseAfterTheInterval)
{
    constexpr double I = 1.0 / 30;
    CapturePacer pacer(I);
    EXPECT_EQ(pacer.wait(5.0), 0);
    pacer.captureStarted(10.0);
    pacer.delivered(10.001);
    EXPECT_NEAR(pacer.wait(10.010), 10.0 + I - 10.010, 1e-9);
    pacer.shown(9.9); // an older frame
    EXPECT_NEAR(pacer.wait(10.011), 10.0 + I - 10.011, 1e-9);
    pacer.shown(10.001);
    EXPECT_EQ(pacer.wait(10.012), 0);
    // A capture that delivered nothing waits for the interval alone.
    pacer.captureStarted(10.020);
    pacer.shown(10.001);
    EXPECT_NEAR(pacer.wait(10.021), 10.020 + I - 10.021, 1e-9);
    EXPECT_EQ(pacer.wait(10.020 + I), 0);
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
