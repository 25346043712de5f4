#include "tests/support/virtual_desktop.h"

#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>

using vistrale::test::VirtualDesktop;
using vistrale::test::VirtualDesktopOptions;

namespace {

bool alive(qint64 pid)
{
    return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

} // namespace

TEST(VirtualDesktop, StartsAServerWindowManagerAndTrayOfItsOwnOnItsOwnDisplayAndSplitsItIntoMonitors)
{
    VirtualDesktop desktop;
    QString error;
    ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
    EXPECT_TRUE(desktop.display().startsWith(':'));
    EXPECT_TRUE(desktop.sessionBusAddress().startsWith("unix:"));
    EXPECT_EQ(QFileInfo(desktop.homeDir()).permissions() & 0x0077, 0) << "runtime dir must be private";

    QString info;
    ASSERT_EQ(desktop.run("xdpyinfo", {}, &info), 0);
    EXPECT_TRUE(info.contains("dimensions:    1920x1080 pixels")) << info.toStdString();
    QString wm;
    ASSERT_EQ(desktop.run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}, &wm), 0);
    EXPECT_TRUE(wm.contains("window id #")) << wm.toStdString();

    // Another instance gets a display of its own.
    VirtualDesktop second({QSize(640, 480), false, false});
    ASSERT_TRUE(second.start(&error)) << error.toStdString();
    EXPECT_NE(desktop.display(), second.display());
    ASSERT_EQ(second.run("xdpyinfo", {}, &info), 0);
    EXPECT_TRUE(info.contains("640x480 pixels"));

    ASSERT_TRUE(desktop.splitIntoMonitors({QRect(0, 0, 960, 1080), QRect(960, 0, 960, 1080)}));
    QString listed;
    ASSERT_EQ(desktop.run("xrandr", {"--listmonitors"}, &listed), 0);
    EXPECT_TRUE(listed.contains("960/254x1080/285+0+0")) << listed.toStdString();
    EXPECT_TRUE(listed.contains("960/254x1080/285+960+0")) << listed.toStdString();
}

TEST(VirtualDesktop, FindsClientWindowsAndStopsClientsByPid)
{
    VirtualDesktop desktop({QSize(1024, 768), true, false});
    QString error;
    ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
    const qint64 pid = desktop.startClient("xlogo", {});
    ASSERT_GT(pid, 0);
    const std::optional<quint32> window = desktop.waitForWindow("xlogo");
    ASSERT_TRUE(window);
    QString info;
    ASSERT_EQ(desktop.run("xwininfo", {"-id", QString::number(*window)}, &info), 0);
    EXPECT_TRUE(info.contains("Map State: IsViewable")) << info.toStdString();

    desktop.stopClient(pid);
    EXPECT_FALSE(alive(pid));
    EXPECT_FALSE(desktop.waitForWindow("xlogo", 300));
}

TEST(VirtualDesktop, StopsEverythingItStartedWhenDestroyed)
{
    qint64 client = 0;
    QString display;
    {
        VirtualDesktop desktop;
        QString error;
        ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
        client = desktop.startClient("xclock", {});
        ASSERT_GT(client, 0);
        display = desktop.display();
    }
    EXPECT_FALSE(alive(client));
    // The display is free again: its lock file is gone with the server.
    EXPECT_FALSE(QFileInfo::exists("/tmp/.X" + display.mid(1) + "-lock"));
}

TEST(VirtualDesktop, ReportsAMissingProgramAsAFailedRun)
{
    VirtualDesktop desktop({QSize(320, 240), false, false});
    EXPECT_EQ(desktop.run("no-such-program-here", {}), -1);
    EXPECT_EQ(desktop.startClient("no-such-program-here", {}), -1);
}
