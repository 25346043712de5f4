#include "platform/pipewire/pipewire_camera.h"
#include "tests/support/pipewire_session.h"
#include "tests/support/test_files.h"
#include "tests/support/wait_until.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

constexpr int WIDTH = 1920;
constexpr int HEIGHT = 1080;
constexpr int WATCH_TIMEOUT_MS = 5000;
constexpr int READER_TIMEOUT_MS = 15000;

// An opaque output-sized picture, as the output picture is, with colour(x, y) in each pixel.
template <typename Colour> FrameBuffer picture(Colour colour)
{
    FrameBuffer frame;
    frame.image = QImage(WIDTH, HEIGHT, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < HEIGHT; ++y) {
        auto* row = reinterpret_cast<QRgb*>(frame.image.scanLine(y));
        for (int x = 0; x < WIDTH; ++x)
            row[x] = colour(x, y);
    }
    return frame;
}

// Detail in every pixel and no symmetry, so that a wrong stride, a shifted row or a
// missing flip shows.
FrameBuffer detailedPicture()
{
    return picture([](int x, int y) { return qRgb((x * 7 + y) & 255, (y * 3 + x / 5) & 255, (x ^ y) & 255); });
}

// Smooth colours, which survive chroma subsampling nearly unchanged.
FrameBuffer smoothPicture()
{
    return picture([](int x, int y) {
        return qRgb(x * 255 / (WIDTH - 1), y * 255 / (HEIGHT - 1), 255 - (x + y) * 255 / (WIDTH + HEIGHT));
    });
}

qint64 residentKilobytes()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Standard output, where log lines go, captured into a file while this lives.
class CapturedOutput {
public:
    CapturedOutput()
    {
        file.open();
        std::fflush(stdout);
        saved = ::dup(STDOUT_FILENO);
        ::dup2(file.handle(), STDOUT_FILENO);
    }
    ~CapturedOutput() { restore(); }
    // Stops capturing; the lines written meanwhile.
    QStringList restore()
    {
        if (saved >= 0) {
            std::fflush(stdout);
            ::dup2(saved, STDOUT_FILENO);
            ::close(saved);
            saved = -1;
            QFile read(file.fileName());
            read.open(QIODevice::ReadOnly);
            lines = QString::fromUtf8(read.readAll()).split('\n', Qt::SkipEmptyParts);
        }
        return lines;
    }

private:
    QTemporaryFile file;
    int saved = -1;
    QStringList lines;
};

int linesContaining(const QStringList& lines, const QString& text)
{
    int count = 0;
    for (const QString& line : lines)
        count += line.contains(text) ? 1 : 0;
    return count;
}

class PipeWireCameraTest : public testing::Test {
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
        camera = std::make_unique<PipeWireCamera>(session->socketPath());
        ASSERT_TRUE(waitUntil([this] { return camera->published(); }, WATCH_TIMEOUT_MS));
    }
    void TearDown() override
    {
        camera.reset();
        session.reset();
    }

    // Starts a GStreamer reader of `frames` pictures in `format` into a file.
    QProcess* startGStreamerReader(const QString& format, int frames, const QString& file)
    {
        return session->startClient("gst-launch-1.0",
            {"-q", "pipewiresrc", QString("target-object=%1").arg(PipeWireCamera::NODE_NAME),
                QString("num-buffers=%1").arg(frames), "!", "video/x-raw,format=" + format, "!", "filesink",
                "location=" + file});
    }

    // Writes `frame` at about 30 a second while the reader runs; whether the reader
    // made the camera watched and then finished by itself.
    bool feedUntilDone(QProcess* reader, const FrameBuffer& frame, bool mirrored)
    {
        if (!reader)
            return false;
        bool sawWatch = false;
        QDeadlineTimer deadline(READER_TIMEOUT_MS);
        while (reader->state() != QProcess::NotRunning && !deadline.hasExpired()) {
            if (camera->watched()) {
                sawWatch = true;
                camera->write(frame, 0, mirrored);
            }
            reader->waitForFinished(33);
        }
        return sawWatch && reader->state() == QProcess::NotRunning && reader->exitCode() == 0;
    }

    QString outputPath(const QString& name) const { return session->runtimeDir() + "/" + name; }

    std::unique_ptr<PipeWireSession> session;
    std::unique_ptr<PipeWireCamera> camera;
};

// The picture `frame` as BGRx bytes, flipped left to right when `mirrored`.
QByteArray bgrxOf(const FrameBuffer& frame, bool mirrored)
{
    const QImage image = mirrored ? frame.image.mirrored(true, false) : frame.image;
    QByteArray bytes(WIDTH * HEIGHT * 4, Qt::Uninitialized);
    for (int y = 0; y < HEIGHT; ++y)
        std::memcpy(bytes.data() + y * WIDTH * 4, image.constScanLine(y), WIDTH * 4);
    return bytes;
}

