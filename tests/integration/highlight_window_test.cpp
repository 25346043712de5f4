#include "tests/integration/x11_client_window.h"
#include "tests/integration/x11_desktop_test.h"

#include <QProcess>
#include <xcb/xcb.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

// The highlight border shown by a helper process with Qt on the test desktop, driven
// line by line.
class HighlightWindowOnDesktop : public X11DesktopTest {
protected:
    void SetUp() override
    {
        X11DesktopTest::SetUp();
        if (!HasFatalFailure())
            backdrop = std::make_unique<ClientWindow>(desktop.display(), QRect(0, 0, 1920, 1080), "backdrop", true);
    }

    void TearDown() override
    {
        if (helper.state() != QProcess::NotRunning) {
            helper.write("quit\n");
            if (!helper.waitForFinished(3000)) {
                helper.kill();
                helper.waitForFinished(3000);
            }
        }
    }

    bool startHelper(quint32 windowNumber)
    {
        helper.setProcessEnvironment(desktop.environment());
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper.start(QStringLiteral(VISTRALE_HIGHLIGHT_HELPER), {QString::number(windowNumber)});
        return helper.waitForStarted(5000);
    }

    // Sends one command; the helper's answer ("" when none came).
    QByteArray ask(const QByteArray& command)
    {
        helper.write(command + '\n');
        QDeadlineTimer deadline(10000);
        while (!helper.canReadLine() && !deadline.hasExpired())
            helper.waitForReadyRead(100);
        return helper.readLine().trimmed();
    }

    // Frames the window; the border window's id (0 on failure).
    quint32 fit(const QRectF& frame)
    {
        const QByteArray reply = ask(QStringLiteral("fit %1 %2 %3 %4")
                                         .arg(frame.x())
                                         .arg(frame.y())
                                         .arg(frame.width())
                                         .arg(frame.height())
                                         .toLatin1());
        return reply.startsWith("fitted ") ? reply.mid(7).toUInt() : 0;
    }

    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(backdrop->c)).data->root; }

    // A window's rectangle on the root, X11 coordinates (outer edge, border included).
    QRect rootGeometry(xcb_window_t window)
    {
        xcb_get_geometry_reply_t* geometry
            = xcb_get_geometry_reply(backdrop->c, xcb_get_geometry(backdrop->c, window), nullptr);
        if (!geometry)
            return {};
        xcb_translate_coordinates_reply_t* at = xcb_translate_coordinates_reply(
            backdrop->c, xcb_translate_coordinates(backdrop->c, window, root(), 0, 0), nullptr);
        QRect rect;
        if (at)
            rect = QRect(at->dst_x - geometry->border_width, at->dst_y - geometry->border_width,
                geometry->width + 2 * geometry->border_width, geometry->height + 2 * geometry->border_width);
        free(at);
        free(geometry);
        return rect;
    }

    QList<xcb_window_t> rootChildren() { return vistrale::test::rootChildren(backdrop->c); }
    xcb_window_t frameOf(xcb_window_t window) { return topLevelOf(backdrop->c, window); }

    // The top-level window under the pointer, as xdotool sees it.
    quint32 windowUnderPointer()
    {
        QString out;
        desktop.run("xdotool", {"getmouselocation", "--shell"}, &out);
        return QRegularExpression("WINDOW=(\\d+)").match(out).captured(1).toUInt();
    }

    // Button presses the backdrop received so far.
    int backdropPresses()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(backdrop->c)) {
            if ((event->response_type & 0x7f) == XCB_BUTTON_PRESS)
                ++presses;
            free(event);
        }
        return presses;
    }

    // An unmanaged window under everything, which counts the clicks that reach it.
    std::unique_ptr<ClientWindow> backdrop;
    int presses = 0;
    QProcess helper;
};

} // namespace

