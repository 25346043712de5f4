// A shared window whose client is killed while its capture stream reads it, in capture
// mode: Vistrale on a virtual desktop, a busy xterm shared with the real shortcut and
// killed with SIGKILL, the output picture read back over the session bus.
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QRegularExpression>
#include <csignal>
#include <gtest/gtest.h>

using namespace vistrale::test;

namespace {

class KilledSharedWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
        app = std::make_unique<VistraleProcess>(desktop);
        app->writeSettings({"already-shown=true", "soundoff=true", "image-mode=false"});
        ASSERT_TRUE(app->start(&error)) << error.toStdString();
        ASSERT_TRUE(app->waitForLine("USE_SCREENCAPTUREKIT=true", 5000)) << app->output().toStdString();
    }
    void TearDown() override { app.reset(); }

    void pressShortcutOver(QPoint point)
    {
        desktop.run("xdotool", {"mousemove", QString::number(point.x()), QString::number(point.y())});
        desktop.run("xdotool", {"key", "super+F1"});
    }

    // Share of pixels of this colour in a rectangle of the output picture, title bar
    // and edges left out.
    static double share(const QImage& picture, const QRect& rect, QRgb colour)
    {
        int matching = 0, all = 0;
        for (int y = rect.top() + 40; y < rect.bottom() - 10; y += 5)
            for (int x = rect.left() + 10; x < rect.right() - 10; x += 5) {
                const QColor c = picture.pixelColor(x, y);
                ++all;
                matching += std::abs(c.red() - qRed(colour)) < 50 && std::abs(c.green() - qGreen(colour)) < 50
                    && std::abs(c.blue() - qBlue(colour)) < 50;
            }
        return all ? double(matching) / all : 0;
    }

    bool outputShows(const QRect& rect, QRgb colour, bool present)
    {
        return waitUntil(
            [&] {
                const QImage picture = app->outputPicture();
                if (picture.isNull())
                    return false;
                const double seen = share(picture, rect, colour);
                return present ? seen >= 0.5 : seen < 0.02;
            },
            8000);
    }

    int sharedCount() { return app->statistics()["shared"].toInt(-1); }

    VirtualDesktop desktop;
    std::unique_ptr<VistraleProcess> app;
};

const QRgb RED = qRgb(255, 0, 0);
const QRgb YELLOW = qRgb(255, 255, 0);

} // namespace

TEST_F(KilledSharedWindow, LeavesTheOutputAndVistraleGoesOnSharing)
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

TEST_F(KilledSharedWindow, ShowingTheShareWindowKeepsTheOutputGoing)
{
    const qint64 term = desktop.startClient("xterm",
        {"-title", "busy", "-geometry", "60x20+200+200", "-bg", "red", "-fg", "red", "-e", "od", "/dev/urandom"});
    ASSERT_GT(term, 0);
    const std::optional<quint32> termWindow = desktop.waitForWindow("busy");
    ASSERT_TRUE(termWindow.has_value());
    pressShortcutOver(desktop.frameOf(*termWindow).center());
    ASSERT_TRUE(waitUntil([&] { return sharedCount() == 1; }, 8000)) << app->output().toStdString();

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
}
