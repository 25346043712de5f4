#include "platform/camera/camera_pixels.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace vistrale;

namespace {

struct Yuv {
    int y, u, v;
};

// BT.601 in limited range, from the standard's coefficients.
Yuv bt601Limited(QColor c)
{
    const double r = c.red(), g = c.green(), b = c.blue();
    return {int(std::lround(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255)),
        int(std::lround(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255)),
        int(std::lround(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255))};
}

QImage solid(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

// A picture whose every pixel differs from its neighbours, so that any misplaced
// pixel shows.
QImage pattern(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 37 + y * 11) & 0xff, (x * 5 + y * 53) & 0xff, (x * y + 7 * x) & 0xff));
    return image;
}

// Red, green, blue and white quadrants.
QImage quadrants(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    const int w = size.width() / 2, h = size.height() / 2;
    painter.fillRect(0, 0, w, h, Qt::red);
    painter.fillRect(w, 0, size.width() - w, h, Qt::green);
    painter.fillRect(0, h, w, size.height() - h, Qt::blue);
    painter.fillRect(w, h, size.width() - w, size.height() - h, Qt::white);
    return image;
}

// A converted picture in packed planes.
struct Picture {
    CameraPixelFormat format;
    QSize size;
    std::vector<uint8_t> bytes;
    CameraPlanes planes;

    Picture(CameraPixelFormat format, QSize size)
        : format(format)
        , size(size)
        , bytes(cameraPictureBytes(format, size), 0xAA)
        , planes(cameraPackedPlanes(format, size, bytes.data()))
    {
    }

    bool write(const QImage& source, bool mirrored = false)
    {
        return writeCameraPicture(
            source.constBits(), source.bytesPerLine(), source.size(), format, planes, size, mirrored);
    }

    Yuv at(int x, int y) const
    {
        switch (format) {
        case CameraPixelFormat::YUY2: {
            const uint8_t* pair = planes.data[0] + y * planes.stride[0] + (x / 2) * 4;
            return {pair[(x % 2) * 2], pair[1], pair[3]};
        }
        case CameraPixelFormat::I420:
            return {planes.data[0][y * planes.stride[0] + x], planes.data[1][y / 2 * planes.stride[1] + x / 2],
                planes.data[2][y / 2 * planes.stride[2] + x / 2]};
        case CameraPixelFormat::NV12: {
            const uint8_t* uv = planes.data[1] + y / 2 * planes.stride[1] + (x / 2) * 2;
            return {planes.data[0][y * planes.stride[0] + x], uv[0], uv[1]};
        }
        default:
            return {-1, -1, -1};
        }
    }

    QRgb rgbAt(int x, int y) const
    {
        const uint8_t* p = planes.data[0] + y * planes.stride[0] + x * 4;
        return qRgb(p[2], p[1], p[0]);
    }
};

const CameraPixelFormat yuvFormats[] = {CameraPixelFormat::YUY2, CameraPixelFormat::I420, CameraPixelFormat::NV12};
const CameraPixelFormat allFormats[] = {CameraPixelFormat::BGRx, CameraPixelFormat::BGRA, CameraPixelFormat::YUY2,
    CameraPixelFormat::I420, CameraPixelFormat::NV12};

void expectNear(Yuv got, Yuv want, const char* what)
{
    EXPECT_NEAR(got.y, want.y, 2) << what << " Y";
    EXPECT_NEAR(got.u, want.u, 2) << what << " U";
    EXPECT_NEAR(got.v, want.v, 2) << what << " V";
}

// Scaling filters may round a channel by a step or two.
void expectRgbNear(QRgb got, QColor want, const std::string& what)
{
    EXPECT_NEAR(qRed(got), want.red(), 3) << what << " red";
    EXPECT_NEAR(qGreen(got), want.green(), 3) << what << " green";
    EXPECT_NEAR(qBlue(got), want.blue(), 3) << what << " blue";
}

} // namespace

// --- Sizes and planes ----------------------------------------------------------------

TEST(CameraPixels, PacksEachFormatsPlanesWithoutPadding)
{
    const QSize hd(1920, 1080);
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::BGRx, hd), 1920 * 1080 * 4);
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::BGRA, hd), 1920 * 1080 * 4);
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::YUY2, hd), 1920 * 1080 * 2);
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::I420, hd), 1920 * 1080 * 3 / 2);
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::NV12, hd), 1920 * 1080 * 3 / 2);

    std::vector<uint8_t> memory(cameraPictureBytes(CameraPixelFormat::I420, hd));
    uint8_t* base = memory.data();
    const CameraPlanes i420 = cameraPackedPlanes(CameraPixelFormat::I420, hd, base);
    EXPECT_EQ(i420.data[0], base);
    EXPECT_EQ(i420.stride[0], 1920);
    EXPECT_EQ(i420.data[1], base + 1920 * 1080);
    EXPECT_EQ(i420.stride[1], 960);
    EXPECT_EQ(i420.data[2], base + 1920 * 1080 + 960 * 540);
    EXPECT_EQ(i420.stride[2], 960);
    EXPECT_EQ(i420.data[2] + 960 * 540, base + memory.size());

    const CameraPlanes nv12 = cameraPackedPlanes(CameraPixelFormat::NV12, hd, base);
    EXPECT_EQ(nv12.data[1], base + 1920 * 1080);
    EXPECT_EQ(nv12.stride[1], 1920);
    EXPECT_EQ(nv12.data[2], nullptr);

    EXPECT_EQ(cameraPackedPlanes(CameraPixelFormat::YUY2, hd, base).stride[0], 3840);
    EXPECT_EQ(cameraPackedPlanes(CameraPixelFormat::BGRx, hd, base).stride[0], 7680);
}

