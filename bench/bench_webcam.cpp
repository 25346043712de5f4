// The webcam path from a camera's buffer to the picture the core draws: CPU time
// (this thread's) per 1280 × 720 frame, median of many, for YUY2 and MJPEG (a
// noisy camera-like picture at two JPEG qualities), with I420 and NV12 beside them.
#include "platform/webcam/webcam_pixels.h"

#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <libyuv/convert_from_argb.h>
#include <random>
#include <vector>

using namespace vistrale;

namespace {

constexpr int ROUNDS = 200;
const QSize HD(1280, 720);

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double wallMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median CPU and wall milliseconds of one frame.
std::pair<double, double> medianMs(const std::function<void()>& frame)
{
    for (int i = 0; i < 5; ++i)
        frame();
    std::vector<double> cpu;
    std::vector<double> wall;
    for (int i = 0; i < ROUNDS; ++i) {
        const double startCpu = threadCpuMs();
        const double startWall = wallMs();
        frame();
        cpu.push_back(threadCpuMs() - startCpu);
        wall.push_back(wallMs() - startWall);
    }
    return {median(cpu), median(wall)};
}

// Smooth shapes with sensor-like noise, as a webcam sees a room.
QImage cameraLikePicture()
{
    QImage image(HD, QImage::Format_ARGB32);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < HD.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < HD.width(); ++x) {
            const int n = noise(random);
            const int dx = x - 640;
            const int dy = y - 300;
            const bool face = dx * dx + dy * dy * 2 < 200 * 200;
            const int r = face ? 210 : 60 + x / 8;
            const int g = face ? 160 : 80 + y / 6;
            const int b = face ? 130 : 120 + (x + y) / 20;
            row[x] = qRgb(std::clamp(r + n, 0, 255), std::clamp(g + n, 0, 255), std::clamp(b + n, 0, 255));
        }
    }
    return image;
}

QByteArray jpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return bytes;
}

} // namespace

int main()
{
    const QImage source = cameraLikePicture();
    const int width = HD.width();
    const int height = HD.height();
    QByteArray yuy2(width * height * 2, Qt::Uninitialized);
    libyuv::ARGBToYUY2(source.constBits(), static_cast<int>(source.bytesPerLine()),
        reinterpret_cast<uint8_t*>(yuy2.data()), width * 2, width, height);
    QByteArray i420(width * height * 3 / 2, Qt::Uninitialized);
    auto* y = reinterpret_cast<uint8_t*>(i420.data());
    libyuv::ARGBToI420(source.constBits(), static_cast<int>(source.bytesPerLine()), y, width, y + width * height,
        width / 2, y + width * height * 5 / 4, width / 2, width, height);
    QByteArray nv12(width * height * 3 / 2, Qt::Uninitialized);
    auto* n = reinterpret_cast<uint8_t*>(nv12.data());
    libyuv::ARGBToNV12(source.constBits(), static_cast<int>(source.bytesPerLine()), n, width, n + width * height, width,
        width, height);

    struct Case {
        const char* name;
        WebcamPixelFormat format;
        QByteArray bytes;
    };
    const std::vector<Case> cases = {
        {"YUY2", WebcamPixelFormat::YUY2, yuy2},
        {"MJPEG q75", WebcamPixelFormat::MJPG, jpeg(source, 75)},
        {"MJPEG q90", WebcamPixelFormat::MJPG, jpeg(source, 90)},
        {"I420", WebcamPixelFormat::I420, i420},
        {"NV12", WebcamPixelFormat::NV12, nv12},
    };
    std::printf("webcam picture -> BGRA, 1280x720, per frame (medians of %d)\n", ROUNDS);
    WebcamFramePool pool;
    for (const Case& c : cases) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes.constData());
        const WebcamPlanes planes = webcamPackedPlanes(c.format, HD, bytes, static_cast<size_t>(c.bytes.size()), 0);
        bool ok = true;
        const auto [cpu, wall] = medianMs([&] {
            std::shared_ptr<FrameBuffer> frame = pool.take(HD);
            ok = ok
                && convertWebcamPicture(
                       c.format, HD, planes, frame->image.bits(), static_cast<int>(frame->image.bytesPerLine()))
                    == WebcamPictureFault::None;
        });
        std::printf("  %-10s %7.2f ms CPU %7.2f ms wall  (%lld KB in)%s\n", c.name, cpu, wall,
            static_cast<long long>(c.bytes.size() / 1024), ok ? "" : "  CONVERSION FAILED");
    }
    return 0;
}
