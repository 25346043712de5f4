#include "tests/integration/x11_client_window.h"
#include "tests/integration/x11_desktop_test.h"

#include <QImage>
#include <algorithm>

using namespace vistrale;
using namespace vistrale::test;

namespace {

class X11WindowServerTest : public X11DesktopTest {
protected:
    using X11DesktopTest::X11DesktopTest;
    WindowServer& server() { return *backends->windowServer; }

    std::optional<Window> listed(qint64 number, bool onScreenOnly)
    {
        for (const Window& w : server().windowList(onScreenOnly)) {
            if (w.windowNumber == number)
                return w;
        }
        return std::nullopt;
    }

    // A window's rectangle from xwininfo, in X11 coordinates: the client area, or the
    // window manager's frame (the top-level window holding it) with `frame`.
    QRect xwininfoRect(quint32 window, bool frame)
    {
        QString out;
        desktop.run("xwininfo", {"-stats", "-tree", "-id", QString::number(window)}, &out);
        if (frame) {
            const QString root = QRegularExpression("Root window id: (0x[0-9a-f]+)").match(out).captured(1);
            for (int depth = 0; depth < 8; ++depth) {
                const QString parent = QRegularExpression("Parent window id: (0x[0-9a-f]+)").match(out).captured(1);
                if (parent.isEmpty() || parent == root)
                    break;
                desktop.run("xwininfo", {"-stats", "-tree", "-id", parent}, &out);
            }
        }
        auto field = [&](const char* name) {
            return QRegularExpression(QString("%1:\\s+(-?\\d+)").arg(name)).match(out).captured(1).toInt();
        };
        return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
    }

    void activate(quint32 window) { desktop.run("xdotool", {"windowactivate", "--sync", QString::number(window)}); }
};

bool uniform(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(0, 0))
                return false;
        }
    }
    return true;
}

QList<qint64> numbers(const QList<Window>& windows)
{
    QList<qint64> result;
    for (const Window& w : windows)
        result.append(w.windowNumber);
    return result;
}

// Bottom-left global points of an X11 rectangle on a screen whose main monitor ends at
// `mainBottom`.
QRectF global(const QRect& r, int mainBottom)
{
    return QRectF(r.x(), mainBottom - r.y() - r.height(), r.width(), r.height());
}

} // namespace

TEST_F(X11WindowServerTest, ListsWindowsFrontToBackAsTheWindowManagerStacksThem)
{
    const quint32 logo = startWindow("xlogo");
    const quint32 clock = startWindow("xclock");
    const quint32 term = startWindow("xterm", {}, "XTerm");
    ASSERT_TRUE(logo && clock && term);

    activate(logo);
    ASSERT_TRUE(waitUntil([&] { return stackingFromXprop().value(2) == logo; }, 3000));
    QList<qint64> expected;
    for (quint32 id : stackingFromXprop())
        expected.prepend(id);
    EXPECT_EQ(numbers(server().windowList(false)), expected);
    EXPECT_EQ(server().stackingOrder(), expected);

    activate(term);
    ASSERT_TRUE(waitUntil([&] { return stackingFromXprop().value(2) == term; }, 3000));
    const QList<qint64> afterTerm = numbers(server().windowList(true));
    ASSERT_EQ(afterTerm.size(), 3);
    EXPECT_EQ(afterTerm.first(), term);
    EXPECT_EQ(afterTerm.at(1), logo);
}

TEST_F(X11WindowServerTest, GivesFramesInBottomLeftPointsMatchingTheWindowManager)
{
    const quint32 logo = startWindow("xlogo", {"-geometry", "300x200+100+150"});
    ASSERT_NE(logo, 0u);
    const QRect frame = xwininfoRect(logo, true);
    ASSERT_FALSE(frame.isEmpty());
    const std::optional<Window> window = listed(logo, false);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->frame, global(frame, 1080));
    EXPECT_EQ(server().windowBounds(logo), global(frame, 1080));

    // The frame is the client area grown by the published decoration extents.
    const QRect client = xwininfoRect(logo, false);
    EXPECT_EQ(client.size(), QSize(300, 200));
    const QStringList extents = xprop(logo, "_NET_FRAME_EXTENTS").section('=', 1).split(',', Qt::SkipEmptyParts);
    ASSERT_EQ(extents.size(), 4);
    EXPECT_EQ(window->frame.width(), 300 + extents[0].toInt() + extents[1].toInt());
    EXPECT_EQ(window->frame.height(), 200 + extents[2].toInt() + extents[3].toInt());

    desktop.run("xdotool", {"windowmove", "--sync", QString::number(logo), "500", "600"});
    ASSERT_TRUE(waitUntil([&] { return xwininfoRect(logo, true) != frame; }, 3000));
    EXPECT_EQ(server().windowBounds(logo), global(xwininfoRect(logo, true), 1080));
    EXPECT_FALSE(server().windowBounds(0x7ffff0));
}

