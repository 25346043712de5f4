#include "platform/camera/linux_camera_system.h"
#include "tests/support/wait_until.h"

#include <QUuid>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace vistrale;

namespace {

// An output whose reader the test switches on and off; it records what it was given.
class RecordingOutput : public CameraOutput {
public:
    QString name() const override { return "recording"; }
    bool watched() const override { return reader.load(); }
    bool write(const FrameBuffer& frame, double hostTime, bool mirrored) override
    {
        if (block.load()) {
            while (block.load())
                std::this_thread::yield();
        }
        std::lock_guard guard(lock);
        written.push_back({frame.image.pixel(0, 0), hostTime, mirrored});
        return true;
    }
    struct Written {
        QRgb firstPixel;
        double hostTime;
        bool mirrored;
    };
    std::vector<Written> all() const
    {
        std::lock_guard guard(lock);
        return written;
    }

    std::atomic<bool> reader{false};
    std::atomic<bool> block{false};

private:
    mutable std::mutex lock;
    std::vector<Written> written;
};

FrameRef frameOf(QColor colour)
{
    auto frame = std::make_shared<FrameBuffer>();
    frame->image = QImage(8, 8, QImage::Format_ARGB32_Premultiplied);
    frame->image.fill(colour);
    return frame;
}

struct TwoOutputs {
    // Repeats of the last frame are off unless a test asks for them.
    explicit TwoOutputs(std::chrono::milliseconds repeat = std::chrono::hours(1))
    {
        std::vector<std::unique_ptr<CameraOutput>> outputs;
        auto a = std::make_unique<RecordingOutput>();
        auto b = std::make_unique<RecordingOutput>();
        first = a.get();
        second = b.get();
        outputs.push_back(std::move(a));
        outputs.push_back(std::move(b));
        camera = std::make_unique<LinuxCameraSystem>(
            std::move(outputs), [] { return false; }, [] { return true; }, 2, repeat);
    }
    // The sink's queue, counting its changes in `altered`, with the sink started.
    void startSink(std::atomic<int>& altered, std::shared_ptr<CameraSinkQueue>& queue)
    {
        ASSERT_EQ(camera->copyBufferQueue(
                      LinuxCameraSystem::SINK_STREAM_ID, [&altered] { ++altered; }, &queue),
            0);
        ASSERT_TRUE(queue);
        ASSERT_EQ(camera->startStream(LinuxCameraSystem::DEVICE_ID, LinuxCameraSystem::SINK_STREAM_ID), 0);
    }
    RecordingOutput* first;
    RecordingOutput* second;
    std::unique_ptr<LinuxCameraSystem> camera;
};

} // namespace

TEST(LinuxCamera, OneDeviceWithTheCamerasIdentifierAndASourceAndASink)
{
    TwoOutputs t;
    ASSERT_EQ(t.camera->devices().size(), 1u);
    const quint32 device = t.camera->devices()[0];
    EXPECT_EQ(t.camera->deviceUid(device), "97BCBF9C-71BE-44B8-AE2C-ECCD3C539368");
    const std::vector<quint32> streams = t.camera->streams(device);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_TRUE(t.camera->streams(device + 100).empty());
    // Only the source has a control string.
    EXPECT_TRUE(t.camera->setControlString(streams[0], "0"));
    EXPECT_FALSE(t.camera->setControlString(streams[1], "0"));
    EXPECT_FALSE(t.camera->controlString(streams[1]).has_value());
    std::shared_ptr<CameraSinkQueue> queue;
    EXPECT_NE(t.camera->copyBufferQueue(streams[0], {}, &queue), 0);
    EXPECT_FALSE(queue);
    EXPECT_NE(t.camera->startStream(device, streams[1]), 0) << "no queue yet";
    EXPECT_FALSE(t.camera->deviceInstalled());
    EXPECT_TRUE(t.camera->deviceInstallable());
}

TEST(LinuxCamera, TheControlStringSaysWatchedWhileAnyOutputHasAReader)
{
    TwoOutputs t;
    const quint32 source = t.camera->streams(LinuxCameraSystem::DEVICE_ID)[0];
    EXPECT_EQ(t.camera->controlString(source), std::optional<QString>("sc=0"));
    t.second->reader = true;
    EXPECT_EQ(t.camera->controlString(source), std::optional<QString>("sc=1"));
    t.first->reader = true;
    t.second->reader = false;
    EXPECT_EQ(t.camera->controlString(source), std::optional<QString>("sc=1"));
    t.first->reader = false;
    EXPECT_EQ(t.camera->controlString(source), std::optional<QString>("sc=0"));
}

