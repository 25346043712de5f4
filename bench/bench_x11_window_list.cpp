// Window-list and display-image speed of the X11 backend on a private desktop of six
// X clients. Prints the median of each figure.
#include "platform/x11/x11_platform.h"
#include "tests/support/virtual_desktop.h"
#include "tests/support/wait_until.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

template <class Work> double medianMs(int runs, Work work)
{
    std::vector<double> times;
    times.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    vistrale::test::VirtualDesktop desktop({QSize(1920, 1080), true, false});
    QString error;
    if (!desktop.start(&error)) {
        std::fprintf(stderr, "cannot start the desktop: %s\n", qPrintable(error));
        return 1;
    }
    const QStringList clients{"xlogo", "xclock", "xterm", "xlogo", "xclock", "xterm"};
    for (const QString& client : clients)
        desktop.startClient(client, {});
    for (const char* match : {"xlogo", "xclock", "XTerm"})
        desktop.waitForWindow(match);
    std::optional<vistrale::X11Backends> x11 = vistrale::connectX11(&error, desktop.display());
    if (!x11) {
        std::fprintf(stderr, "cannot connect: %s\n", qPrintable(error));
        return 1;
    }
    vistrale::WindowServer& server = *x11->windowServer;
    // Every client mapped and managed.
    vistrale::test::waitUntil([&] { return server.windowList(true).size() >= clients.size(); }, 10000);
    const qsizetype windows = server.windowList(true).size();

    const double list = medianMs(200, [&] { server.windowList(true); });
    QImage image;
    const double display = medianMs(50, [&] { image = server.imageDisplay(1); });
    std::printf("windows listed: %lld\n", static_cast<long long>(windows));
    std::printf("windowList(true): %.3f ms median of 200\n", list);
    std::printf("imageDisplay %dx%d: %.3f ms median of 50\n", image.width(), image.height(), display);
    return 0;
}
