// Picking windows with the real shortcut on a virtual desktop: Vistrale, xlogo and
// openbox on Xvfb, the pointer and keys moved and pressed with xdotool, and the output
// picture read back over the session bus.
#include "tests/integration/vistrale_desktop_test.h"

#include <QProcess>

using namespace vistrale::test;

namespace {

// Both ways of getting the windows' pictures: live capture streams and imaging on
// every tick.
class PickingOnDesktop : public VistraleDesktopTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        VistraleDesktopTest::SetUp();
        if (HasFatalFailure())
            return;
        const bool imageMode = GetParam();
        ASSERT_NO_FATAL_FAILURE(startWith({"already-shown=true", imageMode ? "image-mode=true" : "image-mode=false"}));
        logo = desktop.startClient("xlogo", {"-geometry", "400x300+300+200", "-bg", "red", "-fg", "yellow"});
        ASSERT_GT(logo, 0);
        std::optional<quint32> id = desktop.waitForWindow("xlogo");
        ASSERT_TRUE(id.has_value());
        logoWindow = *id;
        ASSERT_TRUE(app->waitForLine(imageMode ? "USE_SCREENCAPTUREKIT=false" : "USE_SCREENCAPTUREKIT=true", 5000))
            << app->output().toStdString();
    }

    bool outputShowsRedAt(const QRect& rect) { return outputShows(rect, Qt::red, true); }
    bool outputShowsNoRedAt(const QRect& rect) { return outputShows(rect, Qt::red, false); }

    qint64 logo = -1;
    quint32 logoWindow = 0;
};

} // namespace

TEST_P(PickingOnDesktop, TheShortcutAddsTheWindowWhereItStandsTheOutputFollowsItAndItLeavesAgain)
{
    const QRect frame = desktop.frameOf(logoWindow);
    EXPECT_TRUE(outputShowsNoRedAt(frame));
    pressShortcutOver(frame.center());
    // One screen of the output's size: the window's output rectangle is its frame.
    ASSERT_TRUE(outputShowsRedAt(frame)) << app->output().toStdString();

    // The copy hot key puts the output picture on the clipboard, as another application
    // pastes it: the PNG bytes from xclip.
    desktop.run("xdotool", {"key", "ctrl+shift+super+6"});
    QImage shot;
    EXPECT_TRUE(waitUntil(
        [&] {
            QProcess xclip;
            xclip.setProcessEnvironment(desktop.environment());
            xclip.start("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"});
            if (!xclip.waitForFinished(3000) || xclip.exitCode() != 0)
                return false;
            shot = QImage::fromData(xclip.readAllStandardOutput(), "PNG");
            return !shot.isNull();
        },
        8000));
    EXPECT_EQ(shot.size(), QSize(1920, 1080));
    EXPECT_GE(share(shot, frame.adjusted(10, 40, -10, -10), near(Qt::red), 5), 0.5);

    desktop.run("xdotool", {"windowmove", QString::number(logoWindow), "1100", "500"});
    desktop.run("xdotool", {"windowsize", QString::number(logoWindow), "500", "360"});
    QRect moved;
    ASSERT_TRUE(waitUntil([&] { return (moved = desktop.frameOf(logoWindow)).width() > 450; }, 5000));
    EXPECT_TRUE(outputShowsRedAt(moved));
    EXPECT_TRUE(outputShowsNoRedAt(frame.intersected(QRect(0, 0, 1000, 1080))));

    // Pressed again, once the removal animation has run the backdrop is back.
    desktop.run("xdotool", {"sleep", "0.7"});
    pressShortcutOver(moved.center());
    EXPECT_TRUE(outputShowsNoRedAt(moved));

    // Added once more, closing the window takes it out.
    desktop.run("xdotool", {"sleep", "0.7"});
    pressShortcutOver(moved.center());
    ASSERT_TRUE(outputShowsRedAt(moved));
    desktop.stopClient(logo);
    EXPECT_TRUE(outputShowsNoRedAt(moved));
}

INSTANTIATE_TEST_SUITE_P(Modes, PickingOnDesktop, ::testing::Values(false, true),
    [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "ImageMode" : "CaptureMode"; });
