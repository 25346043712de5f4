// The pkexec runner with a stand-in for pkexec (a script that runs its arguments as
// they are), and with the real pkexec where no polkit daemon can answer.

#include "platform/qt/qt_privileged_runner.h"
#include "tests/support/test_files.h"
#include "tests/support/wait_until.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

struct RunnerHarness {
    RunnerHarness()
    {
        tool = dir.filePath("fake-pkexec");
        EXPECT_TRUE(writeFile(tool, "#!/bin/sh\nexec \"$@\"\n", true));
    }

    // Runs `argv` and waits for its end; `calledInside` tells whether `done` came
    // before run() returned.
    PrivilegedResult run(PrivilegedRunner& runner, const QStringList& argv)
    {
        bool returned = false;
        calledInside = false;
        std::optional<PrivilegedResult> result;
        runner.run(argv, [&](const PrivilegedResult& r) {
            calledInside = !returned;
            result = r;
        });
        returned = true;
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }, 10000));
        return result.value_or(PrivilegedResult{});
    }

    QTemporaryDir dir;
    QString tool;
    bool calledInside = false;
};

} // namespace

TEST(QtPrivilegedRunner, PassesTheArgumentVectorUnchangedAndReportsStatusAndErrorOutput)
{
    RunnerHarness h;
    QtPrivilegedRunner runner(h.tool);
    const PrivilegedResult result = h.run(runner,
        {"/bin/sh", "-c", "printf '<%s>' \"$@\" >&2; echo ignored; exit 3", "sh", "Vistrale Camera", "a;b", "$(id)"});

    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.errorText, "<Vistrale Camera><a;b><$(id)>");
    EXPECT_FALSE(h.calledInside);
}

TEST(QtPrivilegedRunner, AMissingToolOrARelativeProgramEndsWithoutStarting)
{
    RunnerHarness h;
    QtPrivilegedRunner missing(h.dir.filePath("no-such-pkexec"));
    PrivilegedResult result = h.run(missing, {"/bin/true"});
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(result.errorText.isEmpty());
    EXPECT_FALSE(h.calledInside);

    // A tool by a bare name is never looked up on PATH, where anyone could plant one.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(h.dir.path()) + ":" + path);
    QtPrivilegedRunner planted("fake-pkexec");
    result = h.run(planted, {"/bin/true"});
    qputenv("PATH", path);
    EXPECT_FALSE(result.started);
    EXPECT_EQ(result.errorText, "fake-pkexec is not installed");

    QtPrivilegedRunner runner(h.tool);
    result = h.run(runner, {"true"});
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(h.calledInside);
}

TEST(QtPrivilegedRunner, AKilledProgramIsReportedAsEndedWithoutStatus)
{
    RunnerHarness h;
    QtPrivilegedRunner runner(h.tool);
    const PrivilegedResult result = h.run(runner, {"/bin/sh", "-c", "kill -KILL $$"});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitStatus, -1);
}

TEST(QtPrivilegedRunner, RealPkexecWithoutAPolkitDaemonRefusesWithItsReason)
{
    if (QFile::exists("/run/dbus/system_bus_socket") || !QFile::exists("/usr/bin/pkexec"))
        GTEST_SKIP() << "a system bus or no pkexec: pkexec could ask for a password here";
    RunnerHarness h;
    QtPrivilegedRunner runner;
    const PrivilegedResult result = h.run(runner, {"/bin/true"});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitStatus, PRIVILEGE_REFUSED);
    EXPECT_FALSE(result.errorText.isEmpty());
}