TEST_F(X11WindowServerTest, NamesTitlesProcessesAndApplicationsAndSurvivesPropertiesOfTheWrongTypeAndSize)
{
    const qint64 termPid = desktop.startClient("xterm", {"-T", "Grüße aus dem Terminal"});
    const qint64 logoPid = desktop.startClient("xlogo", {});
    const std::optional<quint32> term = desktop.waitForWindow("Grüße");
    const std::optional<quint32> logo = desktop.waitForWindow("xlogo");
    ASSERT_TRUE(term && logo);

    const std::optional<Window> t = listed(*term, false);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->windowName, QString("Grüße aus dem Terminal"));
    EXPECT_EQ(t->pid, termPid);
    EXPECT_EQ(t->applicationName, "xterm");

    // xlogo publishes no _NET_WM_PID: the X server tells which process owns it.
    ASSERT_FALSE(xprop(*logo, "_NET_WM_PID").contains("= "));
    const std::optional<Window> l = listed(*logo, false);
    ASSERT_TRUE(l);
    EXPECT_EQ(l->pid, logoPid);
    EXPECT_EQ(l->applicationName, "xlogo");
    EXPECT_EQ(l->windowName, QString("xlogo"));
    EXPECT_FALSE(l->minimised);
    EXPECT_EQ(l->desktop, 0);

    // Properties of the wrong type and size fall back or are left out.
    desktop.run("xprop", {"-id", QString::number(*logo), "-f", "_NET_WM_PID", "8s", "-set", "_NET_WM_PID", "garbage"});
    desktop.run(
        "xprop", {"-id", QString::number(*logo), "-f", "_NET_WM_DESKTOP", "8s", "-set", "_NET_WM_DESKTOP", "x"});
    desktop.run("xprop", {"-id", QString::number(*logo), "-f", "_NET_WM_NAME", "32c", "-set", "_NET_WM_NAME", "7"});
    ASSERT_TRUE(xpropBecomes(*logo, "_NET_WM_PID", QRegularExpression("garbage")));

    const std::optional<Window> g = listed(*logo, true);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->pid, logoPid) << "falls back to the X server's record";
    EXPECT_EQ(g->windowName, QString("xlogo")) << "falls back to WM_NAME";
    EXPECT_EQ(g->desktop, -1);

    // A huge title is cut, a frame extent list of the wrong length is ignored.
    ClientWindow own(desktop.display(), QRect(50, 50, 200, 100), "own window");
    own.map();
    ASSERT_TRUE(desktop.waitForWindow("own window"));
    const QByteArray huge(300000, 'A');
    own.setProperty(
        own.atom("_NET_WM_NAME"), own.atom("UTF8_STRING"), 8, huge.constData(), static_cast<quint32>(huge.size()));
    const quint32 shortExtents[] = {1, 2};
    own.setProperty(own.atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 32, shortExtents, 2);
    const std::optional<Window> o = listed(own.id, true);
    ASSERT_TRUE(o);
    ASSERT_TRUE(o->windowName);
    EXPECT_GT(o->windowName->size(), 1000);
    EXPECT_LT(o->windowName->size(), huge.size());
    EXPECT_EQ(o->frame.size(), QSizeF(200, 100));
}

