// The camera's pixel conversions: median ms per 1920 × 1080 frame for each format,
// mirrored and not, and for a 1280 × 720 picture scaled up on the way. The mirrored
// YUY2 and I420 frames are also timed the simple way (flip the whole frame, then
// convert it) to show what flipping in cached bands saves.
#include "platform/camera/camera_pixels.h"

#include <QElapsedTimer>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <vector>

using namespace vistrale;

namespace {

constexpr int ROUNDS = 120;
const QSize HD(1920, 1080);

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double medianMs(const std::function<void()>& frame)
{
    for (int i = 0; i < 5; ++i)
        frame(); // warm the caches and the scratch memory
    std::vector<double> times;
    for (int i = 0; i < ROUNDS; ++i) {
        QElapsedTimer timer;
        timer.start();
        frame();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

QImage picture(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = qRgb(x & 0xff, y & 0xff, (x ^ y) & 0xff);
    }
    return image;
}

struct Output {
    CameraPixelFormat format;
    std::vector<uint8_t> bytes;
    CameraPlanes planes;
    explicit Output(CameraPixelFormat format)
        : format(format)
        , bytes(cameraPictureBytes(format, HD))
        , planes(cameraPackedPlanes(format, HD, bytes.data()))
    {
    }
};

void report(const char* what, double ms)
{
    std::printf("%-38s %6.2f ms\n", what, ms);
}

void time(const char* what, const QImage& source, CameraPixelFormat format, bool mirrored)
{
    Output out(format);
    report(what, medianMs([&] {
        writeCameraPicture(source.constBits(), source.bytesPerLine(), source.size(), format, out.planes, HD, mirrored);
    }));
}

} // namespace

int main()
{
    const QImage hd = picture(HD);
    const QImage small = picture(QSize(1280, 720));

    std::printf("camera pixels, 1920 x 1080, median of %d frames\n", ROUNDS);
    time("BGRx copy", hd, CameraPixelFormat::BGRx, false);
    time("BGRx mirrored", hd, CameraPixelFormat::BGRx, true);
    time("YUY2", hd, CameraPixelFormat::YUY2, false);
    time("YUY2 mirrored (bands)", hd, CameraPixelFormat::YUY2, true);
    time("I420", hd, CameraPixelFormat::I420, false);
    time("I420 mirrored (bands)", hd, CameraPixelFormat::I420, true);
    time("NV12", hd, CameraPixelFormat::NV12, false);
    time("NV12 mirrored (bands)", hd, CameraPixelFormat::NV12, true);
    time("BGRx scaled from 1280 x 720", small, CameraPixelFormat::BGRx, false);
    time("YUY2 scaled from 1280 x 720", small, CameraPixelFormat::YUY2, false);
    time("YUY2 scaled from 1280 x 720, mirrored", small, CameraPixelFormat::YUY2, true);

    // The simple way: the whole frame flipped into a picture of its own, then converted.
    std::vector<uint8_t> flipped(HD.width() * HD.height() * 4);
    const int flippedStride = HD.width() * 4;
    Output yuy2(CameraPixelFormat::YUY2);
    report("YUY2 mirrored (two passes)", medianMs([&] {
        libyuv::ARGBMirror(hd.constBits(), hd.bytesPerLine(), flipped.data(), flippedStride, HD.width(), HD.height());
        libyuv::ARGBToYUY2(
            flipped.data(), flippedStride, yuy2.planes.data[0], yuy2.planes.stride[0], HD.width(), HD.height());
    }));
    Output i420(CameraPixelFormat::I420);
    report("I420 mirrored (two passes)", medianMs([&] {
        libyuv::ARGBMirror(hd.constBits(), hd.bytesPerLine(), flipped.data(), flippedStride, HD.width(), HD.height());
        libyuv::ARGBToI420(flipped.data(), flippedStride, i420.planes.data[0], i420.planes.stride[0],
            i420.planes.data[1], i420.planes.stride[1], i420.planes.data[2], i420.planes.stride[2], HD.width(),
            HD.height());
    }));
    return 0;
}
