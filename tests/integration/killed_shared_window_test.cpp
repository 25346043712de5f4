// A shared window whose client is killed while its capture stream reads it, in capture
// mode: Vistrale on a virtual desktop, a busy xterm shared with the real shortcut and
// killed with SIGKILL, the output picture read back over the session bus.
#include "tests/integration/vistrale_desktop_test.h"

#include <QRegularExpression>
#include <csignal>

using namespace vistrale::test;

namespace {

class KilledSharedWindow : public VistraleDesktopTest {
protected:
    void SetUp() override
    {
        VistraleDesktopTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_NO_FATAL_FAILURE(startWith({"already-shown=true", "soundoff=true", "image-mode=false"}));
        ASSERT_TRUE(app->waitForLine("USE_SCREENCAPTUREKIT=true", 5000)) << app->output().toStdString();
    }
};

const QColor RED(255, 0, 0);
const QColor YELLOW(255, 255, 0);

} // namespace

TEST_F(KilledSharedWindow, ShowingTheShareWindowKeepsTheOutputGoingAndAKilledWindowLeavesIt)
{
    // Red text on red, scrolling without end: the stream reads it all the time.
    const qint64 term = desktop.startClient("xterm",
        {"-title", "busy", "-geometry", "60x20+200+200", "-bg", "red", "-fg", "red", "-e", "od", "/dev/urandom"});
    ASSERT_GT(term, 0);
    const std::optional<quint32> termWindow = desktop.waitForWindow("busy");
    ASSERT_TRUE(termWindow.has_value());
    const QRect termFrame = desktop.frameOf(*termWindow);
    pressShortcutOver(termFrame.center());
    ASSERT_TRUE(outputShows(termFrame, RED, true)) << app->output().toStdString();
    ASSERT_EQ(sharedCount(), 1);

    constexpr int SHOW_SHARE_WINDOW = 219;
    ASSERT_TRUE(app->triggerMenuItem(SHOW_SHARE_WINDOW));
    const std::optional<quint32> shareWindow = desktop.waitForWindow("Vistrale Share");
    ASSERT_TRUE(shareWindow.has_value());
    // The window is shown whole at the screen's origin.
    EXPECT_TRUE(waitUntil([&] { return app->windowGeometry(*shareWindow) == QRect(0, 0, 1920, 1080); }, 5000));
    // A busy shared window keeps the output changing while the share window shows it.
    const auto framesOut = [&] { return app->statistics()["framesOut"].toInteger(-1); };
    waitUntil([] { return false; }, 1000);
    const qint64 before = framesOut();
    EXPECT_TRUE(waitUntil([&] { return framesOut() >= before + 10; }, 5000)) << "output frames stopped at " << before;
    ASSERT_TRUE(app->triggerMenuItem(SHOW_SHARE_WINDOW)); // parked again

    ASSERT_EQ(::kill(static_cast<pid_t>(term), SIGKILL), 0);
    desktop.stopClient(term);
    EXPECT_TRUE(outputShows(termFrame, RED, false)) << app->output().toStdString();
    EXPECT_TRUE(waitUntil([&] { return sharedCount() == 0; }, 5000));

    // The stream may have seen the window go before the tick removed it: one line at most.
    const QString log = app->output();
    EXPECT_LE(log.count(QRegularExpression("^error stream", QRegularExpression::MultilineOption)), 1)
        << log.toStdString();
    EXPECT_FALSE(log.contains("error starting stream")) << log.toStdString();

    // Still running and still sharing: a new window comes into the output live.
    const qint64 logo = desktop.startClient("xlogo", {"-geometry", "400x300+900+300", "-bg", "yellow", "-fg", "black"});
    ASSERT_GT(logo, 0);
    const std::optional<quint32> logoWindow = desktop.waitForWindow("xlogo");
    ASSERT_TRUE(logoWindow.has_value());
    const QRect logoFrame = desktop.frameOf(*logoWindow);
    pressShortcutOver(logoFrame.center());
    EXPECT_TRUE(outputShows(logoFrame, YELLOW, true)) << app->output().toStdString();
    EXPECT_EQ(sharedCount(), 1);
}
