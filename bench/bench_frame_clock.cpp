// The frame clock's cost: one tick with 1, 3 and 6 shared windows on the in-memory
// desktop (image mode, pictures ready), and the X11 image-mode step, one window
// imaged at 800 × 600 and at 1920 × 1080 on a virtual desktop. Medians in ms.
#include "app/settings/settings.h"
#include "platform/fake/fake_platform.h"
#include "platform/notification_center.h"
#include "platform/x11/x11_platform.h"
#include "preview/vistrale_view_controller.h"
#include "tests/support/virtual_desktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vistrale;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double tickMilliseconds(int windows)
{
    QTemporaryDir dir;
    FakePlatform fake;
    fake.windowServer->captureStreams = false;
    for (int i = 0; i < windows; ++i) {
        Window window;
        window.windowNumber = 0x500000 + i; // far from this process's own window ids
        window.frame = QRectF(20 + 310 * i, 100, 300, 200);
        window.applicationName = "bench";
        window.windowName = QString("window %1").arg(i);
        fake.windowServer->windows.append(window);
        QImage picture(800, 600, QImage::Format_ARGB32_Premultiplied);
        picture.fill(QColor(20 * i, 100, 200));
        fake.windowServer->windowImages.insert(window.windowNumber, picture);
    }
    Platform platform = fake.take();
    auto settings = Settings::atPath(dir.filePath("bench.ini"));
    VistraleViewController vc(platform, *settings, nullptr);
    vc.view();
    for (int i = 0; i < windows; ++i) {
        fake.pointerKeys->location = QPointF(170 + 310 * i, 200);
        NotificationCenter::defaultCenter().post("keyboard", {{"label", "keyboard"}});
        fake.clock->advance(0.6);
    }
    if (vc.sharedCount() != static_cast<std::size_t>(windows))
        std::fprintf(stderr, "bench_frame_clock: %zu of %d windows shared\n", vc.sharedCount(), windows);
    std::vector<double> samples;
    for (int i = 0; i < 200; ++i) {
        // Move every window a little so that each tick follows and lays out.
        for (Window& window : fake.windowServer->windows)
            window.frame.translate(i % 2 ? 1 : -1, 0);
        QElapsedTimer timer;
        timer.start();
        vc.fireTimer();
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(samples);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    for (int windows : {1, 3, 6})
        std::printf("tick with %d shared window(s): %.3f ms (median of 200)\n", windows, tickMilliseconds(windows));

    test::VirtualDesktop desktop;
    QString error;
    if (!desktop.start(&error)) {
        std::fprintf(stderr, "bench_frame_clock: %s\n", qPrintable(error));
        return 1;
    }
    std::optional<X11Backends> x11 = connectX11(&error, desktop.display());
    if (!x11) {
        std::fprintf(stderr, "bench_frame_clock: %s\n", qPrintable(error));
        return 1;
    }
    for (QSize size : {QSize(800, 600), QSize(1920, 1080)}) {
        const QString title = QString("bench-%1x%2").arg(size.width()).arg(size.height());
        const qint64 pid = desktop.startClient(
            "xlogo", {"-geometry", QString("%1x%2+0+0").arg(size.width()).arg(size.height()), "-title", title});
        const std::optional<quint32> id = desktop.waitForWindow(title);
        if (pid < 0 || !id) {
            std::fprintf(stderr, "bench_frame_clock: no %s window\n", qPrintable(title));
            return 1;
        }
        std::vector<double> samples;
        QSize imaged;
        for (int i = 0; i < 50; ++i) {
            QElapsedTimer timer;
            timer.start();
            const QImage image = x11->windowServer->imageWindow(*id);
            samples.push_back(timer.nsecsElapsed() / 1e6);
            imaged = image.size();
        }
        std::printf("image mode, one window of %dx%d imaged (%dx%d): %.3f ms (median of 50)\n", size.width(),
            size.height(), imaged.width(), imaged.height(), median(samples));
        desktop.stopClient(pid);
    }
    return 0;
}
