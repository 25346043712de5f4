// The pointer overlay and region highlight through the fakes: the modifiers, buttons
// and the "mouseclicksoff" choice as the output and the desktop show them, the
// magnifier's feed, and region boxes that crop a window and narrow its hit area.
#include "app/settings/settings_keys.h"
#include "overlays/cursor_window_controller.h"
#include "overlays/highlight_window_controller.h"
#include "overlays/magnifier_view.h"
#include "overlays/my_cursor_image_view.h"
#include "preview/sk_image_view.h"
#include "tests/preview/controller_harness.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <thread>

using namespace vistrale;
using namespace vistrale::test;

namespace {

const QRectF LEFT(100, 200, 400, 300);
const QRectF RIGHT(700, 200, 300, 300);

QImage arrow(QColor colour = Qt::white)
{
    QImage image(16, 24, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

struct PointerHarness : CaptureHarness {
    PointerHarness()
    {
        fake.pointerKeys->cursor = CursorImage{arrow(), QPointF(1, 1)};
        share(makeWindow(WINDOW + 1, LEFT));
        share(makeWindow(WINDOW + 2, RIGHT));
        fake.clock->advance(0.5);
    }
    // Puts the pointer somewhere with these keys and buttons and lets one tick see it.
    void point(QPointF at, unsigned modifiers = 0, bool button = false)
    {
        fake.pointerKeys->location = at;
        fake.pointerKeys->modifiers = modifiers;
        fake.pointerKeys->buttonDown = button;
        fake.clock->advance(0.1);
    }
    MyCursorImageView& cursor() { return *vc->pointerView(); }
    bool discShown() { return cursor().backLayer->backgroundColor().alpha() > 0; }
    bool ringShown() { return cursor().backLayer->borderColor().alpha() > 0; }
    bool desktopRingShown() { return !vc->enhancedPointer()->alreadyHidden; }
    QPointF cursorCentre() { return cursor().layer()->frame().center(); }
};

} // namespace

TEST(PointerOverlay, FollowsThePointerOverSharedWindowsAndFadesWhenItLeaves)
{
    PointerHarness h;
    h.point({300, 350});
    EXPECT_FALSE(h.cursor().alreadyHidden);
    EXPECT_EQ(h.cursor().layer()->opacity(), 1.0);
    // One screen of the output's size: the output point is the screen point.
    EXPECT_EQ(h.cursorCentre(), QPointF(300, 350));
    EXPECT_EQ(h.vc->pointInOutput(WINDOW + 1), QPointF(300, 350));
    EXPECT_EQ(h.cursor().foreLayer->contents().cacheKey(), h.fake.pointerKeys->cursor.image.cacheKey());

    h.point({800, 300});
    EXPECT_EQ(h.vc->mouseOverSharedWindowId, WINDOW + 2);
    EXPECT_EQ(h.cursorCentre(), QPointF(800, 300));

    h.point({600, 700});
    EXPECT_TRUE(h.cursor().alreadyHidden);
    EXPECT_EQ(h.cursor().layer()->opacity(), 0.0);
    EXPECT_EQ(h.vc->pointInOutput(WINDOW + 99), QPointF(0, 0));
}

TEST(PointerOverlay, SuperShiftAltAndButtonsWithClicksShownAndHidden)
{
    struct Case {
        const char* what;
        unsigned modifiers;
        bool button;
        bool clicksOff;
        bool disc, clickRing, zoomed, desktopRing, bigDesktopRing, magnifier;
    } cases[] = {
        {"nothing held", 0, false, false, false, false, false, false, false, false},
        {"Super", CommandFlag, false, false, true, false, false, true, false, false},
        {"Super+Shift", CommandFlag | ShiftFlag, false, false, true, false, false, true, true, false},
        {"button", 0, true, false, false, true, true, false, false, false},
        {"Super+button", CommandFlag, true, false, true, true, true, true, false, false},
        {"Super+Alt", CommandFlag | OptionFlag, false, false, false, false, false, true, true, true},
        {"Super, clicks off", CommandFlag, false, true, false, false, false, false, false, false},
        {"button, clicks off", 0, true, true, false, false, false, false, false, false},
        {"Super+Alt, clicks off", CommandFlag | OptionFlag, false, true, false, false, false, false, false, true},
    };
    PointerHarness h;
    for (const Case& c : cases) {
        // Apart enough that two presses of Super make no double press.
        h.fake.clock->advance(0.6);
        h.vc->includeMouseClicks = !c.clicksOff;
        h.point({300, 350}, c.modifiers, c.button);
        EXPECT_EQ(h.discShown(), c.disc) << c.what;
        EXPECT_EQ(h.ringShown(), c.clickRing) << c.what;
        EXPECT_EQ(h.cursor().zoomed, c.zoomed) << c.what;
        EXPECT_EQ(h.desktopRingShown(), c.desktopRing) << c.what;
        if (c.desktopRing)
            EXPECT_EQ(h.vc->enhancedPointer()->window()->width(), c.bigDesktopRing ? 128 : 64) << c.what;
        EXPECT_EQ(h.vc->magnifier()->isVisible(), c.magnifier) << c.what;
        EXPECT_EQ(h.cursorCentre(), QPointF(300, 350)) << c.what;
    }
    // The ring on the desktop takes no clicks.
    const auto& through = h.fake.ownWindows->clickThrough;
    EXPECT_NE(std::find(through.begin(), through.end(), h.vc->enhancedPointer()->window()->winId()), through.end());
}

TEST(PointerOverlay, TheMagnifierShowsTheNewestFrameOfTheWindowUnderThePointerUntilAltIsReleased)
{
    PointerHarness h;
    auto left = h.streamOf(WINDOW + 1);
    auto right = h.streamOf(WINDOW + 2);
    ASSERT_TRUE(left && right);
    auto feed = [&](const std::shared_ptr<FakeCaptureService::Stream>& stream, QSize size, QColor colour) {
        const FrameRef frame = makeFrame(size, colour);
        std::thread capture([&] { stream->frames(frame); });
        capture.join();
        h.fake.clock->runPending();
        return frame;
    };
    feed(left, LEFT.size().toSize(), Qt::red);
    feed(right, RIGHT.size().toSize(), Qt::blue);

    h.point({300, 350}, CommandFlag | OptionFlag);
    EXPECT_EQ(h.vc->magnifierWindowId, WINDOW + 1);
    EXPECT_EQ(h.vc->magnifier()->layer()->frame(), QRectF(300 - 96, 350 - 96, 192, 192));
    EXPECT_NEAR(h.vc->magnifier()->layer()->contentsRect().x(), 0.45, 1e-9);
    EXPECT_EQ(h.vc->magnifier()->layer()->contents().pixelColor(0, 0), QColor(Qt::red));
    const FrameRef newer = feed(left, LEFT.size().toSize(), Qt::yellow);
    EXPECT_EQ(h.vc->magnifier()->layer()->contents().cacheKey(), newer->image.cacheKey());
    // The other window's frames do not reach it.
    feed(right, RIGHT.size().toSize(), Qt::green);
    EXPECT_EQ(h.vc->magnifier()->layer()->contents().pixelColor(0, 0), QColor(Qt::yellow));

    // Over the other window it switches at once to that window's picture.
    h.point({800, 300}, CommandFlag | OptionFlag);
    EXPECT_EQ(h.vc->magnifierWindowId, WINDOW + 2);
    EXPECT_EQ(h.vc->magnifier()->layer()->contents().pixelColor(0, 0), QColor(Qt::green));

    // Alt released: the disc is back and no stream feeds the hidden magnifier.
    h.point({800, 300}, CommandFlag);
    EXPECT_FALSE(h.vc->magnifier()->isVisible());
    EXPECT_TRUE(h.discShown());
    feed(right, RIGHT.size().toSize(), Qt::cyan);
    EXPECT_EQ(h.vc->magnifier()->layer()->contents().pixelColor(0, 0), QColor(Qt::green));
}

TEST(PointerOverlay, CostsNoQueryWhileNothingIsSharedAndOnePerTickOtherwise)
{
    CaptureHarness h;
    h.fake.pointerKeys->cursor = CursorImage{arrow(), QPointF(1, 1)};
    h.fake.clock->advance(1.0);
    EXPECT_EQ(h.fake.pointerKeys->pointerStateReads, 0);
    EXPECT_EQ(h.fake.pointerKeys->cursorImageReads, 0);

    h.share(makeWindow(WINDOW + 1, LEFT));
    h.fake.pointerKeys->location = {300, 350};
    h.fake.clock->advance(0.5);
    const int before = h.fake.pointerKeys->pointerStateReads;
    h.fake.clock->advance(1.0);
    EXPECT_EQ(h.fake.pointerKeys->pointerStateReads - before, 10);

    // A still pointer of the same shape leaves the output alone; moving it or a new
    // shape changes it.
    const quint64 still = h.vc->shareScene().snapshotCount();
    h.fake.clock->advance(0.5);
    EXPECT_EQ(h.vc->shareScene().snapshotCount(), still);
    h.fake.pointerKeys->location = {310, 350};
    h.fake.clock->advance(0.1);
    EXPECT_GT(h.vc->shareScene().snapshotCount(), still);
    const quint64 moved = h.vc->shareScene().snapshotCount();
    h.fake.pointerKeys->cursor = CursorImage{arrow(Qt::black), QPointF(1, 1)};
    h.fake.clock->advance(0.1);
    EXPECT_GT(h.vc->shareScene().snapshotCount(), moved);
}

TEST(PointerOverlay, OddPointerImagesKeepThePreviousOne)
{
    PointerHarness h;
    h.point({300, 350});
    const qint64 shown = h.cursor().foreLayer->contents().cacheKey();
    for (QSize size : {QSize(0, 0), QSize(257, 257), QSize(2000, 2000)}) {
        QImage odd;
        if (!size.isEmpty()) {
            odd = QImage(size, QImage::Format_ARGB32_Premultiplied);
            odd.fill(Qt::red);
        }
        h.fake.pointerKeys->cursor = CursorImage{odd, QPointF(0, 0)};
        h.point({310, 350});
        EXPECT_EQ(h.cursor().foreLayer->contents().cacheKey(), shown);
        EXPECT_FALSE(h.cursor().alreadyHidden);
    }
}

namespace {

// Two presses of Super 0.2 s apart, seen by the ticks.
void doublePressSuper(PointerHarness& h, QPointF at)
{
    h.point(at, CommandFlag);
    h.point(at);
    h.point(at, CommandFlag);
    h.point(at);
}

} // namespace

TEST(RegionHighlight, ADoublePressOfSuperDrawsABoxThatCropsTheWindowAndNarrowsItsHitArea)
{
    PointerHarness h;
    HighlightWindowController* highlight = h.vc->highlightView(WINDOW + 1);
    ASSERT_TRUE(highlight);
    doublePressSuper(h, {300, 350});
    ASSERT_TRUE(highlight->drawingRectangle);
    EXPECT_TRUE(h.vc->drawingRoi);
    EXPECT_TRUE(h.cursor().alreadyHidden);
    EXPECT_FALSE(h.vc->highlightView(WINDOW + 2)->drawingRectangle);

    // Drawn on the border window (4 points outside the window), dragged up-left.
    highlight->mouseDown({224, 134});
    highlight->mouseDragged({24, 34});
    highlight->mouseUp();
    EXPECT_FALSE(highlight->drawingRectangle);
    EXPECT_FALSE(h.vc->drawingRoi);
    ASSERT_EQ(highlight->regionCrop(), QRectF(20, 30, 200, 100));

    // Only the region is laid out, and the picture is cropped to it.
    h.fake.clock->advance(0.5);
    SKImageView* view = h.vc->imageView(WINDOW + 1);
    EXPECT_EQ(view->layer()->frame(), QRectF(120, 230, 200, 100));
    auto stream = h.streamOf(WINDOW + 1);
    stream->frames(makeFrame(LEFT.size().toSize(), Qt::red));
    h.fake.clock->runPending();
    const QRectF part = view->contentLayer->contentsRect();
    EXPECT_NEAR(part.x(), 20.0 / 400, 1e-9);
    EXPECT_NEAR(part.y(), (300.0 - 30 - 100) / 300, 1e-9);
    EXPECT_NEAR(part.width(), 0.5, 1e-9);

    // Inside the region the pointer shows; in the window outside it, it does not.
    h.point({170, 280});
    EXPECT_EQ(h.vc->mouseOverSharedWindowId, WINDOW + 1);
    EXPECT_EQ(h.cursorCentre(), QPointF(170, 280));
    h.point({450, 450});
    EXPECT_EQ(h.vc->mouseOverSharedWindowId, 0);
    EXPECT_TRUE(h.cursor().alreadyHidden);

    // A box exists: another double press changes nothing.
    doublePressSuper(h, {170, 280});
    EXPECT_FALSE(highlight->drawingRectangle);
    EXPECT_FALSE(h.vc->drawingRoi);
}

TEST(RegionHighlight, SmallBoxesASecondDoublePressAndBadNotificationsLeaveTheWindowWhole)
{
    PointerHarness h;
    HighlightWindowController* highlight = h.vc->highlightView(WINDOW + 1);
    doublePressSuper(h, {300, 350});
    ASSERT_TRUE(highlight->drawingRectangle);
    highlight->mouseDown({100, 100});
    highlight->mouseDragged({171, 139});
    highlight->mouseUp();
    EXPECT_FALSE(highlight->roiBox);
    // No "roi" came, yet the pointer is back on the next tick.
    h.point({300, 350});
    EXPECT_FALSE(h.vc->drawingRoi);
    EXPECT_FALSE(h.cursor().alreadyHidden);

    doublePressSuper(h, {300, 350});
    ASSERT_TRUE(highlight->drawingRectangle);
    doublePressSuper(h, {300, 350});
    EXPECT_FALSE(highlight->drawingRectangle);
    EXPECT_FALSE(h.vc->drawingRoi);

    for (const QVariantMap& info : {QVariantMap{{"n", WINDOW + 77}}, QVariantMap{{"n", "window"}}, QVariantMap{}})
        NotificationCenter::defaultCenter().post("roi", info);
    h.fake.clock->advance(0.5);
    EXPECT_EQ(h.vc->imageView(WINDOW + 1)->layer()->frame(), LEFT);
    EXPECT_FALSE(h.vc->imageView(WINDOW + 1)->cropped);
}

TEST(RegionHighlight, AWindowClosingWhileItsRegionIsDrawnOrMagnifiedLeavesNothingBehind)
{
    PointerHarness h;
    doublePressSuper(h, {300, 350});
    ASSERT_TRUE(h.vc->drawingRoi);
    h.fake.windowServer->windows.removeIf([](const Window& w) { return w.windowNumber == WINDOW + 1; });
    h.fake.clock->advance(1.0);
    EXPECT_FALSE(h.vc->isShared(WINDOW + 1));
    EXPECT_FALSE(h.vc->drawingRoi);

    h.point({800, 300}, CommandFlag | OptionFlag);
    ASSERT_TRUE(h.vc->magnifier()->isVisible());
    h.fake.windowServer->windows.removeIf([](const Window& w) { return w.windowNumber == WINDOW + 2; });
    h.fake.clock->advance(1.0);
    EXPECT_FALSE(h.vc->magnifier()->isVisible());
    EXPECT_TRUE(h.cursor().alreadyHidden);
    EXPECT_FALSE(h.desktopRingShown());
}

TEST(RegionHighlight, RecordingTurnsEveryBorderRedAndNewBordersFollow)
{
    PointerHarness h;
    h.vc->setRecordingLook(true);
    EXPECT_EQ(h.vc->highlightView(WINDOW + 1)->shownBorderColor(), HighlightWindowController::recordingBorderColor());
    h.share(makeWindow(WINDOW + 3, QRectF(1100, 600, 300, 200)));
    EXPECT_TRUE(h.vc->highlightView(WINDOW + 3)->isRecording);
    h.vc->setRecordingLook(false);
    EXPECT_EQ(h.vc->highlightView(WINDOW + 2)->shownBorderColor(), HighlightWindowController::normalBorderColor());
}