TEST_F(
    X11WindowServerTest, LeavesOutMinimisedAndOtherDesktopWindowsOnlyWhenAskedForOnScreenOnesAndTellsOfDesktopChanges)
{
    int changes = 0;
    server().setDesktopChangeHandler([&] { ++changes; });
    const quint32 logo = startWindow("xlogo");
    const quint32 clock = startWindow("xclock");
    const quint32 term = startWindow("xterm", {}, "XTerm");
    ASSERT_TRUE(logo && clock && term);
    desktop.run("xdotool", {"windowminimize", "--sync", QString::number(logo)});
    desktop.run("xdotool", {"set_desktop_for_window", QString::number(clock), "1"});
    ASSERT_TRUE(xpropBecomes(clock, "_NET_WM_DESKTOP", QRegularExpression("= 1$")));
    ASSERT_TRUE(xpropBecomes(logo, "_NET_WM_STATE", QRegularExpression("_NET_WM_STATE_HIDDEN")));

    EXPECT_EQ(numbers(server().windowList(true)), QList<qint64>{term});
    const QList<Window> all = server().windowList(false);
    EXPECT_EQ(all.size(), 3);
    EXPECT_TRUE(listed(logo, false)->minimised);
    EXPECT_EQ(listed(clock, false)->desktop, 1);
    EXPECT_FALSE(listed(clock, false)->minimised) << "openbox marks other-desktop windows iconic, not hidden";

    // On the other desktop the clock is on screen and the terminal is not.
    EXPECT_EQ(changes, 0);
    desktop.run("xdotool", {"set_desktop", "1"});
    ASSERT_TRUE(waitUntil([&] { return rootProperty("_NET_CURRENT_DESKTOP").endsWith("= 1"); }, 3000));
    EXPECT_EQ(numbers(server().windowList(true)), QList<qint64>{clock});
    EXPECT_TRUE(waitUntil([&] { return changes == 1; }, 3000));
    desktop.run("xdotool", {"set_desktop", "0"});
    EXPECT_TRUE(waitUntil([&] { return changes == 2; }, 3000));
}

TEST_F(X11WindowServerTest, NeverListsDesktopWindowsDocksOrUnmanagedWindowsAndOffersTheDesktopOrTheRoot)
{
    // Without a desktop window, the root stands for the desktop.
    std::optional<Window> bare = server().desktopWindow();
    ASSERT_TRUE(bare);
    QString root;
    desktop.run("xwininfo", {"-root"}, &root);
    const quint32 rootId = QRegularExpression("Window id: (0x[0-9a-f]+)").match(root).captured(1).toUInt(nullptr, 16);
    EXPECT_EQ(bare->windowNumber, rootId);
    EXPECT_EQ(bare->frame, QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(bare->windowName, QString("Desktop"));

    ClientWindow background(desktop.display(), QRect(0, 0, 1920, 1080), "desktop background");
    const xcb_atom_t desktopType = background.atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    background.setProperty(background.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, &desktopType, 1);
    background.map();
    ClientWindow dock(desktop.display(), QRect(0, 1040, 1920, 40), "a dock");
    const xcb_atom_t dockType = dock.atom("_NET_WM_WINDOW_TYPE_DOCK");
    dock.setProperty(dock.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, &dockType, 1);
    dock.map();
    ClientWindow popup(desktop.display(), QRect(10, 10, 50, 50), "a popup", true);
    popup.map();
    const quint32 logo = startWindow("xlogo");
    ASSERT_TRUE(desktop.waitForWindow("desktop background") && desktop.waitForWindow("a dock")
        && desktop.waitForWindow("a popup") && logo);
    ASSERT_TRUE(waitUntil([&] { return stackingFromXprop().size() == 3; }, 3000));

    EXPECT_EQ(numbers(server().windowList(false)), QList<qint64>{logo});
    EXPECT_EQ(server().stackingOrder(), QList<qint64>{logo});
    bare = server().desktopWindow();
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->windowNumber, background.id);
    EXPECT_EQ(bare->applicationName, "Window Server");
    EXPECT_EQ(bare->windowName, QString("Desktop"));
}

