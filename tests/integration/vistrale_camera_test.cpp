// "Vistrale Camera" end to end: the built application on a virtual desktop with a
// private PipeWire session, read by GStreamer's pipewiresrc as a call application
// reads a camera.
#include "tests/support/pipewire_session.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace vistrale::test;

namespace {

constexpr int WIDTH = 1920;
constexpr int HEIGHT = 1080;
constexpr qint64 FRAME_BYTES = qint64(WIDTH) * HEIGHT * 4;
// The node the application publishes.
constexpr const char* NODE = "vistrale-camera";

class VistraleCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
        session = std::make_unique<PipeWireSession>(desktop.sessionBusAddress());
        ASSERT_TRUE(session->start(&error)) << error.toStdString();
        app = std::make_unique<VistraleProcess>(desktop);
        app->setEnvironment("PIPEWIRE_REMOTE", session->socketPath());
    }
    void TearDown() override
    {
        app.reset();
        session.reset();
    }

    void startWith(const QStringList& settings)
    {
        app->writeSettings(settings);
        QString error;
        ASSERT_TRUE(app->start(&error)) << error.toStdString();
        ASSERT_TRUE(app->waitForLine("found sink stream ").has_value()) << app->output().toStdString();
        ASSERT_TRUE(waitUntil([&] { return session->hasNode(NODE); }, 10000)) << "the camera node is not published";
    }

    int count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& line : app->output().split('\n'))
            if (line.startsWith(prefix))
                ++n;
        return n;
    }

    // A reader of `frames` BGRx frames into `file`.
    QProcess* startReader(int frames, const QString& file)
    {
        return session->startClient("gst-launch-1.0",
            {"-q", "pipewiresrc", QString("target-object=%1").arg(NODE), QString("num-buffers=%1").arg(frames), "!",
                "video/x-raw,format=BGRx", "!", "filesink", "location=" + file});
    }

    static bool finished(QProcess* reader, int timeoutMs)
    {
        return reader && reader->waitForFinished(timeoutMs) && reader->exitStatus() == QProcess::NormalExit
            && reader->exitCode() == 0;
    }

    // The last whole frame the reader wrote.
    static QImage lastFrame(const QString& file)
    {
        QFile raw(file);
        if (!raw.open(QIODevice::ReadOnly) || raw.size() < FRAME_BYTES)
            return {};
        raw.seek((raw.size() / FRAME_BYTES - 1) * FRAME_BYTES);
        const QByteArray bytes = raw.read(FRAME_BYTES);
        return QImage(reinterpret_cast<const uchar*>(bytes.constData()), WIDTH, HEIGHT, WIDTH * 4, QImage::Format_RGB32)
            .copy();
    }

    // Pixels differing by more than a rounding step, in a grid over the picture.
    static int differences(const QImage& a, const QImage& b)
    {
        int n = 0;
        for (int y = 0; y < HEIGHT; y += 5)
            for (int x = 0; x < WIDTH; x += 5) {
                const QRgb p = a.pixel(x, y);
                const QRgb q = b.pixel(x, y);
                if (std::abs(qRed(p) - qRed(q)) > 2 || std::abs(qGreen(p) - qGreen(q)) > 2
                    || std::abs(qBlue(p) - qBlue(q)) > 2)
                    ++n;
            }
        return n;
    }

    // One reader that reads a few frames; the last one, or a null image.
    QImage readOnce(const QString& name)
    {
        const QString file = session->runtimeDir() + "/" + name;
        QProcess* reader = startReader(8, file);
        if (!finished(reader, 30000)) {
            ADD_FAILURE() << "the reader did not finish: " << app->output().toStdString();
            return {};
        }
        return lastFrame(file);
    }

    VirtualDesktop desktop;
    std::unique_ptr<PipeWireSession> session;
    std::unique_ptr<VistraleProcess> app;
};

} // namespace

TEST_F(VistraleCamera, FeedsOnlyAWatchingClientWithTheOutputPictureMirroredWhenAskedAndStopsWhenItLeaves)
{
    startWith({"already-shown=true", "overlay-text=Vistrale Camera test"});

    // Two polls with nobody watching: the sink never starts.
    QThread::msleep(4500);
    EXPECT_EQ(count("initSink"), 0) << app->output().toStdString();

    for (bool mirrored : {false, true}) {
        SCOPED_TRACE(mirrored ? "mirrored" : "plain");
        const QImage received = readOnce(mirrored ? "mirrored.raw" : "plain.raw");
        ASSERT_FALSE(received.isNull());
        const QImage output = app->outputPicture();
        ASSERT_EQ(output.size(), QSize(WIDTH, HEIGHT));
        const QImage expected = output.convertToFormat(QImage::Format_RGB32);
        // The output is not symmetric, so the comparison tells a mirrored picture apart.
        EXPECT_LT(differences(received, mirrored ? expected.mirrored(true, false) : expected), 50)
            << "the camera's picture is not the output picture";
        EXPECT_GT(differences(received, mirrored ? expected : expected.mirrored(true, false)), 1000);
        // The client left: the next poll stops the sink.
        EXPECT_TRUE(waitUntil([&] { return count("stopSink resultStop=0") == (mirrored ? 2 : 1); }, 6000))
            << app->output().toStdString();
        EXPECT_EQ(count("initSink resultStart=0"), mirrored ? 2 : 1);
        constexpr int MIRROR_CAMERA = 203;
        ASSERT_TRUE(app->triggerMenuItem(MIRROR_CAMERA));
    }
}

