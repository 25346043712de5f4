#include "platform/v4l2/v4l2_loopback_camera.h"

#include "platform/v4l2/find_loopback_device.h"

#include "tests/support/file_reader.h"
#include "tests/support/test_files.h"
#include "tests/support/wait_until.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

using namespace std::chrono_literals;

const QSize SIZE(64, 36);

// What the stand-ins saw, shared with the test.
struct DeviceLog {
    std::mutex lock;
    int opens = 0;
    int refusedOpens = 0;
    std::optional<CameraPixelFormat> format;
    QSize size;
};

// A file in a temporary folder (or any path) standing in for the device node: the
// format is remembered, each picture overwrites the file from its start, as the
// device's buffer would be. Readers are real processes holding the file open.
class StandInDevice : public LoopbackDevice {
public:
    StandInDevice(QString path, int fd, std::shared_ptr<DeviceLog> log)
        : file(std::move(path))
        , fd(fd)
        , log(std::move(log))
    {
    }
    ~StandInDevice() override { close(fd); }
    QString path() const override { return file; }
    bool setFormat(CameraPixelFormat format, QSize size, QString*) override
    {
        std::lock_guard guard(log->lock);
        log->format = format;
        log->size = size;
        return true;
    }
    bool write(const uint8_t* data, size_t bytes, QString* error) override
    {
        const ssize_t written = pwrite(fd, data, bytes, 0);
        if (written != static_cast<ssize_t>(bytes)) {
            *error = QString::fromLocal8Bit(strerror(errno));
            return false;
        }
        return true;
    }
    bool subscribeReaderCount() override { return false; }
    int eventDescriptor() const override { return -1; }
    std::optional<int> takeReaderCount() override { return std::nullopt; }

private:
    QString file;
    int fd;
    std::shared_ptr<DeviceLog> log;
};

V4L2LoopbackCamera::OpenDevice standIn(QString path, std::shared_ptr<DeviceLog> log, int refuseFirst = 0)
{
    return [=](QString* why) -> std::unique_ptr<LoopbackDevice> {
        std::lock_guard guard(log->lock);
        if (log->refusedOpens < refuseFirst) {
            ++log->refusedOpens;
            *why = "no stand-in yet";
            return nullptr;
        }
        const int fd = open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            *why = QString::fromLocal8Bit(strerror(errno));
            return nullptr;
        }
        ++log->opens;
        return std::make_unique<StandInDevice>(path, fd, log);
    };
}

FrameBuffer frame(QSize size, QColor left, QColor right)
{
    FrameBuffer buffer;
    buffer.image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    buffer.image.fill(left);
    for (int y = 0; y < size.height(); ++y)
        for (int x = size.width() / 2; x < size.width(); ++x)
            buffer.image.setPixel(x, y, right.rgb());
    return buffer;
}

// Luma of BT.601 in limited range.
int luma(QColor c)
{
    return int(std::lround(16 + (65.481 * c.red() + 128.553 * c.green() + 24.966 * c.blue()) / 255));
}

class V4L2LoopbackCameraTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        node = dir.filePath("video7");
        ASSERT_TRUE(writeFile(node, {}));
    }

    std::unique_ptr<V4L2LoopbackCamera> camera(CameraPixelFormat format = CameraPixelFormat::YUY2, int refuseFirst = 0)
    {
        return std::make_unique<V4L2LoopbackCamera>(
            standIn(node, log, refuseFirst), format, SIZE, V4L2LoopbackCamera::Timing{100ms, 100ms, 50ms});
    }

    QTemporaryDir dir;
    QString node;
    std::shared_ptr<DeviceLog> log = std::make_shared<DeviceLog>();
};

} // namespace

// --- Opening --------------------------------------------------------------------------

