#include "preview/sk_image_view.h"
#include "tests/preview/controller_harness.h"
#include "tests/support/test_files.h"

#include <QUrl>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace vistrale;
using namespace vistrale::test;

TEST(CaptureStreams, StartOnceTheWindowIsAddedAtItsSizeAndStopWhenItLeaves)
{
    CaptureHarness h;
    ASSERT_TRUE(USE_SCREENCAPTUREKIT);
    const Window window = makeWindow(WINDOW + 11, QRectF(100, 200, 400.7, 300.2));
    h.share(window);
    auto stream = h.streamOf(WINDOW + 11);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->size, QSize(400, 300));
    // Added twice, it keeps one stream.
    h.vc->addWindow(window, false, false, true);
    h.fake.clock->advance(0.5);
    EXPECT_EQ(std::count_if(h.capture->streams.begin(), h.capture->streams.end(),
                  [](const auto& s) { return s->windowNumber == WINDOW + 11 && !s->stopped; }),
        1);

    NotificationCenter::defaultCenter().post("keyboard", {{"label", "keyboard"}});
    h.fake.clock->advance(0.5);
    EXPECT_FALSE(h.vc->isShared(WINDOW + 11));
    EXPECT_TRUE(stream->stopped);
    EXPECT_FALSE(h.vc->hasStream(WINDOW + 11));
}

TEST(CaptureStreams, WindowsUnderTwentyPointsAreSharedWithoutAStream)
{
    CaptureHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 19, 300)));
    EXPECT_TRUE(h.vc->isShared(WINDOW + 11));
    EXPECT_FALSE(h.vc->hasStream(WINDOW + 11));
    h.share(makeWindow(WINDOW + 12, QRectF(800, 200, 20, 20)));
    EXPECT_TRUE(h.vc->hasStream(WINDOW + 12));
}

TEST(CaptureStreams, AResizedWindowsStreamIsReconfiguredNotRestarted)
{
    CaptureHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    const std::size_t started = h.capture->streams.size();
    h.fake.windowServer->windows[0].frame = QRectF(100, 200, 640, 10);
    h.fake.clock->advance(0.2);
    EXPECT_EQ(h.capture->streams.size(), started);
    // Below the start minimum, yet kept and reconfigured.
    EXPECT_EQ(h.streamOf(WINDOW + 11)->size, QSize(640, 10));
}

TEST(CaptureStreams, FramesBecomeTheWindowsPictureAndTheMagnifierHookGetsEachOnItsCaptureThread)
{
    CaptureHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    h.share(makeWindow(WINDOW + 12, QRectF(700, 200, 300, 300)));
    auto left = h.streamOf(WINDOW + 11);
    auto right = h.streamOf(WINDOW + 12);
    ASSERT_TRUE(left && right);

    struct Call {
        FrameRef frame;
        qint64 window;
        std::thread::id thread;
    };
    std::mutex lock;
    std::vector<Call> calls;
    h.vc->setMagnifierHook([&](const FrameRef& frame, qint64 window) {
        std::lock_guard guard(lock);
        calls.push_back({frame, window, std::this_thread::get_id()});
    });
    const FrameRef a = makeFrame(QSize(400, 300), Qt::red);
    const FrameRef b = makeFrame(QSize(400, 300), Qt::green);
    const FrameRef c = makeFrame(QSize(300, 300), Qt::blue);
    std::thread::id captureId;
    std::thread captureThread([&] {
        captureId = std::this_thread::get_id();
        left->frames(a);
        left->frames(b);
        right->frames(c);
    });
    captureThread.join();
    {
        // At once and each one: the view's newest-only coalescing is not the hook's.
        std::lock_guard guard(lock);
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[0].frame, a);
        EXPECT_EQ(calls[1].frame, b);
        EXPECT_EQ(calls[2].frame, c);
        EXPECT_EQ(calls[0].window, WINDOW + 11);
        EXPECT_EQ(calls[1].window, WINDOW + 11);
        EXPECT_EQ(calls[2].window, WINDOW + 12);
        for (const Call& call : calls)
            EXPECT_EQ(call.thread, captureId);
    }
    h.fake.clock->runPending();
    // Only the newest waiting frame is shown.
    EXPECT_EQ(h.vc->imageView(WINDOW + 11)->contentLayer->contents().pixel(5, 5), QColor(Qt::green).rgba());

    // While the share window is rearranged, frames neither show nor reach the hook.
    h.vc->missionControl = true;
    left->frames(makeFrame(QSize(400, 300), Qt::yellow));
    h.fake.clock->runPending();
    EXPECT_EQ(h.vc->imageView(WINDOW + 11)->contentLayer->contents().pixel(5, 5), QColor(Qt::green).rgba());
    h.vc->missionControl = false;
    h.vc->setMagnifierHook({});
    left->frames(makeFrame(QSize(400, 300), Qt::white));
    h.fake.clock->runPending();
    std::lock_guard guard(lock);
    EXPECT_EQ(calls.size(), 3u);
    // Without a hook the window's picture still follows its stream.
    EXPECT_EQ(h.vc->imageView(WINDOW + 11)->contentLayer->contents().pixel(5, 5), QColor(Qt::white).rgba());
}

