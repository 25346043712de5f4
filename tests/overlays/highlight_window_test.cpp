#include "overlays/highlight_window_controller.h"
#include "platform/fake/fake_desktop.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <gtest/gtest.h>

using namespace vistrale;

namespace {

constexpr qint64 WINDOW = 0x2a00007;

// The main screen's bottom edge in Qt's top-left coordinates.
int mainScreenBottom()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return screen.y() + screen.height();
}

QColor withAlpha(QColor color, float alpha)
{
    color.setAlphaF(alpha);
    return color;
}

::testing::AssertionResult near(const QColor& actual, const QColor& expected, int tolerance = 3)
{
    if (std::abs(actual.red() - expected.red()) <= tolerance && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance
        && std::abs(actual.alpha() - expected.alpha()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.name(QColor::HexArgb).toStdString() << " is not "
                                         << expected.name(QColor::HexArgb).toStdString();
}

class HighlightWindow : public ::testing::Test {
protected:
    QImage painted(const HighlightWindowController& controller)
    {
        return controller.window()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    }

    FakeOwnWindows own;
    const QColor blue = withAlpha(QColor(0, 122, 255), 0.8f);
    const QColor red = withAlpha(QColor(255, 59, 48), 0.8f);
};

} // namespace

// --- Before it is shown ---

TEST_F(HighlightWindow, StartsHiddenTransparentAndClickThrough)
{
    HighlightWindowController controller(own, WINDOW, true, false);
    EXPECT_TRUE(controller.hidden);
    EXPECT_FALSE(controller.isRecording);
    EXPECT_FALSE(controller.currentBorderColor);
    ASSERT_TRUE(controller.window());
    EXPECT_FALSE(controller.window()->isVisible());
    EXPECT_EQ(controller.window()->windowOpacity(), 0.0);
    EXPECT_TRUE(controller.window()->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(controller.window()->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(controller.window()->testAttribute(Qt::WA_TranslucentBackground));
    ASSERT_NE(controller.nativeId(), 0u);
    EXPECT_NE(
        std::find(own.clickThrough.begin(), own.clickThrough.end(), controller.nativeId()), own.clickThrough.end());
    EXPECT_TRUE(own.orderedAbove.empty());
}

// --- Framing the shared window ---

TEST_F(HighlightWindow, FramesTheWindowFourPointsOutsideAndStacksAboveItOnEveryFit)
{
    HighlightWindowController controller(own, WINDOW, false, false);
    // 300 × 200 whose bottom edge is 100 points above the main screen's bottom.
    const QRectF frame(50, 100, 300, 200);
    controller.fitToWindow(frame);
    EXPECT_FALSE(controller.hidden);
    EXPECT_EQ(controller.window()->geometry(), QRect(46, mainScreenBottom() - 300 - 4, 308, 208));
    EXPECT_TRUE(controller.window()->isVisible());
    EXPECT_EQ(controller.window()->windowOpacity(), 1.0);
    EXPECT_EQ(own.orderedAbove.at(controller.nativeId()), WINDOW);

    own.orderedAbove.clear();
    // Something else moved the border; an unchanged frame leaves the geometry alone.
    controller.window()->setGeometry(QRect(0, 0, 100, 100));
    controller.fitToWindow(frame);
    EXPECT_EQ(own.orderedAbove.at(controller.nativeId()), WINDOW);
    EXPECT_EQ(controller.window()->geometry(), QRect(0, 0, 100, 100));

    const QRectF moved(60, 120, 320, 240);
    controller.fitToWindow(moved);
    EXPECT_EQ(controller.existingFrame, moved);
    EXPECT_EQ(controller.window()->geometry(), QRect(56, mainScreenBottom() - 360 - 4, 328, 248));
}

TEST_F(HighlightWindow, FramesTheEntireScreenExactlyWithSquareCorners)
{
    HighlightWindowController controller(own, WINDOW, false, true);
    EXPECT_EQ(controller.frameOffset, 0.0);
    const QRectF frame(0, 0, 400, 300);
    controller.fitToWindow(frame);
    EXPECT_EQ(controller.window()->geometry(), QRect(0, mainScreenBottom() - 300, 400, 300));
    const QImage image = painted(controller);
    EXPECT_TRUE(near(image.pixelColor(1, 1), blue)) << "square corner";
}

// --- What it paints ---

TEST_F(HighlightWindow, PaintsAFourPointRoundedBorderAndNothingInside)
{
    HighlightWindowController controller(own, WINDOW, false, false);
    controller.fitToWindow(QRectF(50, 100, 300, 200));
    const QImage image = painted(controller);
    ASSERT_EQ(image.size(), QSize(308, 208));
    EXPECT_TRUE(near(image.pixelColor(1, 104), blue));
    EXPECT_TRUE(near(image.pixelColor(154, 2), blue));
    EXPECT_TRUE(near(image.pixelColor(306, 104), blue));
    EXPECT_EQ(image.pixelColor(6, 104).alpha(), 0) << "the border is 4 points wide";
    EXPECT_EQ(image.pixelColor(154, 104).alpha(), 0);
    EXPECT_EQ(image.pixelColor(1, 1).alpha(), 0) << "rounded corner";
    // The window's shape is the ring alone.
    const QRegion shape = controller.window()->mask();
    EXPECT_TRUE(shape.contains(QPoint(1, 104)));
    EXPECT_FALSE(shape.contains(QPoint(154, 104)));
}

// --- Colours ---

TEST_F(HighlightWindow, TurnsRedWhileRecordingAndBackToTheChosenColourOrBlueAfterwards)
{
    HighlightWindowController controller(own, WINDOW, false, false);
    controller.fitToWindow(QRectF(50, 100, 300, 200));
    EXPECT_EQ(controller.shownBorderColor(), blue);
    controller.setRecording(true);
    EXPECT_TRUE(controller.isRecording);
    EXPECT_EQ(controller.shownBorderColor(), red);
    EXPECT_TRUE(near(painted(controller).pixelColor(1, 104), red));
    const QColor green(0, 200, 0);
    controller.setBorderColor(green);
    EXPECT_EQ(controller.shownBorderColor(), red) << "recording stays red";
    controller.setRecording(false);
    EXPECT_EQ(controller.shownBorderColor(), green);
    // A clear colour stands for the normal blue.
    controller.setBorderColor(Qt::transparent);
    EXPECT_EQ(controller.currentBorderColor, blue);
    EXPECT_EQ(controller.shownBorderColor(), blue);
}

// --- Closing ---

TEST_F(HighlightWindow, DestroysTheWindowOnClose)
{
    HighlightWindowController controller(own, WINDOW, false, false);
    controller.fitToWindow(QRectF(50, 100, 300, 200));
    QPointer<QWidget> window = controller.window();
    controller.close();
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_EQ(controller.nativeId(), 0u);
    own.orderedAbove.clear();
    controller.fitToWindow(QRectF(0, 0, 10, 10));
    controller.setRecording(true);
    EXPECT_TRUE(own.orderedAbove.empty());
}
