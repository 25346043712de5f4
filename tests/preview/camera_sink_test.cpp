#include "app/settings/settings_keys.h"
#include "tests/preview/controller_harness.h"

#include <QUuid>
#include <future>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

// The controller with the camera device present (two streams unless told) and the
// given control string; the poll runs every 2 s of fake time.
struct CameraHarness : CaptureHarness {
    explicit CameraHarness(int streams = 2, std::optional<QString> control = QString("sc=0"))
        : CaptureHarness([streams, control](FakePlatform& fake) {
            fake.camera->addVistraleCamera(streams);
            fake.camera->control = control;
        })
    {
        camera = fake.camera;
    }
    void poll()
    {
        fake.clock->advance(2.0);
        vc->drainCameraQueue();
    }
    // A new output frame, then its way to the camera.
    void newOutputFrame(const QString& text)
    {
        vc->setOverlayText(text);
        nextOutputFrame();
    }
    std::size_t received() const { return camera->lastQueue() ? camera->lastQueue()->received().size() : 0; }

    FakeCameraSystem* camera;
};

} // namespace

TEST(CameraDemand, TheSinkRunsOnlyWhileTheCameraSaysAClientWatches)
{
    testing::internal::CaptureStdout();
    CameraHarness h;
    h.nextOutputFrame();
    h.poll();
    EXPECT_EQ(h.camera->starts.load(), 0);
    EXPECT_FALSE(h.vc->hasSinkQueue());
    // The poll writes the count first.
    ASSERT_FALSE(h.camera->writtenControl.empty());
    EXPECT_EQ(h.camera->writtenControl.back(), "0");

    h.camera->control = "sc=1";
    h.poll();
    EXPECT_EQ(h.camera->starts.load(), 1);
    EXPECT_TRUE(h.vc->hasSinkQueue());
    // Already streaming: a second watching poll starts nothing more.
    h.poll();
    EXPECT_EQ(h.camera->starts.load(), 1);

    // A poll that reads no string changes nothing.
    h.camera->control.reset();
    h.poll();
    EXPECT_TRUE(h.vc->hasSinkQueue());
    EXPECT_EQ(h.camera->stops.load(), 0);

    h.camera->control = "sc=2";
    h.poll();
    EXPECT_EQ(h.camera->stops.load(), 1);
    EXPECT_FALSE(h.vc->hasSinkQueue());
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("connectToVistraleCamera"), std::string::npos);
    EXPECT_NE(log.find("found sink stream 12"), std::string::npos);
    EXPECT_NE(log.find("initSink resultStart=0"), std::string::npos);
    EXPECT_NE(log.find("stopSink resultStop=0"), std::string::npos);

    // A controller that goes away with a watched camera stops its sink first: the
    // camera's thread must not call back into it afterwards.
    h.camera->control = "sc=1";
    h.poll();
    ASSERT_TRUE(h.vc->hasSinkQueue());
    h.vc.reset();
    EXPECT_EQ(h.camera->stops.load(), 2);
}

TEST(CameraDemand, WithoutTheDeviceOrItsSinkNothingIsEverStreamed)
{
    {
        CaptureHarness h;
        h.fake.camera->control = "sc=1";
        h.fake.clock->advance(4.0);
        h.vc->drainCameraQueue();
        EXPECT_TRUE(h.fake.camera->writtenControl.empty());
        EXPECT_EQ(h.fake.camera->starts.load(), 0);
    }
    {
        // A device of another identifier is not the camera.
        CaptureHarness h([](FakePlatform& fake) {
            fake.camera->addVistraleCamera();
            fake.camera->deviceList[0].uid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
            fake.camera->control = "sc=1";
        });
        h.fake.clock->advance(2.0);
        h.vc->drainCameraQueue();
        EXPECT_EQ(h.fake.camera->starts.load(), 0);
    }
    {
        // One stream only: it is watched, yet there is no sink to feed.
        CameraHarness h(1, QString("sc=1"));
        h.poll();
        EXPECT_FALSE(h.camera->writtenControl.empty());
        EXPECT_EQ(h.camera->starts.load(), 0);
        EXPECT_FALSE(h.vc->hasSinkQueue());
    }
}

TEST(CameraDemand, FailedStartsAreLoggedAndRetriedOnTheNextPoll)
{
    testing::internal::CaptureStdout();
    CameraHarness h(2, QString("sc=1"));
    h.camera->copyResult = -5;
    h.poll();
    EXPECT_FALSE(h.vc->hasSinkQueue());
    h.camera->copyResult = 0;
    h.camera->startResult = 3;
    h.poll();
    h.camera->startResult = 0;
    h.poll();
    EXPECT_TRUE(h.vc->hasSinkQueue());
    // The queue from the failed start was kept, so no new start is tried.
    EXPECT_EQ(h.camera->starts.load(), 1);
    h.camera->stopResult = 9;
    h.camera->control = "sc=0";
    h.poll();
    EXPECT_FALSE(h.vc->hasSinkQueue());
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("error starting sink"), std::string::npos);
    EXPECT_NE(log.find("initSink error startstream"), std::string::npos);
    EXPECT_NE(log.find("stopSink error stop stream"), std::string::npos);
}