TEST_F(VistraleCamera, SurvivesReadersComingAndGoingAndADaemonRestart)
{
    startWith({"already-shown=true", "overlay-text=Coming and going"});
    // Readers that leave before the poll notices them, and readers that stay for a poll.
    for (int i = 0; i < 6; ++i) {
        QProcess* reader = startReader(i % 2 == 0 ? 1 : 15, session->runtimeDir() + "/cycle.raw");
        ASSERT_TRUE(finished(reader, 30000)) << "cycle " << i << ": " << app->output().toStdString();
        session->stopClient(reader);
    }
    ASSERT_TRUE(waitUntil([&] { return count("stopSink resultStop=") >= count("initSink resultStart="); }, 6000));

    session->stopDaemon();
    QThread::msleep(2500);
    QString error;
    ASSERT_TRUE(session->startDaemon(&error)) << error.toStdString();
    ASSERT_TRUE(waitUntil([&] { return session->hasNode(NODE); }, 15000)) << "not published again";

    const QImage received = readOnce("after-restart.raw");
    ASSERT_FALSE(received.isNull());
    EXPECT_LT(differences(received, app->outputPicture().convertToFormat(QImage::Format_RGB32)), 50);
    ASSERT_NE(app->pid(), 0);
    EXPECT_EQ(::kill(static_cast<pid_t>(app->pid()), 0), 0) << "Vistrale is gone";
}

TEST_F(VistraleCamera, QuitsCleanlyWhileACallApplicationWatches)
{
    startWith({"already-shown=true", "overlay-text=Quit while watched"});
    for (int round = 0; round < 3; ++round) {
        if (round > 0) {
            QString error;
            ASSERT_TRUE(app->start(&error)) << error.toStdString();
        }
        const int started = count("initSink resultStart=0");
        QProcess* reader = startReader(100000, session->runtimeDir() + "/watching.raw");
        ASSERT_NE(reader, nullptr);
        ASSERT_TRUE(waitUntil([&] { return count("initSink resultStart=0") > started; }, 10000))
            << "round " << round << ": " << app->output().toStdString();
        // Frames flow to the reader when Quit comes.
        QThread::msleep(500);
        EXPECT_EQ(app->quit(), 0) << "round " << round << ": " << app->errorOutput().toStdString()
                                  << app->output().right(2000).toStdString();
        EXPECT_FALSE(app->errorOutput().contains("AddressSanitizer")) << app->errorOutput().toStdString();
        session->stopClient(reader);
    }
}

TEST_F(VistraleCamera, ShowsAWebcamOfTheSessionInACircle)
{
    // A test webcam published in the session as a desktop's camera service does.
    QProcess* webcam = session->startClient("gst-launch-1.0",
        {"-q", "videotestsrc", "is-live=true", "pattern=red", "!",
            "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1", "!", "pipewiresink", "mode=provide",
            "client-name=testcam",
            "stream-properties=props,media.class=(string)Video/Source,node.description=(string)Test-Webcam"});
    ASSERT_NE(webcam, nullptr);
    ASSERT_TRUE(waitUntil([&] { return session->hasNode("testcam"); }, 10000)) << "the test webcam is not published";
    startWith({"already-shown=true", "camera=true", "camerashape=2"});

    // The default webcam: a circle of 540 (the middle of a 960 × 540 frame) that keeps
    // 9 points from the right and bottom edges. Picture rows count from the top.
    const QPoint centre(1920 - 9 - 270, 1080 - 9 - 270);
    auto red = [](QRgb p) { return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60; };
    QImage picture;
    EXPECT_TRUE(waitUntil(
        [&] {
            picture = app->outputPicture();
            return !picture.isNull() && red(picture.pixel(centre));
        },
        15000))
        << app->output().toStdString();
    ASSERT_FALSE(picture.isNull());
    for (const QPoint offset : {QPoint(-250, 0), QPoint(250, 0), QPoint(0, -250), QPoint(0, 250), QPoint(170, 170)})
        EXPECT_TRUE(red(picture.pixel(centre + offset))) << offset.x() << "," << offset.y();
    // The frame's corners lie outside the circle: the backdrop shows there.
    for (const QPoint corner : {QPoint(-470, -260), QPoint(-470, 260), QPoint(-260, -260), QPoint(260, 260)})
        EXPECT_FALSE(red(picture.pixel(centre + corner))) << corner.x() << "," << corner.y();
}
