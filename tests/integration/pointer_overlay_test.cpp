// The pointer and the region highlight on a real desktop: Vistrale sharing an xlogo on
// Xvfb with openbox, the pointer, keys and buttons driven with xdotool, and the output
// picture read back over the session bus.
#include "tests/integration/vistrale_desktop_test.h"

using namespace vistrale::test;

namespace {

class PointerOnDesktop : public VistraleDesktopTest {
protected:
    void SetUp() override
    {
        VistraleDesktopTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_NO_FATAL_FAILURE(startWith({"already-shown=true", "image-mode=false"}));
        ASSERT_GT(desktop.startClient("xlogo", {"-geometry", "400x300+300+200", "-bg", "red", "-fg", "yellow"}), 0);
        const std::optional<quint32> logo = desktop.waitForWindow("xlogo");
        ASSERT_TRUE(logo);
        frame = desktop.frameOf(*logo);
        pressShortcutOver(frame.center());
        ASSERT_TRUE(outputBecomes([&](const QImage& p) { return share(p, inside(), isRed) > 0.3; }))
            << app->output().toStdString();
    }

    // The window without its title bar and edges.
    QRect inside() const { return frame.adjusted(10, 40, -10, -10); }

    static bool isRed(QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
    // The pointer's own pixels: X's pointer is black and white.
    static bool isGrey(QColor c)
    {
        return std::abs(c.red() - c.green()) < 30 && std::abs(c.green() - c.blue()) < 30
            && (c.red() < 60 || c.red() > 200);
    }
    // The blue disc over the red window.
    static bool isBluish(QColor c) { return c.blue() > c.red() + 20 && c.blue() > 100; }

    QRect frame;
};

} // namespace

TEST_F(PointerOnDesktop, ThePointerShowsWhereItStandsAndSuperPutsTheDiscBehindIt)
{
    // Left of the logo the window is plain red. One screen of the output's size: the
    // output point is the screen point.
    const QPoint at(frame.left() + 50, frame.center().y());
    const QRect around(at - QPoint(10, 10), QSize(21, 21));
    const QRect elsewhere(QPoint(frame.left() + 40, frame.top() + 60), QSize(21, 21));
    moveTo(at);
    EXPECT_TRUE(outputBecomes([&](const QImage& p) { return share(p, around, isGrey) > 0.05; }))
        << app->output().toStdString();
    EXPECT_LT(share(app->outputPicture(), elsewhere, isGrey), 0.01);

    // The disc (64 points across) surrounds the pointer while Super is held.
    const QRect discEdge(at + QPoint(18, -4), QSize(8, 8));
    EXPECT_LT(share(app->outputPicture(), discEdge, isBluish), 0.5);
    xdotool({"keydown", "super"});
    EXPECT_TRUE(outputBecomes([&](const QImage& p) { return share(p, discEdge, isBluish) > 0.9; }));
    xdotool({"keyup", "super"});
    EXPECT_TRUE(outputBecomes([&](const QImage& p) { return share(p, discEdge, isBluish) < 0.1; }));

    // Off the shared window the pointer fades out of the output.
    moveTo(QPoint(1500, 900));
    EXPECT_TRUE(outputBecomes([&](const QImage& p) { return share(p, around, isGrey) < 0.01; }));
}

TEST_F(PointerOnDesktop, ARegionDraggedAfterADoublePressOfSuperCropsTheWindow)
{
    moveTo(frame.center());
    // Each press held long enough for the modifier state to show it.
    xdotool({"keydown", "super", "sleep", "0.12", "keyup", "super", "sleep", "0.12", "keydown", "super", "sleep",
        "0.12", "keyup", "super"});
    ASSERT_TRUE(app->waitForLine("toggleDrawing", 5000)) << app->output().toStdString();
    // The border window holds the pointer now: the drag reaches it wherever it goes.
    const QRect region(frame.left() + 30, frame.top() + 60, 160, 120);
    moveTo(region.topLeft());
    xdotool({"mousedown", "1"});
    moveTo(region.center());
    moveTo(region.bottomRight());
    xdotool({"mouseup", "1"});
    ASSERT_TRUE(app->waitForLine("stopDrawing", 5000));

    // The region stays where it stands; the rest of the window leaves the output.
    const QRect rest(frame.left() + 250, frame.top() + 60, 120, 200);
    EXPECT_TRUE(outputBecomes([&](const QImage& p) {
        return share(p, region.adjusted(12, 12, -12, -12), isRed) > 0.3 && share(p, rest, isRed) < 0.02;
    })) << app->output().toStdString();
}