TEST(CameraPixels, RefusesOddSizesWhereChromaIsSharedAndEmptyOrTooNarrowSources)
{
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::YUY2, QSize(15, 8)), 0);
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::I420, QSize(16, 9)), 0);
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::NV12, QSize(15, 8)), 0);
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::YUY2, QSize(16, 9)), 16 * 9 * 2); // rows are independent
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::BGRx, QSize(15, 9)), 15 * 9 * 4);
    EXPECT_EQ(cameraPictureBytes(CameraPixelFormat::BGRx, QSize(0, 9)), 0);

    std::vector<uint8_t> memory(64 * 64 * 4);
    EXPECT_EQ(cameraPackedPlanes(CameraPixelFormat::I420, QSize(15, 8), memory.data()).data[0], nullptr);

    // A plane set that would hold the picture, but the size itself is refused.
    CameraPlanes planes;
    planes.data[0] = planes.data[1] = planes.data[2] = memory.data();
    planes.stride[0] = planes.stride[1] = planes.stride[2] = 64;
    const QImage source = solid(QSize(16, 16), Qt::red);
    for (QSize odd : {QSize(15, 8), QSize(16, 9)}) {
        for (CameraPixelFormat format : yuvFormats) {
            const bool evenWidthOnly = format == CameraPixelFormat::YUY2 && odd.width() % 2 == 0;
            EXPECT_EQ(writeCameraPicture(
                          source.constBits(), source.bytesPerLine(), source.size(), format, planes, odd, false),
                evenWidthOnly)
                << int(format) << " " << odd.width() << "x" << odd.height();
        }
    }

    // An empty or too narrow source, or no planes: refused, the destination left alone.
    Picture out(CameraPixelFormat::YUY2, QSize(16, 16));
    EXPECT_FALSE(writeCameraPicture(nullptr, 64, QSize(16, 16), out.format, out.planes, out.size, false));
    EXPECT_FALSE(writeCameraPicture(source.constBits(), 60, QSize(16, 16), out.format, out.planes, out.size, false));
    EXPECT_FALSE(writeCameraPicture(source.constBits(), 64, QSize(0, 16), out.format, out.planes, out.size, false));
    EXPECT_FALSE(
        writeCameraPicture(source.constBits(), 64, QSize(16, 16), out.format, CameraPlanes{}, out.size, false));
    EXPECT_EQ(out.bytes[0], 0xAA);
}

// --- Colours ----------------------------------------------------------------------

TEST(CameraPixels, WritesKnownColoursAsBt601LimitedRange)
{
    ASSERT_EQ(CAMERA_YUV_MATRIX, CameraYuvMatrix::BT601);
    ASSERT_EQ(CAMERA_YUV_RANGE, CameraYuvRange::Limited);
    const QColor colours[]
        = {Qt::white, Qt::black, Qt::red, Qt::green, Qt::blue, QColor(128, 128, 128), QColor(200, 120, 40)};
    for (CameraPixelFormat format : yuvFormats) {
        for (const QColor& colour : colours) {
            Picture out(format, QSize(32, 18));
            ASSERT_TRUE(out.write(solid(out.size, colour)));
            const Yuv want = bt601Limited(colour);
            const std::string what = std::to_string(int(format)) + " " + colour.name().toStdString();
            for (QPoint p : {QPoint(0, 0), QPoint(31, 0), QPoint(17, 9), QPoint(0, 17), QPoint(31, 17)})
                expectNear(out.at(p.x(), p.y()), want, what.c_str());
        }
    }
    // The extremes land on the ends of the limited range.
    Picture white(CameraPixelFormat::YUY2, QSize(8, 2));
    ASSERT_TRUE(white.write(solid(white.size, Qt::white)));
    EXPECT_NEAR(white.at(0, 0).y, 235, 1);
    Picture black(CameraPixelFormat::YUY2, QSize(8, 2));
    ASSERT_TRUE(black.write(solid(black.size, Qt::black)));
    EXPECT_NEAR(black.at(0, 0).y, 16, 1);
}

