#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace vistrale {

// Learns whether processes other than this one hold a file open (the loopback
// camera's device node, or any stand-in for it). The file's open and close events
// (inotify) wake a scan of the descriptors listed under /proc; an opener counts
// once it has held the file for `settle`, because applications probe every video
// device with short opens, and a reader's close is seen when it happens. Processes
// of other users are not seen (unless this is root).
class DeviceOpenWatcher {
public:
    using Duration = std::chrono::milliseconds;

    // Starts watching `path` on a thread of its own ("device open watcher"). `proc`
    // is the process table to scan. Main or camera thread.
    explicit DeviceOpenWatcher(
        const QString& path, Duration settle = Duration(300), const QString& proc = QStringLiteral("/proc"));
    // Stops the thread; nothing is scanned after it returns.
    ~DeviceOpenWatcher();
    DeviceOpenWatcher(const DeviceOpenWatcher&) = delete;
    DeviceOpenWatcher& operator=(const DeviceOpenWatcher&) = delete;

    // Any thread. True while another process has held the file for `settle` or more.
    bool watched() const { return readers.load() > 0; }
    // Any thread. How many other processes have held it that long.
    int readerCount() const { return readers.load(); }
    // Any thread. Full scans of the process table made so far (each open wakes at most
    // one every 250 ms; closes only recheck the processes known to hold the file).
    int scanCount() const { return scans.load(); }
    // Any thread. False when the file could not be watched (missing, no inotify);
    // then watched() stays false.
    bool active() const { return watching.load(); }

private:
    void run();

    QString path;
    QString proc;
    Duration settle;
    int notifyFd = -1;
    int wakeFd = -1;
    std::atomic<int> readers{0};
    std::atomic<bool> watching{false};
    std::atomic<int> scans{0};
    std::thread worker;
};

// The processes other than `self` that hold `target` (a canonical path) open, by
// the links under `proc`/<pid>/fd. Entries that are not processes, belong to other
// users (unless this is root), vanish while being read or cannot be read are passed
// over.
std::vector<int> processesHolding(const QString& proc, const QString& target, int self);

} // namespace vistrale
