#include "platform/pipewire/pipewire_camera.h"
#include "platform/pipewire/pipewire_webcams.h"
#include "tests/support/pipewire_session.h"
#include "tests/support/wait_until.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>

using namespace vistrale;
using namespace vistrale::test;

namespace {

constexpr int TIMEOUT_MS = 10000;

// A webcam as GStreamer publishes it into the session: a live solid-red picture of
// 640 × 480 in `caps` ("video/x-raw,format=YUY2" or "image/jpeg" after an encoder).
QStringList testCameraPipeline(const QString& clientName, const QString& description, bool jpeg)
{
    QStringList pipeline{"-q", "videotestsrc", "is-live=true", "pattern=red", "!",
        "video/x-raw,format=" + QString(jpeg ? "I420" : "YUY2") + ",width=640,height=480,framerate=30/1", "!"};
    if (jpeg)
        pipeline << "jpegenc"
                 << "!"
                 << "image/jpeg,width=640,height=480,framerate=30/1"
                 << "!";
    pipeline << "pipewiresink"
             << "mode=provide"
             << "client-name=" + clientName
             << "stream-properties=props,media.class=(string)Video/Source,node.description=(string)" + description;
    return pipeline;
}

std::optional<WebcamInfo> findNamed(const std::vector<WebcamInfo>& cameras, const QString& name)
{
    for (const WebcamInfo& camera : cameras) {
        if (camera.name == name)
            return camera;
    }
    return std::nullopt;
}

// What one stream delivered, from its capture thread.
struct Received {
    std::mutex lock;
    FrameRef first;
    int frames = 0;
    std::optional<WebcamFailure> failure;

    Webcams::FrameSink frameSink()
    {
        return [this](FrameRef frame) {
            std::lock_guard guard(lock);
            if (!first)
                first = std::move(frame);
            ++frames;
        };
    }
    Webcams::FailureSink failureSink()
    {
        return [this](WebcamFailure kind, const QString&) {
            std::lock_guard guard(lock);
            failure = kind;
        };
    }
    bool hasFrame()
    {
        std::lock_guard guard(lock);
        return first != nullptr;
    }
    bool failed(WebcamFailure kind)
    {
        std::lock_guard guard(lock);
        return failure == kind;
    }
};

// The centre pixel of a BGRA picture is red (within what YUV coding changes).
void expectRedCentre(const QImage& image)
{
    const uchar* pixel = image.constScanLine(image.height() / 2) + (image.width() / 2) * 4;
    EXPECT_LE(pixel[0], 30) << "blue";
    EXPECT_LE(pixel[1], 30) << "green";
    EXPECT_GE(pixel[2], 220) << "red";
    EXPECT_EQ(pixel[3], 255) << "alpha";
}

class WebcamsTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* program : {"pipewire", "wireplumber", "gst-launch-1.0"}) {
            if (QStandardPaths::findExecutable(program).isEmpty())
                GTEST_SKIP() << program << " not installed";
        }
        session = std::make_unique<PipeWireSession>();
        QString error;
        ASSERT_TRUE(session->start(&error)) << error.toStdString();
        // Vistrale's own camera is published in the same session, and must never be
        // offered as a webcam.
        ownCamera = std::make_unique<PipeWireCamera>(session->socketPath());
        ASSERT_TRUE(waitUntil([this] { return ownCamera->published(); }, TIMEOUT_MS));
    }
    void TearDown() override
    {
        ownCamera.reset();
        session.reset();
    }

    QProcess* startTestCamera(const QString& clientName, const QString& description, bool jpeg = false)
    {
        QProcess* camera = session->startClient("gst-launch-1.0", testCameraPipeline(clientName, description, jpeg));
        EXPECT_NE(camera, nullptr);
        EXPECT_TRUE(waitUntil([&] { return session->hasNode(clientName); }, TIMEOUT_MS)) << clientName.toStdString();
        return camera;
    }

    std::unique_ptr<PipeWireSession> session;
    std::unique_ptr<PipeWireCamera> ownCamera;
};

TEST_F(WebcamsTest, PipeWireListsSessionCamerasButNotVistralesOwnAndReadsEachFormat)
{
    startTestCamera("testcam", "Test-Webcam");
    startTestCamera("jpegcam", "Jpeg-Webcam", true);
    PipeWireWebcams webcams(session->socketPath());
    ASSERT_TRUE(webcams.connected());
    ASSERT_TRUE(waitUntil([&] { return webcams.cameras().size() >= 2; }, TIMEOUT_MS));
    for (const WebcamInfo& camera : webcams.cameras())
        EXPECT_FALSE(camera.name.contains("Vistrale")) << camera.id.toStdString();
    ASSERT_TRUE(findNamed(webcams.cameras(), "Test-Webcam"));
    EXPECT_EQ(findNamed(webcams.cameras(), "Test-Webcam")->id, "testcam");

    for (const QString name : {"Test-Webcam", "Jpeg-Webcam"}) {
        SCOPED_TRACE(name.toStdString());
        const std::optional<WebcamInfo> camera = findNamed(webcams.cameras(), name);
        ASSERT_TRUE(camera);
        Received received;
        auto stream = webcams.start(camera->id, received.frameSink(), received.failureSink());
        ASSERT_NE(stream, nullptr);
        ASSERT_TRUE(waitUntil([&] { return received.hasFrame(); }, TIMEOUT_MS));
        stream->stop();
        const int frames = received.frames;
        EXPECT_EQ(received.first->image.size(), QSize(640, 480));
        expectRedCentre(received.first->image);
        QThread::msleep(100);
        EXPECT_EQ(received.frames, frames) << "a frame came after stop";
        EXPECT_FALSE(received.failure);
    }
    EXPECT_EQ(webcams.start(
                  "no-such-camera", [](FrameRef) {}, [](WebcamFailure, const QString&) {}),
        nullptr);
}