TEST(CaptureStreams, ReplacingTheMagnifierHookWaitsForTheOldOnesCallToEnd)
{
    CaptureHarness h;
    h.share(makeWindow(WINDOW + 11, QRectF(100, 200, 400, 300)));
    auto stream = h.streamOf(WINDOW + 11);
    ASSERT_TRUE(stream);
    std::atomic<bool> inside{false}, release{false}, oldCalledAfter{false}, replaced{false};
    h.vc->setMagnifierHook([&](const FrameRef&, qint64) {
        if (replaced.load())
            oldCalledAfter = true;
        inside = true;
        while (!release.load())
            std::this_thread::yield();
    });
    std::thread captureThread([&] { stream->frames(makeFrame(QSize(400, 300), Qt::red)); });
    while (!inside.load())
        std::this_thread::yield();
    std::thread replacing([&] {
        h.vc->setMagnifierHook([](const FrameRef&, qint64) {});
        replaced = true;
    });
    QThread::msleep(50);
    EXPECT_FALSE(replaced.load());
    release = true;
    replacing.join();
    captureThread.join();
    EXPECT_TRUE(replaced.load());
    stream->frames(makeFrame(QSize(400, 300), Qt::green));
    EXPECT_FALSE(oldCalledAfter.load());
}

TEST(CaptureStreams, TheEntireScreenIsCapturedFromTheMainDisplay)
{
    CaptureHarness h;
    h.fake.windowServer->desktop = makeWindow(WINDOW + 5, QRectF(0, 0, 1920, 1080));
    h.fake.windowServer->desktop->applicationName = "Window Server";
    h.fake.windowServer->desktop->windowName = "Desktop";
    h.fake.pointerKeys->location = QPointF(900, 500);
    NotificationCenter::defaultCenter().post("keyboard", {{"label", "keyboard"}});
    ASSERT_EQ(h.vc->sharingEntireScreen, WINDOW + 5);
    ASSERT_FALSE(h.capture->streams.empty());
    EXPECT_EQ(h.capture->streams.back()->displayId, 1u);
    EXPECT_EQ(h.capture->streams.back()->size, QSize(1920, 1080));
}

TEST(CameraHandOffGate, NeverHasTwoFramesInFlightAndPushesTheLastFrameWhenTheSinkAppears)
{
    CaptureHarness h;
    std::atomic<int> delivered{0};
    FrameRef lastDelivered;
    h.vc->cameraHandOff().needToStream = true;
    h.nextOutputFrame();
    ASSERT_TRUE(h.vc->lastCapturedFrame().surface);

    // The sink appears: the newest frame goes at once.
    h.vc->cameraSinkStarted([&](const FrameRef& frame) {
        lastDelivered = frame;
        ++delivered;
    });
    EXPECT_EQ(delivered.load(), 1);
    EXPECT_EQ(lastDelivered, h.vc->lastCapturedFrame().surface);

    // Until the camera takes it, further frames do not go.
    h.vc->setOverlayText("one");
    h.nextOutputFrame();
    h.vc->setOverlayText("two");
    h.nextOutputFrame();
    EXPECT_EQ(delivered.load(), 1);

    h.vc->cameraHandOff().taken();
    h.vc->setOverlayText("three");
    h.nextOutputFrame();
    EXPECT_EQ(delivered.load(), 2);

    // Nobody watching: nothing goes, even when the camera is ready.
    h.vc->cameraHandOff().taken();
    h.vc->cameraHandOff().needToStream = false;
    h.vc->setOverlayText("four");
    h.nextOutputFrame();
    EXPECT_EQ(delivered.load(), 2);
}

