#include "overlays/pointer_geometry.h"

#include <gtest/gtest.h>

using namespace vistrale;

TEST(PointerGeometry, MapsThePointerFromTheWindowOrItsRegionOntoTheView)
{
    struct Case {
        const char* what;
        QPointF mouse;
        QRectF source;
        QRectF view;
        QPointF expected;
    } cases[] = {
        {"same size", {300, 350}, {100, 200, 400, 300}, {100, 200, 400, 300}, {300, 350}},
        {"half size, moved", {300, 350}, {100, 200, 400, 300}, {50, 60, 200, 150}, {150, 135}},
        // A region box 100 × 50 at (20, 30) inside the window at (100, 200), filling a
        // 400 × 200 view: the box's centre is the view's centre.
        {"region box", {170, 255}, QRectF(20, 30, 100, 50).translated(100, 200), {0, 0, 400, 200}, {200, 100}},
        {"outside the source", {90, 200}, {100, 200, 400, 300}, {0, 0, 800, 600}, {-20, 0}},
    };
    for (const Case& c : cases) {
        const std::optional<QPointF> point = pointInOutput(c.mouse, c.source, c.view);
        ASSERT_TRUE(point) << c.what;
        EXPECT_DOUBLE_EQ(point->x(), c.expected.x()) << c.what;
        EXPECT_DOUBLE_EQ(point->y(), c.expected.y()) << c.what;
    }
    EXPECT_FALSE(pointInOutput({1, 1}, QRectF(0, 0, 0, 10), {0, 0, 100, 100}));
}

TEST(PointerGeometry, TheMagnifierShowsATenthOfTheWindowAroundThePointerCountedFromThePictureTop)
{
    const QRectF frame(100, 200, 400, 300);
    struct Case {
        QPointF pointer;
        QRectF expected;
    } cases[] = {
        {{300, 350}, {0.45, 0.45, 0.1, 0.1}},
        // Near the window's bottom-left corner: the picture's last rows.
        {{140, 230}, {0.05, 0.85, 0.1, 0.1}},
    };
    for (const Case& c : cases) {
        const std::optional<QRectF> rect = magnifierContentsRect(frame, c.pointer);
        ASSERT_TRUE(rect);
        EXPECT_NEAR(rect->x(), c.expected.x(), 1e-9);
        EXPECT_NEAR(rect->y(), c.expected.y(), 1e-9);
        EXPECT_NEAR(rect->width(), 0.1, 1e-9);
        EXPECT_NEAR(rect->height(), 0.1, 1e-9);
    }
    EXPECT_FALSE(magnifierContentsRect(frame, {99, 350}));
    EXPECT_FALSE(magnifierContentsRect(QRectF(), {0, 0}));
}

TEST(PointerGeometry, ThePointerImageSitsWithItsHotSpotAtTheViewCentre)
{
    struct Case {
        QPointF hotSpot;
        QSize image;
        double scale;
        QRectF expected;
    } cases[] = {
        {{0, 0}, {16, 16}, 1.0, {32, 16, 16, 16}},
        {{4, 4}, {16, 16}, 2.0, {24, 8, 32, 32}},
        {{12, 12}, {24, 24}, 0.8, {32 - 9.6, 32 + 9.6 - 19.2, 19.2, 19.2}},
    };
    for (const Case& c : cases) {
        const QRectF frame = pointerImageFrame({64, 64}, c.hotSpot, c.image, c.scale);
        EXPECT_NEAR(frame.x(), c.expected.x(), 1e-9);
        EXPECT_NEAR(frame.y(), c.expected.y(), 1e-9);
        EXPECT_NEAR(frame.width(), c.expected.width(), 1e-9);
        EXPECT_NEAR(frame.height(), c.expected.height(), 1e-9);
        // The hot spot, counted from the image's top left, lands on the centre.
        EXPECT_NEAR(frame.x() + c.hotSpot.x() * c.scale, 32, 1e-9);
        EXPECT_NEAR(frame.y() + frame.height() - c.hotSpot.y() * c.scale, 32, 1e-9);
    }
}

TEST(PointerGeometry, RefusesEmptyHugeAndInconsistentPointerImages)
{
    EXPECT_TRUE(acceptablePointerImage({24, 24}, {0, 0}));
    EXPECT_TRUE(acceptablePointerImage({256, 256}, {128, 128}));
    EXPECT_FALSE(acceptablePointerImage({0, 0}, {0, 0}));
    EXPECT_FALSE(acceptablePointerImage({257, 16}, {0, 0}));
    EXPECT_FALSE(acceptablePointerImage({4096, 4096}, {0, 0}));
    EXPECT_FALSE(acceptablePointerImage({24, 24}, {30, 2}));
    EXPECT_FALSE(acceptablePointerImage({24, 24}, {-1, 2}));
}

TEST(RegionBox, KeepsBoxesOfAtLeast72By40AsDrawnAndClipsTheDragToTheOverlay)
{
    EXPECT_TRUE(regionBoxLargeEnough({10, 10, 72, 40}));
    EXPECT_FALSE(regionBoxLargeEnough({10, 10, 71.9, 40}));
    EXPECT_FALSE(regionBoxLargeEnough({10, 10, 72, 39.9}));

    const QRectF bounds(0, 0, 408, 308);
    // Dragged up-left: the same box as dragged down-right.
    EXPECT_EQ(regionBoxFor({200, 150}, {100, 50}, bounds), QRectF(100, 50, 100, 100));
    // A drag that ends outside the overlay stops at its edge, half a point inside.
    EXPECT_EQ(regionBoxFor({300, 200}, {900, -40}, bounds), QRectF(300, 0.5, 107.5, 199.5));
    // A click draws nothing.
    EXPECT_FALSE(regionBoxLargeEnough(regionBoxFor({50, 50}, {50, 50}, bounds)));
    // The box drawn on the overlay (4 points outside the window) in window points.
    EXPECT_EQ(regionCropFor({24, 34, 100, 50}, -4.0), QRectF(20, 30, 100, 50));
    EXPECT_EQ(regionCropFor({24, 34, 100, 50}, 0.0), QRectF(24, 34, 100, 50));
}