TEST_F(V4L2LoopbackCameraTest, KeepsTryingUntilTheDeviceAppearsThenSetsTheFormatAndWritesAPictureAtOnce)
{
    auto yuy2 = camera(CameraPixelFormat::YUY2, 2);
    ASSERT_TRUE(waitUntil([&] { return yuy2->picturesWritten() >= 1; }, 2000));
    {
        std::lock_guard guard(log->lock);
        EXPECT_EQ(log->refusedOpens, 2);
        EXPECT_EQ(log->opens, 1);
        EXPECT_EQ(log->format, CameraPixelFormat::YUY2);
        EXPECT_EQ(log->size, SIZE);
    }
    const QByteArray black = readFile(node);
    ASSERT_EQ(black.size(), SIZE.width() * SIZE.height() * 2);
    EXPECT_EQ(uint8_t(black[0]), 16);
    EXPECT_EQ(uint8_t(black[1]), 128);
    EXPECT_EQ(yuy2->conversions(), 0);
}

// --- Demand ---------------------------------------------------------------------------

TEST_F(V4L2LoopbackCameraTest, IsWatchedOnlyWhileAnotherProcessReadsAndConvertsNothingUnwatched)
{
    auto yuy2 = camera();
    ASSERT_TRUE(waitUntil([&] { return yuy2->picturesWritten() >= 1; }, 1000));
    QThread::msleep(150);
    EXPECT_FALSE(yuy2->watched()) << "this process's own descriptor is no reader";
    EXPECT_FALSE(yuy2->write(frame(SIZE, Qt::white, Qt::white), 0, false));
    EXPECT_EQ(yuy2->conversions(), 0);
    EXPECT_EQ(uint8_t(readFile(node)[0]), 16) << "still black";
    {
        FileReader reader(node);
        ASSERT_TRUE(reader.started);
        EXPECT_TRUE(waitUntil([&] { return yuy2->watched(); }, 2000));
    }
    EXPECT_TRUE(waitUntil([&] { return !yuy2->watched(); }, 500));
}

// --- Frames -----------------------------------------------------------------------------

TEST_F(V4L2LoopbackCameraTest, WritesFramesInTheSetFormatMirroredWhenAsked)
{
    auto yuy2 = camera();
    FileReader reader(node);
    ASSERT_TRUE(reader.started);
    ASSERT_TRUE(waitUntil([&] { return yuy2->watched(); }, 2000));

    const QColor left(200, 40, 40), right(40, 200, 40);
    ASSERT_TRUE(yuy2->write(frame(SIZE, left, right), 1.0, false));
    QByteArray bytes = readFile(node);
    ASSERT_EQ(bytes.size(), SIZE.width() * SIZE.height() * 2);
    const int lastPair = (SIZE.width() - 2) * 2;
    const int row = 10 * SIZE.width() * 2;
    EXPECT_NEAR(uint8_t(bytes[row]), luma(left), 2);
    EXPECT_NEAR(uint8_t(bytes[row + lastPair]), luma(right), 2);

    ASSERT_TRUE(yuy2->write(frame(SIZE, left, right), 1.1, true));
    bytes = readFile(node);
    EXPECT_NEAR(uint8_t(bytes[row]), luma(right), 2);
    EXPECT_NEAR(uint8_t(bytes[row + lastPair]), luma(left), 2);
    EXPECT_EQ(yuy2->conversions(), 2);
}

TEST_F(V4L2LoopbackCameraTest, ConvertsOnlyTheRowsANumberedFrameChangedAndAllAfterAGap)
{
    auto yuy2 = camera();
    FileReader reader(node);
    ASSERT_TRUE(reader.started);
    ASSERT_TRUE(waitUntil([&] { return yuy2->watched(); }, 2000));
    const auto numbered = [](quint64 sequence, QColor colour, std::optional<QRect> changed) {
        FrameBuffer buffer = frame(SIZE, colour, colour);
        buffer.sequence = sequence;
        buffer.changed = changed;
        return buffer;
    };
    const auto lumaAtRow = [&](int row) { return uint8_t(readFile(node)[row * SIZE.width() * 2]); };
    ASSERT_TRUE(yuy2->write(numbered(1, Qt::white, std::nullopt), 1.0, false));
    // The next frame says only rows 10 to 19 changed: the others keep the last picture
    // (the frame's other rows are black here only to show they were not read).
    ASSERT_TRUE(yuy2->write(numbered(2, Qt::black, QRect(0, 10, SIZE.width(), 10)), 1.1, false));
    EXPECT_NEAR(lumaAtRow(15), 16, 2);
    EXPECT_NEAR(lumaAtRow(5), 235, 2);
    EXPECT_NEAR(lumaAtRow(25), 235, 2);
    // A frame skipped: the next one is converted whole.
    ASSERT_TRUE(yuy2->write(numbered(4, Qt::black, QRect(0, 0, 1, 1)), 1.2, false));
    EXPECT_NEAR(lumaAtRow(5), 16, 2);
    EXPECT_NEAR(lumaAtRow(25), 16, 2);
}