// How far a received YUV picture, decoded as BT.601 in limited range, is from the
// written one: the mean and the largest difference over every channel.
struct Difference {
    double mean = 0;
    int largest = 0;
};

Difference yuvDifference(const QByteArray& picture, const QString& format, const FrameBuffer& frame)
{
    Difference result;
    const auto* bytes = reinterpret_cast<const uint8_t*>(picture.constData());
    double total = 0;
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < WIDTH; ++x) {
            int luma = 0;
            int u = 0;
            int v = 0;
            if (format == "YUY2") {
                const uint8_t* pair = bytes + y * WIDTH * 2 + (x / 2) * 4;
                luma = pair[(x % 2) * 2];
                u = pair[1];
                v = pair[3];
            } else {
                const uint8_t* planeU = bytes + WIDTH * HEIGHT;
                const uint8_t* planeV = planeU + (WIDTH / 2) * (HEIGHT / 2);
                luma = bytes[y * WIDTH + x];
                u = planeU[(y / 2) * (WIDTH / 2) + x / 2];
                v = planeV[(y / 2) * (WIDTH / 2) + x / 2];
            }
            const double c = 1.164 * (luma - 16);
            const double decoded[3]
                = {c + 1.596 * (v - 128), c - 0.813 * (v - 128) - 0.391 * (u - 128), c + 2.018 * (u - 128)};
            const QRgb written = frame.image.pixel(x, y);
            const int expected[3] = {qRed(written), qGreen(written), qBlue(written)};
            for (int channel = 0; channel < 3; ++channel) {
                const int difference = std::abs(
                    static_cast<int>(std::lround(std::clamp(decoded[channel], 0.0, 255.0))) - expected[channel]);
                total += difference;
                result.largest = std::max(result.largest, difference);
            }
        }
    }
    result.mean = total / (3.0 * WIDTH * HEIGHT);
    return result;
}

} // namespace

TEST_F(PipeWireCameraTest, IsListedAsACameraAndStaysUnwatchedWithoutAReader)
{
    QString nodes;
    ASSERT_EQ(session->run("pw-cli", {"ls", "Node"}, &nodes), 0);
    const int at = nodes.indexOf("node.name = \"vistrale-camera\"");
    ASSERT_GE(at, 0) << nodes.toStdString();
    const QString node = nodes.mid(nodes.lastIndexOf("id ", at), 1200);
    EXPECT_TRUE(node.contains("media.class = \"Video/Source\"")) << node.toStdString();
    EXPECT_TRUE(node.contains("node.description = \"Vistrale Camera\""));
    EXPECT_TRUE(node.contains("media.role = \"Camera\""));

    waitUntil([] { return false; }, 500);
    EXPECT_FALSE(camera->watched());
    EXPECT_FALSE(camera->write(detailedPicture(), 0, false));
}

TEST_F(PipeWireCameraTest, GStreamerReaderGetsBgrxBitExactPlainAndMirrored)
{
    const FrameBuffer frame = detailedPicture();
    for (const bool mirrored : {false, true}) {
        SCOPED_TRACE(mirrored ? "mirrored" : "plain");
        const QString path = outputPath(mirrored ? "mirrored.bgrx" : "plain.bgrx");
        ASSERT_TRUE(feedUntilDone(startGStreamerReader("BGRx", 3, path), frame, mirrored));
        const QByteArray received = readFile(path);
        ASSERT_EQ(received.size(), 3 * WIDTH * HEIGHT * 4);
        const QByteArray expected = bgrxOf(frame, mirrored);
        for (int picture = 0; picture < 3; ++picture)
            EXPECT_TRUE(received.mid(picture * expected.size(), expected.size()) == expected) << "picture " << picture;

        // The reader is gone: nobody watches any more.
        EXPECT_TRUE(waitUntil([this] { return !camera->watched(); }, 1000));
    }
}

TEST_F(PipeWireCameraTest, GStreamerReaderGetsYuy2AndI420CloseToThePicture)
{
    const FrameBuffer frame = smoothPicture();
    for (const QString format : {"YUY2", "I420"}) {
        SCOPED_TRACE(format.toStdString());
        const QString path = outputPath(format + ".yuv");
        ASSERT_TRUE(feedUntilDone(startGStreamerReader(format, 2, path), frame, false));
        const QByteArray received = readFile(path);
        const int bytes = format == "YUY2" ? WIDTH * HEIGHT * 2 : WIDTH * HEIGHT * 3 / 2;
        ASSERT_EQ(received.size(), 2 * bytes);
        const Difference difference = yuvDifference(received.left(bytes), format, frame);
        EXPECT_LT(difference.mean, 1.5);
        EXPECT_LE(difference.largest, 8);
    }
}