TEST(LinuxCamera, QueuedFramesGoToTheWatchedOutputsThenTheQueueSaysSo)
{
    TwoOutputs t;
    t.first->reader = true;
    std::atomic<int> altered{0};
    std::shared_ptr<CameraSinkQueue> queue;
    ASSERT_EQ(t.camera->copyBufferQueue(
                  LinuxCameraSystem::SINK_STREAM_ID, [&] { ++altered; }, &queue),
        0);
    ASSERT_TRUE(queue);
    EXPECT_EQ(queue->capacity(), 2);

    // Before the sink starts, frames wait in the queue; a third does not fit.
    EXPECT_TRUE(queue->enqueue(frameOf(Qt::red), 1.5, true));
    EXPECT_TRUE(queue->enqueue(frameOf(Qt::green), 1.6, false));
    EXPECT_FALSE(queue->enqueue(frameOf(Qt::blue), 1.7, false));
    EXPECT_EQ(queue->count(), 2);
    EXPECT_TRUE(t.first->all().empty());

    ASSERT_EQ(t.camera->startStream(LinuxCameraSystem::DEVICE_ID, LinuxCameraSystem::SINK_STREAM_ID), 0);
    ASSERT_TRUE(test::waitUntil([&] { return altered.load() == 2; }, 2000));
    const auto written = t.first->all();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].firstPixel, QColor(Qt::red).rgba());
    EXPECT_TRUE(written[0].mirrored);
    EXPECT_DOUBLE_EQ(written[0].hostTime, 1.5);
    EXPECT_FALSE(written[1].mirrored);
    EXPECT_TRUE(t.second->all().empty()) << "an output without a reader gets nothing";
    EXPECT_EQ(queue->count(), 0);
}

TEST(LinuxCamera, AFrameCountsInTheQueueUntilItIsWrittenAndStoppingDropsTheRest)
{
    TwoOutputs t;
    t.first->reader = true;
    t.first->block = true;
    std::atomic<int> altered{0};
    std::shared_ptr<CameraSinkQueue> queue;
    ASSERT_NO_FATAL_FAILURE(t.startSink(altered, queue));
    ASSERT_TRUE(queue->enqueue(frameOf(Qt::red), 1, false));
    ASSERT_TRUE(queue->enqueue(frameOf(Qt::green), 2, false));
    // The camera is busy with the first frame: the queue is full.
    EXPECT_FALSE(queue->enqueue(frameOf(Qt::blue), 3, false));
    EXPECT_EQ(queue->count(), 2);

    std::thread stopper(
        [&] { EXPECT_EQ(t.camera->stopStream(LinuxCameraSystem::DEVICE_ID, LinuxCameraSystem::SINK_STREAM_ID), 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    t.first->block = false;
    stopper.join();
    // The frame being written was finished; the waiting one was dropped.
    EXPECT_LE(t.first->all().size(), 1u);
    EXPECT_EQ(queue->count(), 0);
    EXPECT_LE(altered.load(), 1);
}

TEST(LinuxCamera, ANewQueueReplacesTheOldOneWhichNoLongerDelivers)
{
    TwoOutputs t;
    t.first->reader = true;
    std::atomic<int> oldAltered{0}, newAltered{0};
    std::shared_ptr<CameraSinkQueue> old, fresh;
    ASSERT_EQ(t.camera->copyBufferQueue(
                  LinuxCameraSystem::SINK_STREAM_ID, [&] { ++oldAltered; }, &old),
        0);
    ASSERT_EQ(t.camera->startStream(LinuxCameraSystem::DEVICE_ID, LinuxCameraSystem::SINK_STREAM_ID), 0);
    ASSERT_EQ(t.camera->copyBufferQueue(
                  LinuxCameraSystem::SINK_STREAM_ID, [&] { ++newAltered; }, &fresh),
        0);
    ASSERT_EQ(t.camera->startStream(LinuxCameraSystem::DEVICE_ID, LinuxCameraSystem::SINK_STREAM_ID), 0);
    old->enqueue(frameOf(Qt::red), 1, false);
    ASSERT_TRUE(fresh->enqueue(frameOf(Qt::green), 2, false));
    ASSERT_TRUE(test::waitUntil([&] { return newAltered.load() == 1; }, 2000));
    EXPECT_EQ(oldAltered.load(), 0);
    ASSERT_EQ(t.first->all().size(), 1u);
    EXPECT_EQ(t.first->all()[0].firstPixel, QColor(Qt::green).rgba());
}

TEST(LinuxCamera, WhileNothingChangesTheLastFrameIsWrittenAgainToWatchedOutputsOnly)
{
    TwoOutputs t(std::chrono::milliseconds(20));
    t.first->reader = true;
    std::atomic<int> altered{0};
    std::shared_ptr<CameraSinkQueue> queue;
    ASSERT_NO_FATAL_FAILURE(t.startSink(altered, queue));
    // Nothing was ever queued: there is nothing to repeat.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(t.first->all().empty());

    ASSERT_TRUE(queue->enqueue(frameOf(Qt::red), 10.0, true));
    ASSERT_TRUE(test::waitUntil([&] { return t.first->all().size() >= 4; }, 5000));
    const auto written = t.first->all();
    for (std::size_t i = 1; i < written.size(); ++i) {
        EXPECT_EQ(written[i].firstPixel, QColor(Qt::red).rgba());
        EXPECT_TRUE(written[i].mirrored) << "a repeat keeps the frame's mirroring";
        EXPECT_GT(written[i].hostTime, written[i - 1].hostTime) << "repeats carry the time of their writing";
    }
    // Repeats do not count as frames taken from the queue.
    EXPECT_EQ(altered.load(), 1);
    EXPECT_TRUE(t.second->all().empty());

    // A new frame replaces the repeated one.
    ASSERT_TRUE(queue->enqueue(frameOf(Qt::green), 20.0, false));
    ASSERT_TRUE(test::waitUntil(
        [&] {
            const auto all = t.first->all();
            return all.size() >= 2 && all.back().firstPixel == QColor(Qt::green).rgba() && !all.back().mirrored
                && all.back().hostTime > 20.0;
        },
        5000));

    // Without a reader, nothing is written, repeats included.
    t.first->reader = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::size_t before = t.first->all().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(t.first->all().size(), before);
}