TEST_F(V4L2LoopbackCameraTest, ScalesFramesOfAnotherSizeAndWritesBgrx)
{
    auto bgrx = camera(CameraPixelFormat::BGRx);
    FileReader reader(node);
    ASSERT_TRUE(reader.started);
    ASSERT_TRUE(waitUntil([&] { return bgrx->watched(); }, 2000));
    ASSERT_TRUE(bgrx->write(frame(QSize(32, 18), Qt::blue, Qt::red), 1.0, false));
    {
        std::lock_guard guard(log->lock);
        EXPECT_EQ(log->format, CameraPixelFormat::BGRx);
    }
    const QByteArray bytes = readFile(node);
    ASSERT_EQ(bytes.size(), SIZE.width() * SIZE.height() * 4);
    EXPECT_GE(uint8_t(bytes[0]), 250); // blue first in memory
    EXPECT_LE(uint8_t(bytes[2]), 5);
    EXPECT_GE(uint8_t(bytes[(SIZE.width() - 1) * 4 + 2]), 250); // red at the right edge
}

TEST_F(V4L2LoopbackCameraTest, RewritesTheLastPictureWithoutConvertingAgain)
{
    auto yuy2 = camera();
    {
        FileReader reader(node);
        ASSERT_TRUE(reader.started);
        ASSERT_TRUE(waitUntil([&] { return yuy2->watched(); }, 2000));
        ASSERT_TRUE(yuy2->write(frame(SIZE, Qt::white, Qt::white), 1.0, false));
    }
    ASSERT_TRUE(waitUntil([&] { return !yuy2->watched(); }, 1000));
    // Blank the stand-in: only a keep-alive picture can fill it again.
    ASSERT_EQ(truncate(QFile::encodeName(node).constData(), 0), 0);
    const int before = yuy2->picturesWritten();
    EXPECT_TRUE(waitUntil([&] { return yuy2->picturesWritten() >= before + 2; }, 1000));
    const QByteArray bytes = readFile(node);
    ASSERT_EQ(bytes.size(), SIZE.width() * SIZE.height() * 2);
    EXPECT_NEAR(uint8_t(bytes[0]), 235, 2) << "the last frame, white";
    EXPECT_EQ(yuy2->conversions(), 1);
}

TEST_F(V4L2LoopbackCameraTest, ClosesAfterAWriteErrorAndOpensAgain)
{
    // Writes to /dev/full fail (no space left): a real write error.
    auto full = std::make_unique<V4L2LoopbackCamera>(
        standIn("/dev/full", log), CameraPixelFormat::YUY2, SIZE, V4L2LoopbackCamera::Timing{100ms, 100ms, 50ms});
    EXPECT_TRUE(waitUntil(
        [&] {
            std::lock_guard guard(log->lock);
            return log->opens >= 3;
        },
        2000))
        << "each failed write closes the device, and it is opened again later";
    EXPECT_EQ(full->picturesWritten(), 0);
    EXPECT_FALSE(full->watched());
    EXPECT_FALSE(full->write(frame(SIZE, Qt::white, Qt::white), 0, false));
}

TEST(V4L2LoopbackCameraWithoutDevice, WaitsUnwatchedWhereNoLoopbackDeviceIsLoaded)
{
    if (findLoopbackDevice("Vistrale Camera"))
        GTEST_SKIP() << "a Vistrale Camera device is loaded here";
    V4L2LoopbackCamera camera;
    QThread::msleep(100);
    EXPECT_FALSE(camera.watched());
    EXPECT_EQ(camera.picturesWritten(), 0);
    FrameBuffer black;
    black.image = QImage(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    black.image.fill(Qt::black);
    EXPECT_FALSE(camera.write(black, 0, false));
    EXPECT_EQ(camera.conversions(), 0);
}