TEST_F(PipeWireCameraTest, V4l2ReaderReadsItThroughPipeWiresV4l2Layer)
{
    if (QStandardPaths::findExecutable("pw-v4l2").isEmpty() || QStandardPaths::findExecutable("ffmpeg").isEmpty())
        GTEST_SKIP() << "pw-v4l2 or ffmpeg not installed";
    const FrameBuffer frame = detailedPicture();
    const QString path = outputPath("v4l2.bgrx");
    QProcess* reader = session->startClient("pw-v4l2",
        {"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "v4l2", "-input_format", "bgr0", "-video_size",
            QString("%1x%2").arg(WIDTH).arg(HEIGHT), "-i", "/dev/video0", "-frames:v", "2", "-f", "rawvideo",
            "-pix_fmt", "bgr0", "-y", path});
    ASSERT_TRUE(feedUntilDone(reader, frame, false));
    const QByteArray received = readFile(path);
    ASSERT_EQ(received.size(), 2 * WIDTH * HEIGHT * 4);
    EXPECT_TRUE(received.right(WIDTH * HEIGHT * 4) == bgrxOf(frame, false));
}

TEST_F(PipeWireCameraTest, ManyReadersComingAndGoingLeaveItWorkingWithFlatMemory)
{
    const FrameBuffer frame = detailedPicture();
    const QString path = outputPath("cycle.bgrx");
    // One reader first, so that every lasting allocation (buffers, scratch) is made.
    ASSERT_TRUE(feedUntilDone(startGStreamerReader("BGRx", 1, path), frame, false));
    const qint64 before = residentKilobytes();
    for (int cycle = 0; cycle < 50; ++cycle) {
        QProcess* reader = startGStreamerReader("BGRx", 1, path);
        ASSERT_TRUE(feedUntilDone(reader, frame, cycle % 2 == 1)) << "cycle " << cycle;
        session->stopClient(reader);
        ASSERT_TRUE(waitUntil([this] { return !camera->watched(); }, 1000)) << "cycle " << cycle;
    }
    const qint64 after = residentKilobytes();
    EXPECT_LT(after - before, 4 * 1024) << "resident " << before << " kB before, " << after << " kB after";
    EXPECT_EQ(readFile(path).size(), WIDTH * HEIGHT * 4);
}

TEST_F(PipeWireCameraTest, PublishesAgainAfterTheDaemonRestartsWithOneLinePerChange)
{
    const FrameBuffer frame = detailedPicture();
    CapturedOutput output;
    session->stopDaemon();
    EXPECT_TRUE(waitUntil([this] { return !camera->published(); }, 2000));
    EXPECT_FALSE(camera->watched());
    EXPECT_FALSE(camera->write(frame, 0, false));
    // Several retries fail while the daemon is away.
    waitUntil([] { return false; }, 4500);
    QString error;
    ASSERT_TRUE(session->startDaemon(&error)) << error.toStdString();
    const bool republished = waitUntil([this] { return camera->published(); }, 5000);
    const QStringList lines = output.restore();
    ASSERT_TRUE(republished);
    EXPECT_EQ(linesContaining(lines, "pipewire camera: daemon lost"), 1) << lines.join('\n').toStdString();
    EXPECT_EQ(linesContaining(lines, "pipewire camera: published again"), 1) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.size(), 2) << lines.join('\n').toStdString();

    const QString path = outputPath("after-restart.bgrx");
    ASSERT_TRUE(feedUntilDone(startGStreamerReader("BGRx", 2, path), frame, false));
    EXPECT_TRUE(readFile(path).right(WIDTH * HEIGHT * 4) == bgrxOf(frame, false));
}

TEST(PipeWireCameraWithoutDaemon, StartsBeforeTheDaemonAndPublishesOnceItRuns)
{
    for (const char* program : {"pipewire", "wireplumber"}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            GTEST_SKIP() << program << " not installed";
    }
    PipeWireSession session;
    CapturedOutput output;
    PipeWireCamera camera(session.socketPath());
    waitUntil([] { return false; }, 300);
    EXPECT_FALSE(camera.published());
    EXPECT_FALSE(camera.watched());
    QString error;
    ASSERT_TRUE(session.start(&error)) << error.toStdString();
    const bool published = waitUntil([&] { return camera.published(); }, 5000);
    const QStringList lines = output.restore();
    EXPECT_TRUE(published);
    EXPECT_EQ(linesContaining(lines, "pipewire camera: no daemon"), 1) << lines.join('\n').toStdString();
    EXPECT_EQ(linesContaining(lines, "pipewire camera: published"), 1) << lines.join('\n').toStdString();
}