TEST_F(WebcamsTest, PipeWireCameraUnpluggedOrADaemonRestartFailsTheStreamAndChangesTheList)
{
    PipeWireWebcams webcams(session->socketPath());
    std::atomic<int> changes{0};
    webcams.setCamerasChanged([&] { ++changes; });
    for (bool unplug : {true, false}) {
        SCOPED_TRACE(unplug ? "unplugged" : "daemon restarted");
        const QString id = unplug ? "testcam" : "testcam2";
        QProcess* testCamera = startTestCamera(id, "Test-Webcam");
        ASSERT_TRUE(waitUntil([&] { return findNamed(webcams.cameras(), "Test-Webcam").has_value(); }, TIMEOUT_MS));
        EXPECT_GE(changes.load(), 1);
        Received received;
        auto stream = webcams.start(id, received.frameSink(), received.failureSink());
        ASSERT_NE(stream, nullptr);
        ASSERT_TRUE(waitUntil([&] { return received.hasFrame(); }, TIMEOUT_MS));
        const int before = changes.load();
        if (unplug)
            session->stopClient(testCamera);
        else
            session->stopDaemon();
        EXPECT_TRUE(waitUntil([&] { return received.failed(WebcamFailure::Gone); }, TIMEOUT_MS));
        EXPECT_TRUE(waitUntil([&] { return webcams.cameras().empty(); }, TIMEOUT_MS));
        EXPECT_GT(changes.load(), before);
    }
    // Once the daemon is back, cameras are listed again.
    QString error;
    ASSERT_TRUE(session->startDaemon(&error)) << error.toStdString();
    startTestCamera("testcam3", "Test-Webcam-3");
    EXPECT_TRUE(waitUntil([&] { return findNamed(webcams.cameras(), "Test-Webcam-3").has_value(); }, TIMEOUT_MS));
}

#ifdef VISTRALE_WEBCAM_PROBE
// The V4L2 reader on real V4L2 calls: the pw-v4l2 wrapper serves the session's
// cameras as /dev/video0, 1, ... (in node order) to the probe program.
TEST_F(WebcamsTest, V4L2ListsDevicesButNotVistralesOwnAndReadsAPicture)
{
    if (QStandardPaths::findExecutable("pw-v4l2").isEmpty())
        GTEST_SKIP() << "pw-v4l2 not installed";
    // Vistrale's camera at a size a V4L2 reader would take, so that only its name
    // keeps it out.
    ownCamera = std::make_unique<PipeWireCamera>(session->socketPath(), QSize(1280, 720));
    ASSERT_TRUE(waitUntil([this] { return ownCamera->published(); }, TIMEOUT_MS));
    startTestCamera("testcam", "Test-Webcam");
    QStringList arguments{VISTRALE_WEBCAM_PROBE};
    for (int i = 0; i < 4; ++i)
        arguments << "--device" << QString("/dev/video%1").arg(i);
    arguments << "--read"
              << "Test-Webcam";
    QString output;
    const int status = session->run("pw-v4l2", arguments, &output, 20000);
    const QStringList lines = output.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(status, 0) << output.toStdString();
    // The wrapper serves Vistrale's own camera too; the backend leaves it out.
    EXPECT_EQ(lines.filter(QRegularExpression("^device\t/dev/video\\d\tVistrale Camera$")).size(), 1)
        << output.toStdString();
    EXPECT_TRUE(lines.filter(QRegularExpression("^camera\t.*Vistrale")).isEmpty()) << output.toStdString();
    EXPECT_EQ(lines.filter(QRegularExpression("^camera\t/dev/video\\d\tTest-Webcam$")).size(), 1)
        << output.toStdString();
    const QStringList frame = lines.filter(QRegularExpression("^frame\t")).value(0).split('\t');
    ASSERT_EQ(frame.size(), 4) << output.toStdString();
    EXPECT_EQ(frame[1], "640");
    EXPECT_EQ(frame[2], "480");
    const QStringList bgra = frame[3].split(',');
    ASSERT_EQ(bgra.size(), 4);
    EXPECT_LE(bgra[0].toInt(), 30);
    EXPECT_LE(bgra[1].toInt(), 30);
    EXPECT_GE(bgra[2].toInt(), 220);
    EXPECT_EQ(bgra[3].toInt(), 255);
}
#endif

} // namespace
