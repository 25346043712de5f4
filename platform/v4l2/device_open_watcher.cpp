#include "platform/v4l2/device_open_watcher.h"

#include "platform/log.h"

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <iterator>
#include <map>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vistrale {

namespace {

using Clock = std::chrono::steady_clock;

// Full scans of the process table come at most this often: a program that opens and
// closes the device in a loop must not keep this thread busy. Closes only recheck the
// processes already known to hold the file, which is cheap, and at most every
// MIN_CHECK_GAP.
constexpr auto MIN_SCAN_GAP = std::chrono::milliseconds(250);
constexpr auto MIN_CHECK_GAP = std::chrono::milliseconds(20);
constexpr auto NEVER = Clock::time_point::max();

bool isNumber(const char* name)
{
    if (!*name)
        return false;
    for (const char* c = name; *c; ++c)
        if (*c < '0' || *c > '9')
            return false;
    return true;
}

bool holds(const std::string& fdDir, const std::string& target)
{
    DIR* dir = opendir(fdDir.c_str());
    if (!dir)
        return false; // gone, or another user's
    bool found = false;
    char link[4096];
    while (dirent* entry = readdir(dir)) {
        if (!isNumber(entry->d_name))
            continue;
        const std::string fd = fdDir + '/' + entry->d_name;
        const ssize_t length = readlink(fd.c_str(), link, sizeof link);
        if (length == static_cast<ssize_t>(target.size()) && target.compare(0, target.size(), link, length) == 0) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

} // namespace

std::vector<int> processesHolding(const QString& proc, const QString& target, int self)
{
    std::vector<int> pids;
    const std::string root = proc.toStdString();
    const std::string wanted = target.toStdString();
    DIR* dir = opendir(root.c_str());
    if (!dir)
        return pids;
    // Another user's descriptors cannot be read (unless this is root): one stat of the
    // process's folder passes over them without opening anything.
    const uid_t user = geteuid();
    while (dirent* entry = readdir(dir)) {
        if (!isNumber(entry->d_name) || strlen(entry->d_name) > 9)
            continue;
        const int pid = atoi(entry->d_name);
        if (pid == self)
            continue;
        struct stat owner = {};
        if (user != 0 && (fstatat(dirfd(dir), entry->d_name, &owner, 0) != 0 || owner.st_uid != user))
            continue;
        if (holds(root + '/' + entry->d_name + "/fd", wanted))
            pids.push_back(pid);
    }
    closedir(dir);
    std::sort(pids.begin(), pids.end());
    return pids;
}

static bool processHolds(const QString& proc, const QString& target, int pid)
{
    return holds(proc.toStdString() + '/' + std::to_string(pid) + "/fd", target.toStdString());
}

DeviceOpenWatcher::DeviceOpenWatcher(const QString& path, Duration settle, const QString& proc)
    : path(path)
    , proc(proc)
    , settle(settle)
{
    notifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (notifyFd < 0 || wakeFd < 0) {
        logLine("device open watcher unavailable: ", QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    if (inotify_add_watch(notifyFd, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)
        < 0) {
        logLine("device open watcher cannot watch " + path + ": ", QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    watching = true;
    worker = std::thread([this] { run(); });
}

DeviceOpenWatcher::~DeviceOpenWatcher()
{
    if (worker.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
        worker.join();
    }
    if (notifyFd >= 0)
        close(notifyFd);
    if (wakeFd >= 0)
        close(wakeFd);
}

void DeviceOpenWatcher::run()
{
    prctl(PR_SET_NAME, "device open watcher");
    const QString target = QFileInfo(path).canonicalFilePath();
    const int self = getpid();
    // Each other process that holds the file, with the time it was first seen doing
    // so. Kept from scan to scan: only a process's own close takes it out.
    std::map<int, Clock::time_point> openers;
    Clock::time_point lastScan = Clock::now() - MIN_SCAN_GAP;
    Clock::time_point lastCheck = Clock::now() - MIN_CHECK_GAP;
    Clock::time_point scanAt = Clock::now(); // NEVER while no full scan is due
    Clock::time_point checkAt = NEVER; // a recheck of the known openers

    while (true) {
        auto now = Clock::now();
        if (now >= scanAt) {
            std::map<int, Clock::time_point> seen;
            for (int pid : processesHolding(proc, target, self)) {
                const auto known = openers.find(pid);
                seen[pid] = known != openers.end() ? known->second : now;
            }
            openers = std::move(seen);
            ++scans;
            lastScan = lastCheck = now;
            scanAt = NEVER;
            checkAt = NEVER;
        } else if (now >= checkAt) {
            for (auto it = openers.begin(); it != openers.end();)
                it = processHolds(proc, target, it->first) ? std::next(it) : openers.erase(it);
            lastCheck = now;
            checkAt = NEVER;
        }

        // Count the settled openers. When one is still new, look at it again once it
        // has held the file long enough, to confirm that it still does.
        int settled = 0;
        for (const auto& [pid, since] : openers) {
            if (now - since >= settle)
                ++settled;
            else
                checkAt = std::min(checkAt, since + settle);
        }
        readers = settled;

        int timeout = -1;
        const auto due = std::min(scanAt, checkAt);
        if (due != NEVER) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
            timeout = static_cast<int>(std::max<int64_t>(0, wait.count()));
        }
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {notifyFd, POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
            logLine("device open watcher poll failed: ", QString::fromLocal8Bit(strerror(errno)));
            break;
        }
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            alignas(inotify_event) char events[4096];
            bool removed = false, opened = false, closed = false;
            ssize_t length;
            while ((length = read(notifyFd, events, sizeof events)) > 0) {
                for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                    removed |= (event->mask & IN_IGNORED) != 0;
                    opened |= (event->mask & IN_OPEN) != 0;
                    closed |= (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0;
                    at += sizeof(inotify_event) + event->len;
                }
            }
            if (removed) {
                // The node went away (the module was unloaded): nobody can read it now.
                readers = 0;
                break;
            }
            now = Clock::now();
            // Only an open can bring a new reader; a close can only end a known one.
            if (opened)
                scanAt = std::min(scanAt, std::max(now, lastScan + MIN_SCAN_GAP));
            if (closed && !openers.empty())
                checkAt = std::min(checkAt, std::max(now, lastCheck + MIN_CHECK_GAP));
        }
    }
    readers = 0;
    watching = false;
}

} // namespace vistrale
