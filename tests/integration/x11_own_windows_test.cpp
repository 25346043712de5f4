#include "tests/integration/x11_client_window.h"
#include "tests/integration/x11_desktop_test.h"

using namespace vistrale;
using namespace vistrale::test;

namespace {

class X11OwnWindowsTest : public X11DesktopTest {
protected:
    OwnWindows& own() { return *backends->ownWindows; }
    // The top-level window under the pointer, as xdotool names it (a frame, for managed ones).
    quint32 windowUnderPointer()
    {
        QString out;
        desktop.run("xdotool", {"getmouselocation", "--shell"}, &out);
        return QRegularExpression("WINDOW=(\\d+)").match(out).captured(1).toUInt();
    }
};

const QRegularExpression aboveState("_NET_WM_STATE_ABOVE");

} // namespace

TEST_F(X11OwnWindowsTest, KeepsAWindowAboveWhenAskedBeforeItIsMapped)
{
    ClientWindow window(desktop.display(), QRect(100, 100, 400, 300), "own window");
    own().setKeepAbove(window.id, true);
    window.map();
    ASSERT_TRUE(desktop.waitForWindow("own window"));
    EXPECT_TRUE(xpropBecomes(window.id, "_NET_WM_STATE", aboveState))
        << xprop(window.id, "_NET_WM_STATE").toStdString();

    // The window manager keeps it above a window activated later.
    const quint32 logo = startWindow("xlogo");
    ASSERT_NE(logo, 0u);
    desktop.run("xdotool", {"windowactivate", "--sync", QString::number(logo)});
    ASSERT_TRUE(waitUntil([&] { return stackingFromXprop().value(0) != 0; }, 2000));
    EXPECT_EQ(stackingFromXprop().last(), window.id);
}

TEST_F(X11OwnWindowsTest, KeepsAMappedWindowAboveAndLetsItGoAndShowsItOnEveryDesktop)
{
    ClientWindow window(desktop.display(), QRect(100, 100, 400, 300), "own window");
    window.map();
    ASSERT_TRUE(desktop.waitForWindow("own window"));
    own().setKeepAbove(window.id, true);
    EXPECT_TRUE(xpropBecomes(window.id, "_NET_WM_STATE", aboveState));
    own().setKeepAbove(window.id, false);
    EXPECT_TRUE(xpropBecomes(window.id, "_NET_WM_STATE", QRegularExpression("^((?!ABOVE).)*$")))
        << xprop(window.id, "_NET_WM_STATE").toStdString();

    own().setOnAllDesktops(window.id);
    EXPECT_TRUE(xpropBecomes(window.id, "_NET_WM_DESKTOP", QRegularExpression("= 4294967295$")));
    // Openbox knows no sticky state (all desktops is its only way); others show it.
    if (rootProperty("_NET_SUPPORTED").contains("_NET_WM_STATE_STICKY")) {
        EXPECT_TRUE(xpropBecomes(window.id, "_NET_WM_STATE", QRegularExpression("_NET_WM_STATE_STICKY")));
    }
    ASSERT_EQ(desktop.run("xdotool", {"set_desktop", "1"}), 0);
    ASSERT_TRUE(waitUntil([&] { return rootProperty("_NET_CURRENT_DESKTOP").endsWith("= 1"); }, 3000));
    QString info;
    desktop.run("xwininfo", {"-id", QString::number(window.id)}, &info);
    EXPECT_TRUE(info.contains("IsViewable")) << info.toStdString();
}

TEST_F(X11OwnWindowsTest, SetsTheAspectRatioKeepsTheOtherSizeHintsAndPutsItBackWhenTheyAreRewritten)
{
    ClientWindow window(desktop.display(), QRect(100, 100, 480, 270), "own window");
    window.map();
    ASSERT_TRUE(desktop.waitForWindow("own window"));
    own().setAspectRatio(window.id, 16, 9);
    const QString hints = xprop(window.id, "WM_NORMAL_HINTS");
    EXPECT_TRUE(hints.contains("program specified minimum aspect ratio: 16/9")) << hints.toStdString();
    EXPECT_TRUE(hints.contains("program specified maximum aspect ratio: 16/9")) << hints.toStdString();
    EXPECT_TRUE(hints.contains("program specified minimum size: 160 by 90")) << hints.toStdString();

    // The window manager holds resizes to the ratio.
    desktop.run("xdotool", {"windowsize", "--sync", QString::number(window.id), "800", "800"});
    QString geometry;
    ASSERT_TRUE(waitUntil(
        [&] {
            desktop.run("xdotool", {"getwindowgeometry", QString::number(window.id)}, &geometry);
            return !geometry.contains("480x270");
        },
        3000));
    const QRegularExpressionMatch size = QRegularExpression("Geometry: (\\d+)x(\\d+)").match(geometry);
    ASSERT_TRUE(size.hasMatch()) << geometry.toStdString();
    EXPECT_NEAR(size.captured(1).toDouble() / size.captured(2).toDouble(), 16.0 / 9.0, 0.01) << geometry.toStdString();

    own().setAspectRatio(window.id, 4, 3);
    window.rewriteSizeHints();
    EXPECT_TRUE(xpropBecomes(window.id, "WM_NORMAL_HINTS", QRegularExpression("minimum aspect ratio: 4/3")))
        << xprop(window.id, "WM_NORMAL_HINTS").toStdString();
}

