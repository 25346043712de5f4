// Idle cost of a running Vistrale: the program on a virtual desktop with nothing
// shared and nothing changing, its CPU time over 10 s read from /proc. The compositor
// should draw nothing while nothing changes.
#include "tests/support/process_cpu.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <unistd.h>

using namespace vistrale::test;

namespace {

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    VirtualDesktop desktop;
    QString error;
    if (!desktop.start(&error)) {
        std::fprintf(stderr, "bench_idle_cpu: %s\n", qPrintable(error));
        return 1;
    }
    desktop.startClient("xclock", {"-update", "1"});
    VistraleProcess app(desktop);
    app.writeSettings({"already-shown=true", "overlay-text=Idle benchmark"});
    if (!app.start(&error)) {
        std::fprintf(stderr, "bench_idle_cpu: %s\n", qPrintable(error));
        return 1;
    }
    waitUntil([] { return false; }, 3000); // start-up settles

    const double window = 10.0;
    const double before = cpuSeconds(app.pid());
    waitUntil([] { return false; }, static_cast<int>(window * 1000));
    const double after = cpuSeconds(app.pid());
    if (before < 0 || after < 0) {
        std::fprintf(stderr, "bench_idle_cpu: cannot read the process's CPU time\n");
        return 1;
    }
    std::printf("idle CPU of Vistrale over %.0f s: %.3f s of CPU = %.2f %% of one core\n", window, after - before,
        100.0 * (after - before) / window);
    return 0;
}
