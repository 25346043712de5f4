// Capture-stream cost of the X11 backend on a private desktop: 1, 3 and 6 windows that
// repaint without pause (xterm running `yes`), then the whole display with and without a
// window of this process in it. Prints, per run of 10 s, frames per second per stream,
// process CPU % and CPU ms per frame, and the median time of one MIT-SHM read of a
// window's named pixmap (the read a stream does for every frame).
#include "platform/x11/x11_capture_reader.h"
#include "platform/x11/x11_platform.h"
#include "tests/support/process_cpu.h"
#include "tests/support/virtual_desktop.h"
#include "tests/support/wait_until.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>
#include <xcb/composite.h>
#include <xcb/xcb.h>

namespace {

constexpr int RUN_MS = 10000;

void pause(int ms)
{
    QElapsedTimer timer;
    timer.start();
    vistrale::test::waitUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

struct Counter {
    std::atomic<int> frames{0};
    std::atomic<int> errors{0};
};

// Runs the streams for RUN_MS and prints their figures under `label`.
void measure(const char* label, const std::vector<std::unique_ptr<Counter>>& counters)
{
    std::vector<int> start;
    for (const auto& c : counters)
        start.push_back(c->frames.load());
    const double cpuStart = vistrale::test::cpuSeconds(0);
    QElapsedTimer timer;
    timer.start();
    pause(RUN_MS);
    const double seconds = static_cast<double>(timer.elapsed()) / 1000;
    const double cpu = vistrale::test::cpuSeconds(0) - cpuStart;
    int total = 0;
    std::vector<double> rates;
    for (size_t i = 0; i < counters.size(); ++i) {
        const int n = counters[i]->frames.load() - start[i];
        total += n;
        rates.push_back(n / seconds);
    }
    std::sort(rates.begin(), rates.end());
    std::printf("%s: %zu stream(s), fps per stream median %.1f (min %.1f, max %.1f), process CPU %.1f %%, "
                "CPU %.3f ms per frame\n",
        label, counters.size(), rates[rates.size() / 2], rates.front(), rates.back(), 100 * cpu / seconds,
        total ? 1000 * cpu / total : 0.0);
}

// Median ms of one read of the window's frame from its named pixmap, as a stream does it.
double medianReadMs(const QString& display, quint32 client, int runs)
{
    xcb_connection_t* c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_window_t top = client;
    for (int depth = 0; depth < 16; ++depth) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, top), nullptr);
        const bool atRoot = !tree || tree->parent == root;
        const xcb_window_t parent = tree ? tree->parent : 0;
        free(tree);
        if (atRoot)
            break;
        top = parent;
    }
    free(xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
    xcb_composite_redirect_subwindows(c, root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, top), nullptr);
    const QSize size = geometry ? QSize(geometry->width, geometry->height) : QSize();
    free(geometry);
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_composite_name_window_pixmap(c, top, pixmap);
    double result = 0;
    {
        vistrale::x11::CaptureReader reader(c, true);
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer timer;
            timer.start();
            reader.read(pixmap, QRect(QPoint(0, 0), size), &image);
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(times.begin(), times.end());
        result = times[times.size() / 2];
        std::printf("one read of a %dx%d frame (%s): %.3f ms median of %d\n", size.width(), size.height(),
            reader.usesSharedMemory() ? "MIT-SHM" : "GetImage", result, runs);
    }
    xcb_free_pixmap(c, pixmap);
    xcb_disconnect(c);
    return result;
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
    std::optional<vistrale::X11Backends> x11 = vistrale::connectX11(&error, desktop.display());
    if (!x11 || !x11->capture) {
        std::fprintf(stderr, "no capture service: %s\n", qPrintable(error));
        return 1;
    }

    // Six busy terminals, each with a title of its own to find it by.
    std::vector<quint32> windows;
    for (int i = 0; i < 6; ++i) {
        const QString title = QString("busy%1").arg(i);
        desktop.startClient("xterm", {"-T", title, "-geometry", "80x24", "-e", "yes"});
        const std::optional<quint32> window = desktop.waitForWindow(title);
        if (!window) {
            std::fprintf(stderr, "xterm %d did not appear\n", i);
            return 1;
        }
        windows.push_back(*window);
    }
    pause(1000);
    medianReadMs(desktop.display(), windows.front(), 200);

    for (size_t count : {size_t(1), size_t(3), size_t(6)}) {
        std::vector<std::unique_ptr<Counter>> counters;
        std::vector<std::unique_ptr<vistrale::CaptureStream>> streams;
        for (size_t i = 0; i < count; ++i) {
            counters.push_back(std::make_unique<Counter>());
            Counter* counter = counters.back().get();
            streams.push_back(x11->capture->startWindow(
                windows[i], QSize(), [counter](vistrale::FrameRef) { ++counter->frames; },
                [counter](const QString&) { ++counter->errors; }));
        }
        pause(500);
        measure("windows", counters);
    }

    for (bool withOwnWindow : {false, true}) {
        // A window of this process over the terminals makes the stream repaint its area
        // from the windows beneath.
        xcb_connection_t* c = nullptr;
        if (withOwnWindow) {
            c = xcb_connect(desktop.display().toLocal8Bit().constData(), nullptr);
            xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
            const xcb_window_t own = xcb_generate_id(c);
            const quint32 values[] = {0xFF00FF, 1};
            xcb_create_window(c, XCB_COPY_FROM_PARENT, own, screen->root, 100, 100, 800, 600, 0,
                XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                values);
            xcb_map_window(c, own);
            xcb_flush(c);
        }
        std::vector<std::unique_ptr<Counter>> counters;
        counters.push_back(std::make_unique<Counter>());
        Counter* counter = counters.back().get();
        auto stream = x11->capture->startDisplay(
            1, QSize(1920, 1080), [counter](vistrale::FrameRef) { ++counter->frames; },
            [counter](const QString&) { ++counter->errors; });
        pause(500);
        measure(withOwnWindow ? "display, with an 800x600 window of this process" : "display", counters);
        stream.reset();
        if (c)
            xcb_disconnect(c);
    }
    return 0;
}