TEST_F(X11OwnWindowsTest, LetsClicksThroughAnUnmanagedOrAManagedWindowToTheWindowBelow)
{
    const quint32 logo = startWindow("xlogo", {"-geometry", "300x300+200+200"});
    ASSERT_NE(logo, 0u);
    desktop.run("xdotool", {"mousemove", "--sync", "350", "350"});
    const quint32 logoFrame = windowUnderPointer();
    ASSERT_NE(logoFrame, 0u);

    ClientWindow overlay(desktop.display(), QRect(0, 0, 1920, 1080), "overlay", true);
    overlay.map();
    ASSERT_TRUE(desktop.waitForWindow("overlay"));
    ASSERT_TRUE(waitUntil([&] { return windowUnderPointer() == overlay.id; }, 2000));
    own().setClickThrough(overlay.id);
    EXPECT_EQ(overlay.inputRectangles(), 0);
    EXPECT_TRUE(waitUntil([&] { return windowUnderPointer() == logoFrame; }, 2000)) << windowUnderPointer();

    ClientWindow window(desktop.display(), QRect(150, 150, 500, 500), "own window");
    window.map();
    ASSERT_TRUE(desktop.waitForWindow("own window"));
    desktop.run("xdotool", {"windowmove", "--sync", QString::number(window.id), "150", "150"});
    ASSERT_TRUE(waitUntil([&] { return windowUnderPointer() != logoFrame; }, 2000));
    own().setClickThrough(window.id);
    EXPECT_TRUE(waitUntil([&] { return windowUnderPointer() == logoFrame; }, 2000)) << windowUnderPointer();
}

TEST_F(X11OwnWindowsTest, AsksTheWindowManagerToStackAManagedWindowAboveAnother)
{
    const quint32 logo = startWindow("xlogo");
    ClientWindow window(desktop.display(), QRect(100, 100, 400, 300), "own window");
    window.map();
    ASSERT_TRUE(desktop.waitForWindow("own window"));
    const quint32 clock = startWindow("xclock");
    ASSERT_NE(logo, 0u);
    ASSERT_NE(clock, 0u);
    desktop.run("xdotool", {"windowactivate", "--sync", QString::number(window.id)});
    desktop.run("xdotool", {"windowactivate", "--sync", QString::number(logo)});
    ASSERT_TRUE(waitUntil([&] { return stackingFromXprop().last() == logo; }, 3000));

    // Openbox honours the request by raising; window managers that take the sibling
    // put it directly above. Either way it ends above the sibling.
    own().orderAbove(window.id, logo);
    EXPECT_TRUE(waitUntil(
        [&] {
            const QList<quint32> order = stackingFromXprop();
            return order.indexOf(window.id) > order.indexOf(logo);
        },
        3000))
        << rootProperty("_NET_CLIENT_LIST_STACKING").toStdString();
}

TEST_F(X11OwnWindowsTest, StacksAnUnmanagedWindowDirectlyAboveAnotherWindowsFrame)
{
    const quint32 logo = startWindow("xlogo");
    const quint32 clock = startWindow("xclock");
    ASSERT_NE(logo, 0u);
    ASSERT_NE(clock, 0u);
    ASSERT_TRUE(waitUntil([&] { return stackingFromXprop().last() == clock; }, 3000));
    ClientWindow overlay(desktop.display(), QRect(0, 0, 200, 200), "overlay", true);
    overlay.map();
    ASSERT_TRUE(desktop.waitForWindow("overlay"));

    own().orderAbove(overlay.id, logo);
    // The root's children bottom to top: the overlay right above xlogo's frame.
    const QList<xcb_window_t> order = rootChildren(overlay.c);
    auto frameOf = [&](xcb_window_t w) { return topLevelOf(overlay.c, w); };
    const qsizetype logoFrame = order.indexOf(frameOf(logo));
    ASSERT_GE(logoFrame, 0);
    EXPECT_EQ(order.indexOf(overlay.id), logoFrame + 1);
    EXPECT_GT(order.indexOf(frameOf(clock)), order.indexOf(overlay.id));
}

TEST_F(X11OwnWindowsTest, IgnoresWindowsThatDoNotExist)
{
    const quint32 missing = 0x7ffff0;
    own().setKeepAbove(missing, true);
    own().setOnAllDesktops(missing);
    own().setAspectRatio(missing, 16, 9);
    own().setClickThrough(missing);
    own().orderAbove(missing, missing);
    ClientWindow window(desktop.display(), QRect(100, 100, 400, 300), "own window");
    window.map();
    own().setAspectRatio(window.id, 0, 9);
    EXPECT_TRUE(desktop.waitForWindow("own window"));
    EXPECT_FALSE(xprop(window.id, "WM_NORMAL_HINTS").contains("aspect"));
}