TEST_F(X11WindowServerTest, ImagesAWindowWithItsFrameEvenWhenCovered)
{
    const quint32 logo = startWindow("xlogo", {"-geometry", "320x240+100+100"});
    ASSERT_NE(logo, 0u);
    ASSERT_TRUE(server().supportsCaptureStreams());
    qputenv("VISTRALE_IMAGE_MODE", "1");
    EXPECT_FALSE(server().supportsCaptureStreams()) << "image mode can be forced";
    qunsetenv("VISTRALE_IMAGE_MODE");
    const QImage uncovered = server().imageWindow(logo);
    ASSERT_FALSE(uncovered.isNull());
    // The whole frame, title bar included.
    EXPECT_EQ(uncovered.size(), xwininfoRect(logo, true).size());
    EXPECT_EQ(uncovered.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(qAlpha(uncovered.pixel(5, 5)), 255);
    EXPECT_FALSE(uniform(uncovered)) << "xlogo draws its logo on a plain background";

    const quint32 term = startWindow("xterm", {"-geometry", "80x24+0+0"}, "XTerm");
    ASSERT_NE(term, 0u);
    activate(term);
    const QImage covered = server().imageWindow(logo);
    // The title bar turns inactive; the client's own pixels stay.
    const QRect frame = xwininfoRect(logo, true);
    const QRect client = xwininfoRect(logo, false).translated(-frame.topLeft());
    EXPECT_EQ(covered.copy(client), uncovered.copy(client));

    desktop.run("xdotool", {"windowminimize", "--sync", QString::number(logo)});
    // The window manager takes the window off the screen a moment after xdotool returns.
    EXPECT_TRUE(waitUntil([&] { return server().imageWindow(logo).isNull(); }, 3000));
    EXPECT_TRUE(server().imageWindow(0x7ffff0).isNull());

    // A window wider than any stream reads is not imaged at all.
    ClientWindow wide(desktop.display(), QRect(0, 0, 17000, 20), "wide", true);
    wide.map();
    EXPECT_TRUE(server().imageWindow(wide.id).isNull());
}

TEST_F(X11WindowServerTest, ImagesEachDisplayAndMeasuresFromTheBottomOfTheMainMonitor)
{
    const QImage whole = server().imageDisplay(1);
    ASSERT_FALSE(whole.isNull());
    EXPECT_EQ(whole.size(), QSize(1920, 1080));
    EXPECT_EQ(qAlpha(whole.pixel(1919, 1079)), 255);
    EXPECT_TRUE(server().imageDisplay(2).isNull());
    EXPECT_TRUE(server().imageDisplay(0).isNull());

    ASSERT_TRUE(desktop.splitIntoMonitors({QRect(0, 0, 1280, 720), QRect(1280, 0, 640, 1080)}));
    const quint32 logo = startWindow("xlogo", {"-geometry", "200x100+1400+900"});
    ASSERT_NE(logo, 0u);
    // Below the main monitor's bottom edge: negative y.
    EXPECT_EQ(server().windowBounds(logo), global(xwininfoRect(logo, true), 720));
    EXPECT_LT(server().windowBounds(logo)->y(), 0);
    EXPECT_EQ(server().desktopWindow()->frame, QRectF(0, 0, 1280, 720));
    const QImage right = server().imageDisplay(2);
    ASSERT_EQ(right.size(), QSize(640, 1080));
    EXPECT_EQ(server().imageDisplay(1).size(), QSize(1280, 720));
    // The second display starts at x = 1280 on the root. Compare the client's pixels:
    // the title bar may change with the focus between the two reads.
    const QRect frame = xwininfoRect(logo, true);
    const QRect client = xwininfoRect(logo, false);
    EXPECT_EQ(
        right.copy(client.translated(-1280, 0)), server().imageWindow(logo).copy(client.translated(-frame.topLeft())));
}

namespace {

class X11ImageModeTest : public X11WindowServerTest {
protected:
    X11ImageModeTest()
        : X11WindowServerTest({QSize(1920, 1080), true, false, {"-extension", "Composite"}})
    {
    }
};

} // namespace

TEST_F(X11ImageModeTest, ImagesVisibleWindowsWithoutComposite)
{
    EXPECT_FALSE(server().supportsCaptureStreams());
    const quint32 logo = startWindow("xlogo", {"-geometry", "320x240+100+100"});
    ASSERT_NE(logo, 0u);
    const QImage image = server().imageWindow(logo);
    ASSERT_FALSE(image.isNull());
    const QRect frame = xwininfoRect(logo, true);
    EXPECT_EQ(image.size(), frame.size());
    EXPECT_FALSE(uniform(image));
    // The same pixels as the screen shows there (the client's: the title bar may change
    // with the focus in between).
    const QRect client = xwininfoRect(logo, false);
    EXPECT_EQ(image.copy(client.translated(-frame.topLeft())), server().imageDisplay(1).copy(client));
}

TEST(X11Connect, SaysWhyWhenNoServerAnswers)
{
    QString error;
    EXPECT_FALSE(connectX11(&error, ":4711"));
    EXPECT_EQ(error, "cannot open X display :4711");
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    EXPECT_FALSE(connectX11(&error));
    EXPECT_EQ(error, "no X display: DISPLAY is not set");
    if (!display.isEmpty())
        qputenv("DISPLAY", display);
}
