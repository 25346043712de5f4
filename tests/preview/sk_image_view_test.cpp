#include "platform/fake/fake_clock.h"
#include "preview/compositor.h"
#include "preview/scene.h"
#include "preview/sk_image_view.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace vistrale;

namespace {

const QSize OUTPUT(1920, 1080);
const QColor RED(255, 0, 0), GREEN(0, 255, 0), BLUE(0, 0, 255), YELLOW(255, 255, 0), WHITE(255, 255, 255);

// A 200 × 100 picture (rows from the top, as window pictures come): red top left,
// green top right, blue bottom left, yellow bottom right.
QImage quadrants()
{
    QImage picture(200, 100, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&picture);
    painter.fillRect(0, 0, 100, 50, RED);
    painter.fillRect(100, 0, 100, 50, GREEN);
    painter.fillRect(0, 50, 100, 50, BLUE);
    painter.fillRect(100, 50, 100, 50, YELLOW);
    return picture;
}

QImage filled(QSize size, const QColor& colour)
{
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(colour);
    return picture;
}

::testing::AssertionResult near(const QColor& actual, const QColor& expected, int tolerance = 8)
{
    if (std::abs(actual.red() - expected.red()) <= tolerance && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.name().toStdString() << " is not " << expected.name().toStdString();
}

// A scene holding one view at (100, 100, 400 × 200), drawn by the real compositor.
// The view's rows on the drawn frame: 780 (top) to 980 (bottom).
class ImageViewScene : public ::testing::Test {
protected:
    void SetUp() override
    {
        scene.root().addChild(view.layer());
        view.layer()->setFrame(QRectF(100, 100, 400, 200));
    }

    QImage draw()
    {
        QImage target(OUTPUT, QImage::Format_ARGB32_Premultiplied);
        compositor.draw(*scene.snapshot(), target);
        return target;
    }

    FakeClock clock;
    Scene scene{clock, OUTPUT};
    Compositor compositor{clock};
    SKImageView view{1920, 1920};
};

QRectF grown(const QRectF& rect, double by)
{
    return rect.adjusted(-by, -by, by, by);
}

} // namespace

// --- Pictures and crops ---

TEST_F(ImageViewScene, ShowsTheCroppedPartCountedFromTheWindowsBottomLeft)
{
    // The bottom left quarter of the window, in the window's own coordinates. The
    // picture is shared, not copied.
    const QImage picture = quadrants();
    view.setPicture(picture, QRectF(0, 0, 100, 50));
    EXPECT_EQ(view.contentLayer->contents().cacheKey(), picture.cacheKey());
    EXPECT_EQ(scene.snapshot()->ops.at(1).contents.constBits(), picture.constBits());
    EXPECT_TRUE(view.cropped);
    EXPECT_EQ(view.contentLayer->contentsRect(), QRectF(0, 0.5, 0.5, 0.5));
    QImage frame = draw();
    for (QPoint p : {QPoint(150, 800), QPoint(300, 880), QPoint(450, 960)})
        EXPECT_TRUE(near(frame.pixelColor(p), BLUE)) << p.x() << "," << p.y();
}

TEST_F(ImageViewScene, KeepsTheFirstCropUntilAPictureComesWithoutOneThenShowsItWhole)
{
    view.setPicture(quadrants(), QRectF(100, 50, 100, 50));
    EXPECT_TRUE(near(draw().pixelColor(300, 880), GREEN));
    // Later crops do not move an already cropped view.
    view.setPicture(quadrants(), QRectF(0, 0, 100, 50));
    EXPECT_TRUE(near(draw().pixelColor(300, 880), GREEN));

    view.setPicture(quadrants());
    EXPECT_FALSE(view.cropped);
    EXPECT_EQ(view.contentLayer->contentsRect(), QRectF(0, 0, 1, 1));
    const QImage frame = draw();
    EXPECT_TRUE(near(frame.pixelColor(200, 830), RED));
    EXPECT_TRUE(near(frame.pixelColor(400, 830), GREEN));
    EXPECT_TRUE(near(frame.pixelColor(200, 930), BLUE));
    EXPECT_TRUE(near(frame.pixelColor(400, 930), YELLOW));
}

// --- Freezing ---

TEST_F(ImageViewScene, KeepsThePictureAndItsCropAfterFreezing)
{
    const QImage picture = quadrants();
    view.setPicture(picture, QRectF(100, 0, 100, 50));
    view.freeze();
    EXPECT_TRUE(view.contentLayer->isHidden());
    EXPECT_EQ(view.layer()->contents().cacheKey(), picture.cacheKey());
    EXPECT_EQ(view.layer()->contentsRect(), QRectF(0.5, 0.5, 0.5, 0.5));
    // Only the view's own layer draws the picture now: the bottom right quarter.
    const DrawListRef list = scene.snapshot();
    int pictures = 0;
    for (const DrawOp& op : list->ops)
        pictures += op.contents.isNull() ? 0 : 1;
    EXPECT_EQ(pictures, 1);
    EXPECT_TRUE(near(draw().pixelColor(300, 880), YELLOW));
    // Pictures arriving later no longer show.
    view.setPicture(filled(QSize(200, 100), WHITE));
    EXPECT_TRUE(near(draw().pixelColor(300, 880), YELLOW));
}

// --- Looks ---

TEST_F(ImageViewScene, RoundsTheCornersScalesTheBorderWithTheOutputAndStrengthensTheActiveShadow)
{
    EXPECT_DOUBLE_EQ(view.borderWidth, 4);
    EXPECT_DOUBLE_EQ(view.contentLayer->cornerRadius(), 11);
    EXPECT_DOUBLE_EQ(view.borderLayer->cornerRadius(), 15);
    EXPECT_EQ(view.contentLayer->frame(), QRectF(0, 0, 400, 200));
    EXPECT_EQ(view.borderLayer->frame(), QRectF(-3, -3, 406, 206));
    EXPECT_EQ(view.layer()->shadow(), (LayerShadow{QColor(0, 0, 0, 85), QPointF(0, 0), 2.0}));

    // A 3840-point screen in a 1920-point output halves them.
    SKImageView half(1920, 3840);
    EXPECT_DOUBLE_EQ(half.borderWidth, 2);
    EXPECT_DOUBLE_EQ(half.contentLayer->cornerRadius(), 5.5);
    EXPECT_DOUBLE_EQ(half.borderLayer->cornerRadius(), 7.5);
    half.layer()->setFrame(QRectF(0, 0, 100, 50));
    EXPECT_EQ(half.borderLayer->frame(), QRectF(-1, -1, 102, 52));

    // The active window's shadow is stronger; a look set meanwhile stays while the
    // state does not change.
    view.setActive(true);
    EXPECT_TRUE(view.isActiveWindow);
    EXPECT_DOUBLE_EQ(view.layer()->shadow()->blurRadius, 8.0);
    EXPECT_EQ(view.layer()->shadow()->color, QColor(0, 0, 0, 85));
    view.setActive(false);
    EXPECT_DOUBLE_EQ(view.layer()->shadow()->blurRadius, 2.0);
    view.fullFrameLook();
    view.setActive(false);
    EXPECT_FALSE(view.layer()->shadow());
}

TEST_F(ImageViewScene, SquaresTheCornersOnBlackForTheFullFrameLook)
{
    auto backdrop = std::make_shared<SceneLayer>("backdrop");
    backdrop->setFrame(QRectF(0, 0, 1920, 1080));
    backdrop->setBackgroundColor(WHITE);
    backdrop->setTag(-1);
    scene.root().addChild(backdrop);
    // A square picture in a 2 : 1 view leaves room at the sides.
    view.setPicture(filled(QSize(100, 100), RED));
    QImage frame = draw();
    EXPECT_TRUE(near(frame.pixelColor(300, 880), RED));
    // The sides show what lies behind (under the light shadow).
    const QColor side = frame.pixelColor(120, 880);
    EXPECT_GT(side.red(), 150);
    EXPECT_GT(side.green(), 150);

    view.fullFrameLook();
    EXPECT_FALSE(view.layer()->shadow());
    EXPECT_EQ(view.layer()->cornerRadius(), 0);
    EXPECT_EQ(view.contentLayer->cornerRadius(), 0);
    EXPECT_EQ(view.borderLayer->borderWidth(), 0);
    frame = draw();
    EXPECT_TRUE(near(frame.pixelColor(120, 880), QColor(Qt::black)));
    EXPECT_TRUE(near(frame.pixelColor(101, 781), QColor(Qt::black))) << "square corner";
    EXPECT_TRUE(near(frame.pixelColor(300, 880), RED));
    // A border colour chosen now stays invisible.
    view.nextBorderColor();
    EXPECT_TRUE(near(draw().pixelColor(98, 880), WHITE));
}

TEST_F(ImageViewScene, CyclesTheBorderColourAndDrawsItJustOutsideThePicture)
{
    view.setPicture(filled(QSize(200, 100), RED));
    EXPECT_EQ(view.borderColor.alpha(), 0);
    const QList<QColor> expected = {QColor(Qt::yellow), QColor::fromRgbF(0.3f, 0.3f, 1.0f),
        QColor::fromRgbF(0.3f, 1.0f, 0.3f), QColor::fromRgbF(1.0f, 0.3f, 0.3f)};
    for (int i = 0; i < expected.size(); ++i) {
        const QColor colour = view.nextBorderColor();
        EXPECT_EQ(colour, expected[i]);
        EXPECT_EQ(colour.alpha(), 255);
        EXPECT_EQ(view.borderIndex, i + 1);
        EXPECT_EQ(view.borderLayer->borderColor(), expected[i]);
        EXPECT_EQ(view.borderColor, expected[i]);
        // Two points left of the picture's left edge, halfway up.
        EXPECT_TRUE(near(draw().pixelColor(98, 880), expected[i])) << i;
    }
    EXPECT_EQ(view.nextBorderColor().alpha(), 0);
    EXPECT_EQ(view.borderIndex, 0);
    EXPECT_EQ(view.borderLayer->borderColor().alpha(), 0);
    EXPECT_FALSE(near(draw().pixelColor(98, 880), expected.last()));
}

// --- Following the frame ---

TEST_F(ImageViewScene, ContentAndBorderFollowTheFrameWhileItAnimates)
{
    view.setPicture(filled(QSize(200, 100), RED));
    view.nextBorderColor();
    scene.animate(view.layer(), QRectF(500, 300, 800, 400), std::nullopt, 1.0, AnimationTiming::Linear);
    clock.advance(0.5);
    const DrawListRef list = scene.snapshot();
    ASSERT_EQ(list->ops.size(), 3u);
    const QRectF halfway(300, 200, 600, 300);
    EXPECT_EQ(list->ops[0].rect, halfway);
    EXPECT_TRUE(list->ops[0].shadow);
    EXPECT_EQ(list->ops[1].rect, halfway);
    EXPECT_FALSE(list->ops[1].contents.isNull());
    EXPECT_EQ(list->ops[2].rect, grown(halfway, 3));
    EXPECT_GT(list->ops[2].borderWidth, 0);

    // The picture fills the moving frame: red at what is now its bottom right.
    QImage target(OUTPUT, QImage::Format_ARGB32_Premultiplied);
    compositor.draw(*list, target);
    EXPECT_TRUE(near(target.pixelColor(880, 860), RED));

    clock.advance(0.6);
    const DrawListRef end = scene.snapshot();
    EXPECT_EQ(end->ops[1].rect, QRectF(500, 300, 800, 400));
    EXPECT_EQ(end->ops[2].rect, grown(QRectF(500, 300, 800, 400), 3));
    EXPECT_EQ(view.contentLayer->frame(), QRectF(0, 0, 800, 400));

    // And a frame set directly.
    view.layer()->setFrame(QRectF(10, 20, 300, 150));
    const DrawListRef direct = scene.snapshot();
    EXPECT_EQ(direct->ops[1].rect, QRectF(10, 20, 300, 150));
    EXPECT_EQ(direct->ops[2].rect, QRectF(7, 17, 306, 156));
}
