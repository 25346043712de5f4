// What learning the loopback camera's readers costs without the driver's reader
// events: one scan of the descriptors under /proc, woken by each open and close of
// the device node. Median ms per scan over this machine's processes.
#include "platform/v4l2/device_open_watcher.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace vistrale;

int main()
{
    QTemporaryDir dir;
    const QString node = dir.filePath("video0"); // held by nobody: every descriptor is read
    const int processes = QDir("/proc").entryList(QDir::Dirs).filter(QRegularExpression("^[0-9]+$")).size();
    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto holders = processesHolding("/proc", node, getpid());
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (!holders.empty())
            std::printf("unexpected holder %d\n", holders.front());
    }
    std::sort(times.begin(), times.end());
    std::printf("v4l2 demand: one /proc scan over %d processes  %.3f ms (median of %zu)\n", processes,
        times[times.size() / 2], times.size());
    return 0;
}
