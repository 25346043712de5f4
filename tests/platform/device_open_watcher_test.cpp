#include "platform/v4l2/device_open_watcher.h"

#include "tests/support/file_reader.h"
#include "tests/support/test_files.h"
#include "tests/support/wait_until.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

class DeviceOpenWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("video0");
        ASSERT_TRUE(writeFile(path, {}));
    }

    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(DeviceOpenWatcherTest, SeesNoDemandWithoutAnOpenerFromThisProcessOrOnAMissingFile)
{
    DeviceOpenWatcher watcher(path, DeviceOpenWatcher::Duration(50));
    EXPECT_TRUE(watcher.active());
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR);
    ASSERT_GE(fd, 0);
    QThread::msleep(400);
    EXPECT_FALSE(watcher.watched()) << "this process's own opens do not count";
    close(fd);

    DeviceOpenWatcher missing(dir.filePath("video9"));
    EXPECT_FALSE(missing.active());
    EXPECT_FALSE(missing.watched());
}

TEST_F(DeviceOpenWatcherTest, CountsEachReadingProcessThatHoldsTheFileUntilItCloses)
{
    DeviceOpenWatcher watcher(path, DeviceOpenWatcher::Duration(50));
    FileReader first(path);
    FileReader second(path);
    ASSERT_TRUE(first.started && second.started);
    EXPECT_TRUE(waitUntil([&] { return watcher.readerCount() == 2; }, 2000));
    EXPECT_TRUE(watcher.watched());
    first.stop();
    EXPECT_TRUE(waitUntil([&] { return watcher.readerCount() == 1; }, 1000));
    EXPECT_TRUE(watcher.watched());
    second.stop();
    EXPECT_TRUE(waitUntil([&] { return !watcher.watched(); }, 400)) << "the close ends the demand";
}

TEST_F(DeviceOpenWatcherTest, CountsAReaderThatOpenedBeforeWatchingBegan)
{
    FileReader reader(path);
    ASSERT_TRUE(reader.started);
    QThread::msleep(100); // tail has opened the file
    DeviceOpenWatcher watcher(path);
    EXPECT_TRUE(waitUntil([&] { return watcher.watched(); }, 2000));
}

TEST_F(DeviceOpenWatcherTest, IgnoresAShortProbe)
{
    DeviceOpenWatcher watcher(path);
    {
        FileReader probe(path);
        ASSERT_TRUE(probe.started);
        QThread::msleep(50);
    }
    // Well past the settling time: a reader held that long would count by now.
    bool everWatched = false;
    waitUntil(
        [&] {
            everWatched |= watcher.watched();
            return false;
        },
        600);
    EXPECT_FALSE(everWatched);
}

// --- The process table --------------------------------------------------------------

TEST(ProcessesHolding, PassesOverEntriesThatAreNotReadableProcesses)
{
    QTemporaryDir proc;
    ASSERT_TRUE(proc.isValid());
    QTemporaryDir files;
    const QString target = files.filePath("node");
    QFile(target).open(QIODevice::WriteOnly);
    QDir root(proc.path());
    // A process holding the target through fd 4, one holding something else, one
    // whose fd table cannot be read, a dangling link, and names that are no pids.
    root.mkpath("12/fd");
    QFile::link("/dev/null", proc.filePath("12/fd/0"));
    QFile::link(target, proc.filePath("12/fd/4"));
    root.mkpath("13/fd");
    QFile::link("/dev/null", proc.filePath("13/fd/0"));
    root.mkpath("14");
    root.mkpath("15/fd");
    QFile::link(files.filePath("gone"), proc.filePath("15/fd/3"));
    root.mkpath("self/fd");
    QFile::link(target, proc.filePath("self/fd/1"));
    root.mkpath("12x/fd");
    QFile::link(target, proc.filePath("12x/fd/1"));
    root.mkpath("99/fd");
    QFile::link(target, proc.filePath("99/fd/nonsense"));
    root.mkpath("77/fd");
    QFile::link(target, proc.filePath("77/fd/9"));

    EXPECT_EQ(processesHolding(proc.path(), target, 77), std::vector<int>{12}) << "77 is this process";
    EXPECT_EQ(processesHolding(proc.path(), target, 1), (std::vector<int>{12, 77}));
    EXPECT_TRUE(processesHolding(proc.filePath("missing"), target, 1).empty());
}

TEST_F(DeviceOpenWatcherTest, ScansAtMostFourTimesASecondWhileAProgramOpensTheFileInALoop)
{
    DeviceOpenWatcher watcher(path, std::chrono::milliseconds(300));
    ASSERT_TRUE(watcher.active());
    ASSERT_TRUE(waitUntil([&] { return watcher.scanCount() >= 1; }, 2000));
    const int before = watcher.scanCount();
    const auto start = std::chrono::steady_clock::now();
    QProcess looping;
    looping.start("timeout", {"1.5", "sh", "-c", "while :; do : <\"$0\"; done", path});
    ASSERT_TRUE(looping.waitForFinished(5000));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const int scans = watcher.scanCount() - before;
    EXPECT_GE(scans, 1) << "the opens were not noticed";
    EXPECT_LE(scans, elapsed / std::chrono::milliseconds(250) + 2);
    // Short opens never count as a reader.
    EXPECT_FALSE(watcher.watched());
}