TEST(CameraPixels, CopiesBgrPixelsUnchanged)
{
    const QImage source = pattern(QSize(33, 7)); // odd sizes are fine for packed RGB
    for (CameraPixelFormat format : {CameraPixelFormat::BGRx, CameraPixelFormat::BGRA}) {
        Picture out(format, source.size());
        ASSERT_TRUE(out.write(source));
        for (int y = 0; y < source.height(); ++y)
            ASSERT_EQ(0, memcmp(out.planes.data[0] + y * out.planes.stride[0], source.constScanLine(y), 33 * 4))
                << "row " << y;
    }
}

// --- Mirroring ----------------------------------------------------------------------

TEST(CameraPixels, MirroredOutputEqualsTheFlippedInputInEveryFormat)
{
    // 23 rows: the last band of flipped rows is a partial one where the format allows it.
    for (int height : {22, 23}) {
        const QImage source = pattern(QSize(64, height));
        const QImage flipped = source.mirrored(true, false);
        for (CameraPixelFormat format : allFormats) {
            if (cameraPictureBytes(format, source.size()) == 0)
                continue;
            Picture mirrored(format, source.size());
            Picture reference(format, source.size());
            ASSERT_TRUE(mirrored.write(source, true));
            ASSERT_TRUE(reference.write(flipped, false));
            EXPECT_EQ(mirrored.bytes, reference.bytes) << "format " << int(format) << ", " << height << " rows";
        }
    }
    const QImage source = pattern(QSize(64, 22));
    Picture bgrx(CameraPixelFormat::BGRx, source.size());
    ASSERT_TRUE(bgrx.write(source, true));
    EXPECT_EQ(bgrx.rgbAt(0, 5), source.pixel(63, 5));
    EXPECT_EQ(bgrx.rgbAt(63, 21), source.pixel(0, 21));
}

TEST(CameraPixels, MirrorsIntoADestinationWithPaddedRows)
{
    const QImage source = pattern(QSize(16, 10));
    std::vector<uint8_t> memory(40 * 10, 0x55);
    CameraPlanes planes;
    planes.data[0] = memory.data();
    planes.stride[0] = 40; // 32 bytes of YUY2, 8 of padding
    ASSERT_TRUE(writeCameraPicture(source.constBits(), source.bytesPerLine(), source.size(), CameraPixelFormat::YUY2,
        planes, QSize(16, 10), true));
    Picture reference(CameraPixelFormat::YUY2, source.size());
    ASSERT_TRUE(reference.write(source.mirrored(true, false)));
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(0, memcmp(memory.data() + y * 40, reference.bytes.data() + y * 32, 32)) << "row " << y;
        for (int i = 32; i < 40; ++i)
            ASSERT_EQ(memory[y * 40 + i], 0x55) << "padding of row " << y << " was written";
    }
}

// --- Scaling ------------------------------------------------------------------------

TEST(CameraPixels, ScalingKeepsThePicturesQuadrants)
{
    const QImage source = quadrants(QSize(128, 72));
    const QSize outSize(192, 108);
    // Quadrant centres, and what each shows unmirrored and mirrored.
    const QPoint centres[] = {QPoint(48, 27), QPoint(144, 27), QPoint(48, 81), QPoint(144, 81)};
    const QColor plain[] = {Qt::red, Qt::green, Qt::blue, Qt::white};
    const QColor flipped[] = {Qt::green, Qt::red, Qt::white, Qt::blue};
    for (bool mirrored : {false, true}) {
        const QColor* expected = mirrored ? flipped : plain;
        for (CameraPixelFormat format : yuvFormats) {
            Picture out(format, outSize);
            ASSERT_TRUE(out.write(source, mirrored));
            for (int i = 0; i < 4; ++i)
                expectNear(out.at(centres[i].x(), centres[i].y()), bt601Limited(expected[i]),
                    (std::to_string(int(format)) + (mirrored ? " mirrored" : "")).c_str());
        }
        Picture bgrx(CameraPixelFormat::BGRx, outSize);
        ASSERT_TRUE(bgrx.write(source, mirrored));
        for (int i = 0; i < 4; ++i)
            expectRgbNear(bgrx.rgbAt(centres[i].x(), centres[i].y()), expected[i],
                std::to_string(i) + (mirrored ? " mirrored" : ""));
    }
}

TEST(CameraPixels, ScalesASmallerAndALargerPictureToTheWholeDestination)
{
    for (QSize inSize : {QSize(40, 30), QSize(400, 300)}) {
        const QImage source = quadrants(inSize);
        Picture out(CameraPixelFormat::BGRx, QSize(96, 54));
        ASSERT_TRUE(out.write(source));
        const std::string what = std::to_string(inSize.width());
        expectRgbNear(out.rgbAt(1, 1), Qt::red, what);
        expectRgbNear(out.rgbAt(94, 1), Qt::green, what);
        expectRgbNear(out.rgbAt(1, 52), Qt::blue, what);
        expectRgbNear(out.rgbAt(94, 52), Qt::white, what);
    }
}
