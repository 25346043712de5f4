// Picking windows with the real shortcut on a virtual desktop: Vistrale, xlogo and
// openbox on Xvfb, the pointer and keys moved and pressed with xdotool, and the output
// picture read back over the session bus.
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace vistrale::test;

namespace {

// Both ways of getting the windows' pictures: live capture streams and imaging on
// every tick.
class PickingOnDesktop : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
        app = std::make_unique<VistraleProcess>(desktop);
        const bool imageMode = GetParam();
        app->writeSettings({"already-shown=true", imageMode ? "image-mode=true" : "image-mode=false"});
        ASSERT_TRUE(app->start(&error)) << error.toStdString();
        logo = desktop.startClient("xlogo", {"-geometry", "400x300+300+200", "-bg", "red", "-fg", "yellow"});
        ASSERT_GT(logo, 0);
        std::optional<quint32> id = desktop.waitForWindow("xlogo");
        ASSERT_TRUE(id.has_value());
        logoWindow = *id;
        ASSERT_TRUE(app->waitForLine(imageMode ? "USE_SCREENCAPTUREKIT=false" : "USE_SCREENCAPTUREKIT=true", 5000))
            << app->output().toStdString();
    }
    void TearDown() override { app.reset(); }

    void pressShortcutOver(QPoint point)
    {
        desktop.run("xdotool", {"mousemove", QString::number(point.x()), QString::number(point.y())});
        desktop.run("xdotool", {"key", "super+F1"});
    }

    // Share of red pixels of the output picture inside a rectangle (top-left origin).
    double redShare(const QImage& picture, const QRect& rect)
    {
        int red = 0, all = 0;
        for (int y = rect.top() + 40; y < rect.bottom() - 10; y += 5)
            for (int x = rect.left() + 10; x < rect.right() - 10; x += 5) {
                const QColor c = picture.pixelColor(x, y);
                ++all;
                if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                    ++red;
            }
        return all ? double(red) / all : 0;
    }

    bool outputShowsRedAt(const QRect& rect, double atLeast)
    {
        return waitUntil(
            [&] {
                const QImage picture = app->outputPicture();
                return !picture.isNull() && redShare(picture, rect) >= atLeast;
            },
            8000);
    }
    bool outputShowsNoRedAt(const QRect& rect)
    {
        return waitUntil(
            [&] {
                const QImage picture = app->outputPicture();
                return !picture.isNull() && redShare(picture, rect) < 0.02;
            },
            8000);
    }

    VirtualDesktop desktop;
    std::unique_ptr<VistraleProcess> app;
    qint64 logo = -1;
    quint32 logoWindow = 0;
};

} // namespace

TEST_P(PickingOnDesktop, TheShortcutAddsTheWindowWhereItStandsAndAgainRemovesIt)
{
    const QRect frame = desktop.frameOf(logoWindow);
    EXPECT_TRUE(outputShowsNoRedAt(frame));
    pressShortcutOver(frame.center());
    // One screen of the output's size: the window's output rectangle is its frame.
    EXPECT_TRUE(outputShowsRedAt(frame, 0.5)) << app->output().toStdString();

    // Once the removal animation has run, the backdrop is back.
    desktop.run("xdotool", {"sleep", "0.7"});
    pressShortcutOver(frame.center());
    EXPECT_TRUE(outputShowsNoRedAt(frame));
}

TEST_P(PickingOnDesktop, TheOutputFollowsTheWindowWhenItMovesAndResizes)
{
    const QRect frame = desktop.frameOf(logoWindow);
    pressShortcutOver(frame.center());
    ASSERT_TRUE(outputShowsRedAt(frame, 0.5));

    desktop.run("xdotool", {"windowmove", QString::number(logoWindow), "1100", "500"});
    desktop.run("xdotool", {"windowsize", QString::number(logoWindow), "500", "360"});
    QRect moved;
    ASSERT_TRUE(waitUntil([&] { return (moved = desktop.frameOf(logoWindow)).width() > 450; }, 5000));
    EXPECT_TRUE(outputShowsRedAt(moved, 0.5));
    EXPECT_TRUE(outputShowsNoRedAt(frame.intersected(QRect(0, 0, 1000, 1080))));
}

TEST_P(PickingOnDesktop, ClosingTheWindowTakesItOutOfTheOutput)
{
    const QRect frame = desktop.frameOf(logoWindow);
    pressShortcutOver(frame.center());
    ASSERT_TRUE(outputShowsRedAt(frame, 0.5));
    desktop.stopClient(logo);
    EXPECT_TRUE(outputShowsNoRedAt(frame));
}

TEST_P(PickingOnDesktop, TheCopyHotKeyPutsTheOutputPictureOnTheClipboard)
{
    const QRect frame = desktop.frameOf(logoWindow);
    pressShortcutOver(frame.center());
    ASSERT_TRUE(outputShowsRedAt(frame, 0.5));
    desktop.run("xdotool", {"key", "ctrl+shift+super+6"});
    QImage shot;
    ASSERT_TRUE(waitUntil(
        [&] {
            // Read the way another application pastes it: the PNG bytes from xclip.
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
    EXPECT_GE(redShare(shot, frame), 0.5);
}

INSTANTIATE_TEST_SUITE_P(Modes, PickingOnDesktop, ::testing::Values(false, true),
    [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "ImageMode" : "CaptureMode"; });
