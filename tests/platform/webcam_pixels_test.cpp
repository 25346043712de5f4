#include "platform/webcam/webcam_pixels.h"

#include <QBuffer>
#include <QImage>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace vistrale;

namespace {

constexpr QSize HD(1280, 720);

// Bytes placed so that the last one is the last readable byte: the page after them
// is inaccessible, so any read past the end crashes the test.
class GuardedBytes {
public:
    explicit GuardedBytes(const QByteArray& bytes)
    {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t pages = (static_cast<size_t>(bytes.size()) + page - 1) / page + 1;
        length = pages * page;
        mapping
            = static_cast<uint8_t*>(mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(mapping + length - page, page, PROT_NONE);
        start = mapping + length - page - bytes.size();
        std::memcpy(start, bytes.constData(), bytes.size());
        size = static_cast<size_t>(bytes.size());
    }
    ~GuardedBytes() { munmap(mapping, length); }
    const uint8_t* data() const { return start; }
    size_t bytes() const { return size; }

private:
    uint8_t* mapping = nullptr;
    uint8_t* start = nullptr;
    size_t length = 0;
    size_t size = 0;
};

// A solid YUY2 picture: BT.601 limited-range red is Y 81, U 90, V 240.
QByteArray solidYuy2(QSize size)
{
    QByteArray bytes;
    for (int i = 0; i < size.width() * size.height() / 2; ++i)
        bytes.append("\x51\x5a\x51\xf0", 4);
    return bytes;
}

QByteArray jpegOf(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

QImage solidImage(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

struct Converted {
    WebcamPictureFault fault;
    QImage image;
};

// Converted at the camera's size, or scaled down to `target` on the way.
Converted convert(WebcamPixelFormat format, QSize size, const GuardedBytes& in, QSize target = {})
{
    if (target.isEmpty())
        target = size;
    QImage out(target, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    const WebcamPlanes planes = webcamPackedPlanes(format, size, in.data(), in.bytes(), 0);
    std::vector<uint8_t> scratch;
    return {
        convertWebcamPictureTo(format, size, planes, target, scratch, out.bits(), static_cast<int>(out.bytesPerLine())),
        out};
}

// The two sizes every conversion is tried at: the camera's, and scaled as shown.
const QSize SHOWN(960, 540);

TEST(WebcamPixels, ShortOrMalformedPicturesAreRejectedWithoutReadingPastTheirEnd)
{
    const QByteArray jpeg = jpegOf(solidImage(HD, Qt::red));
    QByteArray garbage(20000, '\x55');
    garbage[0] = '\xff';
    garbage[1] = '\xd8';
    garbage.append("\xff\xd9");
    const struct {
        const char* name;
        WebcamPixelFormat format;
        QByteArray bytes;
        WebcamPictureFault fault;
    } cases[] = {
        {"YUY2 one byte short", WebcamPixelFormat::YUY2, solidYuy2(HD).chopped(1), WebcamPictureFault::Truncated},
        {"YUY2 empty", WebcamPixelFormat::YUY2, QByteArray(), WebcamPictureFault::Truncated},
        {"BGRx one row short", WebcamPixelFormat::BGRx, QByteArray(1280 * 719 * 4, '\x10'),
            WebcamPictureFault::Truncated},
        {"I420 one byte short", WebcamPixelFormat::I420, QByteArray(1280 * 720 * 3 / 2 - 1, '\x10'),
            WebcamPictureFault::Truncated},
        {"NV12 luma only", WebcamPixelFormat::NV12, QByteArray(1280 * 720, '\x10'), WebcamPictureFault::Truncated},
        {"MJPEG cut in half", WebcamPixelFormat::MJPG, jpeg.left(jpeg.size() / 2), WebcamPictureFault::Corrupt},
        {"MJPEG of another size", WebcamPixelFormat::MJPG, jpegOf(solidImage(QSize(640, 480), Qt::red)),
            WebcamPictureFault::WrongSize},
        {"MJPEG garbage", WebcamPixelFormat::MJPG, garbage, WebcamPictureFault::Corrupt},
        {"MJPEG three bytes", WebcamPixelFormat::MJPG, QByteArray("\xff\xd8\xff", 3), WebcamPictureFault::Truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const GuardedBytes in(c.bytes);
        EXPECT_EQ(convert(c.format, HD, in).fault, c.fault);
        EXPECT_EQ(convert(c.format, HD, in, SHOWN).fault, c.fault) << "scaled";
    }
}

TEST(WebcamPixels, WholePicturesBecomeOpaqueBgraOfTheirColour)
{
    QByteArray bgrx(1280 * 720 * 4, '\0');
    for (int i = 0; i < bgrx.size(); i += 4)
        bgrx[i + 2] = '\xff'; // red, the fourth byte unused (0)
    const struct {
        const char* name;
        WebcamPixelFormat format;
        QByteArray bytes;
    } cases[] = {
        {"YUY2", WebcamPixelFormat::YUY2, solidYuy2(HD)},
        {"BGRx", WebcamPixelFormat::BGRx, bgrx},
        {"MJPEG", WebcamPixelFormat::MJPG, jpegOf(solidImage(HD, Qt::red))},
        {"I420", WebcamPixelFormat::I420,
            QByteArray(1280 * 720, '\x51') + QByteArray(640 * 360, '\x5a') + QByteArray(640 * 360, '\xf0')},
        {"NV12", WebcamPixelFormat::NV12,
            QByteArray(1280 * 720, '\x51') + QByteArray("\x5a\xf0", 2).repeated(640 * 360)},
    };
    for (const auto& c : cases) {
        for (const QSize target : {HD, SHOWN}) {
            SCOPED_TRACE(std::string(c.name) + (target == HD ? "" : " scaled"));
            const GuardedBytes in(c.bytes);
            const Converted out = convert(c.format, HD, in, target);
            ASSERT_EQ(out.fault, WebcamPictureFault::None);
            ASSERT_EQ(out.image.size(), target);
            const int w = target.width() - 1, h = target.height() - 1;
            for (const QPoint at : {QPoint(0, 0), QPoint(w / 2, h / 2), QPoint(w, h), QPoint(w, 0), QPoint(0, h)}) {
                const QColor colour = out.image.pixelColor(at);
                EXPECT_GE(colour.red(), 240);
                EXPECT_LE(colour.green(), 15);
                EXPECT_LE(colour.blue(), 15);
                EXPECT_EQ(colour.alpha(), 255);
            }
        }
    }

    // Scaling keeps each part of the picture in its place: red left, blue right.
    QByteArray twoTone;
    for (int y = 0; y < 720; ++y)
        twoTone += QByteArray("\x51\x5a\x51\xf0", 4).repeated(320) + QByteArray("\x29\xf0\x29\x6e", 4).repeated(320);
    const GuardedBytes in(twoTone);
    const Converted out = convert(WebcamPixelFormat::YUY2, HD, in, SHOWN);
    ASSERT_EQ(out.fault, WebcamPictureFault::None);
    EXPECT_GE(out.image.pixelColor(100, 270).red(), 240);
    EXPECT_GE(out.image.pixelColor(860, 270).blue(), 240);
    EXPECT_LE(out.image.pixelColor(860, 270).red(), 15);
}

TEST(WebcamPixels, PoolReusesOnlyPicturesNobodyHolds)
{
    WebcamFramePool pool;
    std::shared_ptr<FrameBuffer> first = pool.take(HD);
    FrameBuffer* const firstAddress = first.get();
    FrameRef held = first;
    first.reset();
    std::shared_ptr<FrameBuffer> second = pool.take(HD);
    FrameBuffer* const secondAddress = second.get();
    EXPECT_NE(secondAddress, firstAddress) << "a picture the core still holds was handed out again";
    held.reset();
    second.reset();
    std::shared_ptr<FrameBuffer> third = pool.take(HD);
    EXPECT_TRUE(third.get() == firstAddress || third.get() == secondAddress) << "released pictures are not reused";

    // A layer still showing the picture holds its QImage, not the FrameBuffer.
    const QImage shown = third->image;
    FrameBuffer* const thirdAddress = third.get();
    third.reset();
    const std::shared_ptr<FrameBuffer> fourth = pool.take(HD);
    EXPECT_NE(fourth.get(), thirdAddress) << "a picture still shown was handed out to be written";
}

} // namespace
