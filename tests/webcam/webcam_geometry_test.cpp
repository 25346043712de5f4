#include "webcam/webcam_geometry.h"

#include <gtest/gtest.h>

using namespace vistrale;

TEST(WebcamGeometry, FrameSizesFollowTheStepsAndTheShape)
{
    const struct {
        double cameraSize;
        CameraShape shape;
        QSizeF frame;
    } cases[] = {
        {0, CameraShape::normal, {960, 540}},
        {1, CameraShape::normal, {640, 360}},
        {2, CameraShape::round, {480, 270}},
        {0, CameraShape::portrait, {540, 720}},
        {1, CameraShape::portrait, {360, 480}},
        {2, CameraShape::portrait, {270, 360}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(webcamFrameSize(c.shape, 1080 / (MIN_RATIO + c.cameraSize)), c.frame) << c.cameraSize;
}

TEST(WebcamGeometry, SquareAndCircleShowACentredSquareAndKeepTheMargin)
{
    const QSizeF frame(640, 360);
    EXPECT_EQ(visibleShapeRect(CameraShape::square, frame, false), QRectF(140, 0, 360, 360));
    EXPECT_EQ(visibleShapeRect(CameraShape::round, frame, false), QRectF(140, 0, 360, 360));
    EXPECT_EQ(visibleShapeRect(CameraShape::normal, frame, false), QRectF(0, 0, 640, 360));
    EXPECT_EQ(visibleShapeRect(CameraShape::round, frame, true), QRectF(0, 0, 640, 360));

    EXPECT_EQ(defaultWebcamOrigin(CameraShape::normal, {960, 540}, 1920), QPointF(951, 9));
    EXPECT_EQ(defaultWebcamOrigin(CameraShape::square, frame, 1920), QPointF(1920 - 9 - 640 + 140, 9));
    EXPECT_EQ(defaultWebcamOrigin(CameraShape::portrait, {360, 480}, 1920), QPointF(1920 - 9 - 360, 9));
}

TEST(WebcamGeometry, SizeStepsClampAndWrap)
{
    EXPECT_EQ(sizeAfterSegment(0, 1), FULL_SIZE); // "+" at the largest step
    EXPECT_EQ(sizeAfterSegment(2, 0), 2.0); // "-" at the smallest stays
    EXPECT_EQ(sizeAfterSegment(FULL_SIZE, 0), 0.0);
    EXPECT_EQ(sizeAfterSegment(1, 1), 0.0);
    EXPECT_EQ(sizeAfterClick(0), 1.0);
    EXPECT_EQ(sizeAfterClick(2), FULL_SIZE);
    EXPECT_EQ(sizeAfterStep(0, true), FULL_SIZE);
    EXPECT_EQ(sizeAfterStep(2, false), 2.0);
    EXPECT_NEAR(sizeAfterStep(1, true), 0.8, 1e-9);
    // Steps of 0.2 land on 0, not a hair below it, which would mean full size.
    double size = 1.0;
    for (int i = 0; i < 5; ++i)
        size = sizeAfterStep(size, true);
    EXPECT_EQ(size, 0.0);
}

TEST(WebcamGeometry, PointsCountOnlyOnTheVisibleShape)
{
    const QRectF frame(1000, 100, 640, 360);
    // The frame's left corner: outside the centred square and the circle.
    const QPointF corner(1010, 110);
    EXPECT_TRUE(pointOnWebcam(CameraShape::normal, frame, corner));
    EXPECT_FALSE(pointOnWebcam(CameraShape::square, frame, corner));
    EXPECT_FALSE(pointOnWebcam(CameraShape::round, frame, corner));
    // The square's corner is off the circle.
    const QPointF squareCorner(1000 + 145, 105);
    EXPECT_TRUE(pointOnWebcam(CameraShape::square, frame, squareCorner));
    EXPECT_FALSE(pointOnWebcam(CameraShape::round, frame, squareCorner));
    EXPECT_TRUE(pointOnWebcam(CameraShape::round, frame, frame.center()));
    EXPECT_FALSE(pointOnWebcam(CameraShape::normal, frame, QPointF(999, 200)));

    // The resize zone is the shape's outer band: 45 points wide for a 360-point side.
    EXPECT_TRUE(pointOnResizeZone(CameraShape::round, frame, frame.center() + QPointF(140, 0)));
    EXPECT_FALSE(pointOnResizeZone(CameraShape::round, frame, frame.center() + QPointF(130, 0)));
    EXPECT_FALSE(pointOnResizeZone(CameraShape::round, frame, corner));
    EXPECT_TRUE(pointOnResizeZone(CameraShape::normal, frame, QPointF(1635, 280)));
    EXPECT_FALSE(pointOnResizeZone(CameraShape::normal, frame, QPointF(1300, 280)));
}

TEST(WebcamGeometry, AResizeDragFollowsThePointersDistanceInWheelSteps)
{
    // Twice as far from the centre: twice the height, ratio 3 becomes 1.5, clamped to 0.
    EXPECT_EQ(sizeAfterResize(1.0, 100, 200), 0.0);
    // Ratio 3 × 100 / 120 = 2.5: size 0.5, on the 0.2 grid 0.4 or 0.6.
    EXPECT_NEAR(sizeAfterResize(1.0, 100, 120), 0.6, 1e-9);
    EXPECT_EQ(sizeAfterResize(1.0, 100, 100), 1.0);
    EXPECT_EQ(sizeAfterResize(0.0, 100, 10), 2.0);
    EXPECT_EQ(sizeAfterResize(FULL_SIZE, 100, 200), FULL_SIZE);
    EXPECT_EQ(sizeAfterResize(1.0, 100, 0), 1.0);
}