TEST(OutputPath, WhileTheShareWindowIsRearrangedNoFrameReachesTheRecorderOrTheCamera)
{
    CaptureHarness h;
    std::atomic<int> recorded{0}, camera{0};
    h.vc->setRecorderSink([&](const FrameRef&) { ++recorded; });
    h.vc->cameraHandOff().needToStream = true;
    h.vc->cameraSinkStarted([&](const FrameRef&) { ++camera; });
    h.vc->setOverlayText("first");
    h.nextOutputFrame();
    const int recordedBefore = recorded.load();
    EXPECT_GE(recordedBefore, 1);
    EXPECT_EQ(camera.load(), 1);

    h.vc->missionControl = true;
    h.vc->cameraHandOff().taken();
    h.vc->setOverlayText("second");
    h.nextOutputFrame();
    EXPECT_EQ(recorded.load(), recordedBefore);
    EXPECT_EQ(camera.load(), 1);
}

TEST(Screenshots, CopyPutsTheOutputPictureOnTheClipboardWithTheSound)
{
    CaptureHarness h;
    h.nextOutputFrame();
    NotificationCenter::defaultCenter().post("keyboard", {{"label", "copyscreenshot"}});
    h.fake.clock->runPending();
    EXPECT_EQ(h.fake.clipboard->writes, 1);
    EXPECT_EQ(h.fake.clipboard->picture.size(), QSize(1920, 1080));
    EXPECT_EQ(*h.fake.sounds->played, QStringList{"Grab"});

    h.settings->setBool("soundoff", true);
    h.vc->screenshot(true);
    h.fake.clock->runPending();
    EXPECT_EQ(h.fake.clipboard->writes, 2);
    EXPECT_EQ(h.fake.sounds->played->size(), 1);
}

TEST(Screenshots, SaveReplacesTheChosenFileWithAPngAndOpensIt)
{
    CaptureHarness h;
    h.nextOutputFrame();
    const QString path = h.dir.filePath("shot.png");
    ASSERT_TRUE(writeFile(path, "an older file"));
    h.fake.dialogs->savePath = path;
    NotificationCenter::defaultCenter().post("keyboard", {{"label", "screenshot"}});
    h.fake.clock->runPending();

    ASSERT_EQ(h.fake.dialogs->savePanels.size(), 1u);
    EXPECT_EQ(h.fake.dialogs->savePanels[0].proposedName, "vistrale.png");
    EXPECT_TRUE(h.fake.dialogs->savePanels[0].directory.endsWith("/Downloads"));
    const QImage saved(path, "PNG");
    EXPECT_EQ(saved.size(), QSize(1920, 1080));
    ASSERT_EQ(h.fake.systemActions->opened.size(), 1u);
    EXPECT_EQ(h.fake.systemActions->opened[0], QUrl::fromLocalFile(path));

    // Cancelled: nothing written, nothing opened.
    h.fake.dialogs->savePath.reset();
    h.vc->screenshot(false);
    h.fake.clock->runPending();
    EXPECT_EQ(h.fake.systemActions->opened.size(), 1u);
}

TEST(Screenshots, WithoutPermissionTheDialogAsksForItInstead)
{
    CaptureHarness h;
    h.vc->hasScreenPermission = false;
    h.fake.dialogs->answers = {false};
    h.vc->screenshot(true);
    h.fake.clock->runPending();
    ASSERT_EQ(h.fake.dialogs->shown.size(), 1u);
    EXPECT_EQ(h.fake.dialogs->shown[0].message, "Info");
    EXPECT_EQ(h.fake.clipboard->writes, 0);
}