TEST_F(HighlightWindowOnDesktop, FramesTheWindowLetsClicksThroughStaysAboveItAndFollowsIt)
{
    const quint32 events[] = {XCB_EVENT_MASK_BUTTON_PRESS};
    xcb_change_window_attributes(backdrop->c, backdrop->id, XCB_CW_EVENT_MASK, events);
    backdrop->map();
    const quint32 below[] = {XCB_STACK_MODE_BELOW};
    xcb_configure_window(backdrop->c, backdrop->id, XCB_CONFIG_WINDOW_STACK_MODE, below);
    backdrop->sync();

    const quint32 logo = startWindow("xlogo", {"-geometry", "300x300+400+300"});
    const quint32 clock = startWindow("xclock", {"-geometry", "200x200+1200+300"});
    ASSERT_NE(logo, 0u);
    ASSERT_NE(clock, 0u);
    desktop.run("xdotool", {"windowactivate", "--sync", QString::number(logo)});
    const std::optional<QRectF> frame = backends->windowServer->windowBounds(logo);
    ASSERT_TRUE(frame);

    ASSERT_TRUE(startHelper(logo));
    const quint32 border = fit(*frame);
    ASSERT_NE(border, 0u) << "no answer from the helper";

    // 4 pixels outside xlogo's frame on every side.
    const QRect logoFrame = rootGeometry(frameOf(logo));
    ASSERT_FALSE(logoFrame.isEmpty());
    EXPECT_TRUE(waitUntil([&] { return rootGeometry(border) == logoFrame.adjusted(-4, -4, 4, 4); }, 3000))
        << "border at " << rootGeometry(border).x() << "," << rootGeometry(border).y() << " "
        << rootGeometry(border).width() << "x" << rootGeometry(border).height() << ", xlogo at " << logoFrame.x() << ","
        << logoFrame.y() << " " << logoFrame.width() << "x" << logoFrame.height();
    xcb_get_window_attributes_reply_t* attributes
        = xcb_get_window_attributes_reply(backdrop->c, xcb_get_window_attributes(backdrop->c, border), nullptr);
    ASSERT_TRUE(attributes);
    EXPECT_EQ(attributes->map_state, XCB_MAP_STATE_VIEWABLE);
    EXPECT_TRUE(attributes->override_redirect);
    free(attributes);

    // Directly above xlogo's frame, below the window activated after it.
    QList<xcb_window_t> order = rootChildren();
    EXPECT_EQ(order.indexOf(border), order.indexOf(frameOf(logo)) + 1);

    // A click on the border (left edge, halfway down) goes to what lies below it.
    const QRect ring = rootGeometry(border);
    const QPoint onBorder(ring.x() + 1, ring.center().y());
    desktop.run("xdotool", {"mousemove", "--sync", QString::number(onBorder.x()), QString::number(onBorder.y())});
    EXPECT_TRUE(waitUntil([&] { return windowUnderPointer() == backdrop->id; }, 2000)) << windowUnderPointer();
    EXPECT_NE(windowUnderPointer(), border);
    const int before = backdropPresses();
    desktop.run("xdotool", {"click", "1"});
    EXPECT_TRUE(waitUntil([&] { return backdropPresses() > before; }, 2000));

    // Raising xlogo puts its frame above the border; the next fit stacks the border
    // right above it again.
    desktop.run("xdotool", {"windowactivate", "--sync", QString::number(clock)});
    desktop.run("xdotool", {"windowactivate", "--sync", QString::number(logo)});
    ASSERT_TRUE(waitUntil([&] { return stackingFromXprop().value(stackingFromXprop().size() - 1) == logo; }, 3000));
    ASSERT_EQ(fit(*frame), border);
    order = rootChildren();
    EXPECT_EQ(order.indexOf(border), order.indexOf(frameOf(logo)) + 1);
    EXPECT_GT(order.indexOf(border), order.indexOf(frameOf(clock))) << "xlogo is above xclock now";

    // It follows the window when it moves.
    desktop.run("xdotool", {"windowmove", "--sync", QString::number(logo), "700", "500"});
    ASSERT_TRUE(waitUntil([&] { return rootGeometry(frameOf(logo)) != logoFrame; }, 3000));
    const std::optional<QRectF> moved = backends->windowServer->windowBounds(logo);
    ASSERT_TRUE(moved);
    ASSERT_EQ(fit(*moved), border);
    const QRect movedFrame = rootGeometry(frameOf(logo));
    EXPECT_TRUE(waitUntil([&] { return rootGeometry(border) == movedFrame.adjusted(-4, -4, 4, 4); }, 3000));
}