TEST(CameraFrames, OneFrameInFlightTheLastFramePushedAtStartAndMirrorOnlyForTheCamera)
{
    CameraHarness h;
    h.newOutputFrame("before");
    const FrameRef beforeStart = h.vc->lastCapturedFrame().surface;
    ASSERT_TRUE(beforeStart);
    h.poll();
    EXPECT_EQ(h.received(), 0u);

    h.camera->control = "sc=1";
    h.poll();
    auto queue = h.camera->lastQueue();
    ASSERT_TRUE(queue);
    // The newest frame went as soon as the sink started, before any new one.
    ASSERT_EQ(queue->received().size(), 1u);
    EXPECT_EQ(queue->received()[0].frame, beforeStart);
    EXPECT_FALSE(queue->received()[0].mirrored);

    h.newOutputFrame("one");
    h.newOutputFrame("two");
    EXPECT_EQ(queue->received().size(), 1u);
    EXPECT_EQ(queue->count(), 1);

    h.vc->mirrorVistraleCamera = true;
    ASSERT_TRUE(queue->take());
    h.newOutputFrame("three");
    ASSERT_EQ(queue->received().size(), 2u);
    // The very frame the preview shows goes, by reference; the camera flips it.
    EXPECT_EQ(queue->received()[1].frame, h.vc->lastCapturedFrame().surface);
    EXPECT_TRUE(queue->received()[1].mirrored);
    EXPECT_GT(queue->received()[1].hostTime, 0.0);
}

TEST(CameraFrames, AFullQueueKeepsItsFramesAndDropsTheNewOne)
{
    CameraHarness h(2, QString("sc=1"));
    h.camera->queueCapacity = 1;
    h.newOutputFrame("first");
    h.poll();
    auto queue = h.camera->lastQueue();
    ASSERT_TRUE(queue);
    // The last frame went in at start and the camera has not taken it: the queue is full.
    ASSERT_EQ(queue->count(), 1);
    const FrameRef first = queue->received().at(0).frame;
    h.vc->cameraHandOff().taken();
    testing::internal::CaptureStdout();
    h.newOutputFrame("new");
    const std::string logged = testing::internal::GetCapturedStdout();
    EXPECT_EQ(queue->count(), 1);
    ASSERT_EQ(queue->received().size(), 1u);
    EXPECT_EQ(queue->received()[0].frame, first);
    EXPECT_NE(logged.find("error enqueuing, queue is full"), std::string::npos) << logged;
}

TEST(CameraFrames, ASecondClientGetsFramesEvenWhenTheFirstLeftWithAFrameInFlight)
{
    CameraHarness h(2, QString("sc=1"));
    h.newOutputFrame("first");
    h.poll();
    ASSERT_EQ(h.received(), 1u);
    // The client leaves before the camera took the frame.
    h.camera->control = "sc=0";
    h.poll();
    h.camera->control = "sc=1";
    h.poll();
    auto second = h.camera->lastQueue();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->received().size(), 1u);
    ASSERT_TRUE(second->take());
    h.newOutputFrame("next");
    EXPECT_EQ(second->received().size(), 2u);
}

TEST(CameraInstallOffer, AskedAtStartUpOnlyWhenTheDeviceIsMissingAndCanBeInstalledActivatingLeavesTheWelcome)
{
    const struct {
        bool installed, installable, activate, offered;
    } rows[] = {
        {false, true, false, true},
        {false, true, true, true},
        {true, true, false, false},
        {false, false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.installed << row.installable << row.activate);
        CaptureHarness h([&](FakePlatform& fake) {
            fake.camera->installed = row.installed;
            fake.camera->installable = row.installable;
            fake.dialogs->answers.push_back(row.activate);
        });
        const auto& shown = h.fake.dialogs->shown;
        const auto offer = std::find_if(
            shown.begin(), shown.end(), [](const AlertSpec& alert) { return alert.message == "Vistrale Camera"; });
        ASSERT_EQ(offer != shown.end(), row.offered);
        if (row.offered) {
            EXPECT_EQ(offer->informative, "Would you like to install the Vistrale camera now?");
            EXPECT_EQ(offer->defaultButton, "Activate");
            EXPECT_EQ(offer->secondButton, std::optional<QString>("Cancel"));
            // Activating leaves the welcome for a later start.
            EXPECT_EQ(h.settings->boolValue(keys::ALREADY_SHOWN), !row.activate);
        }
    }
}

TEST(CameraDemand, AStopWhileTheSinkStillStartsComesAfterTheStart)
{
    CameraHarness h;
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    h.camera->beforeStart = [gate] { gate.wait(); };
    h.camera->control = "sc=1";
    h.fake.clock->advance(2.0);
    // The client leaves while the start still waits for the camera.
    h.camera->control = "sc=0";
    h.fake.clock->advance(2.0);
    release.set_value();
    h.vc->drainCameraQueue();
    EXPECT_EQ(h.camera->starts.load(), 1);
    EXPECT_FALSE(h.camera->running.load()) << "the sink was left running";
    EXPECT_FALSE(h.vc->hasSinkQueue());
}
