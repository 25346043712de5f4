#include "platform/fake/fake_clock.h"
#include "preview/compositor.h"

#include <QPainter>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

using namespace vistrale;
using namespace std::chrono_literals;

namespace {

const QSize OUTPUT(1920, 1080);

DrawOp filled(const QRectF& rect, const QColor& colour)
{
    DrawOp op;
    op.rect = rect;
    op.backgroundColor = colour;
    return op;
}

DrawOp pictured(const QRectF& rect, const QImage& picture)
{
    DrawOp op;
    op.rect = rect;
    op.contents = picture;
    return op;
}

DrawListRef listOf(std::vector<DrawOp> ops)
{
    auto list = std::make_shared<DrawList>();
    list->outputSize = OUTPUT;
    list->ops = std::move(ops);
    return list;
}

// A picture whose top half has one colour and whose bottom half another.
QImage twoTone(QSize size, const QColor& top, const QColor& bottom)
{
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&picture);
    painter.fillRect(0, 0, size.width(), size.height() / 2, top);
    painter.fillRect(0, size.height() / 2, size.width(), size.height() - size.height() / 2, bottom);
    return picture;
}

QColor at(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

// Pixels of an image (top-left origin) and the colours they must have.
struct Pixel {
    int x, y;
    QColor colour;
};

void expectPixels(const QImage& image, std::initializer_list<Pixel> pixels)
{
    for (const Pixel& p : pixels)
        EXPECT_EQ(at(image, p.x, p.y), p.colour) << "at " << p.x << ", " << p.y;
}

::testing::AssertionResult near(const QColor& actual, const QColor& expected, int tolerance = 2)
{
    if (std::abs(actual.red() - expected.red()) <= tolerance && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance
        && std::abs(actual.alpha() - expected.alpha()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.name(QColor::HexArgb).toStdString() << " is not "
                                         << expected.name(QColor::HexArgb).toStdString();
}

class CompositorDrawing : public ::testing::Test {
protected:
    QImage draw(const DrawListRef& list)
    {
        QImage target(OUTPUT, QImage::Format_ARGB32_Premultiplied);
        compositor.draw(*list, target);
        return target;
    }

    FakeClock clock;
    Compositor compositor{clock};
};

// Keeps the frames the compositor thread hands over.
class FrameSink {
public:
    void add(FrameRef frame)
    {
        std::lock_guard guard(lock);
        frames.push_back(std::move(frame));
        arrived.notify_all();
    }
    // The n-th frame (from 0) once it has arrived; null after ten seconds without it.
    FrameRef frame(size_t n)
    {
        std::unique_lock guard(lock);
        arrived.wait_for(guard, 10s, [&] { return frames.size() > n; });
        return frames.size() > n ? frames[n] : nullptr;
    }
    void clear()
    {
        std::lock_guard guard(lock);
        frames.clear();
    }

private:
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<FrameRef> frames;
};

} // namespace

TEST_F(CompositorDrawing, TurnsBottomLeftLayersIntoTheBottomRowsOfTheImage)
{
    const QImage image
        = draw(listOf({filled(QRectF(0, 0, 1920, 10), Qt::red), filled(QRectF(0, 1070, 10, 10), Qt::green)}));
    EXPECT_EQ(image.size(), OUTPUT);
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    expectPixels(image,
        {{960, 1079, Qt::red}, {960, 1070, Qt::red}, {960, 1069, Qt::black}, {0, 0, Qt::green}, {9, 9, Qt::green},
            {10, 9, Qt::black}, {9, 10, Qt::black}});
}

TEST_F(CompositorDrawing, DrawsPicturesUprightWhetherScaledOrNot)
{
    const QImage small = twoTone(QSize(20, 20), Qt::red, Qt::blue);
    const QImage exact = twoTone(QSize(200, 200), Qt::yellow, Qt::cyan);
    // Box rows in the image: 1080 - 100 - 200 = 780 to 979.
    const QImage image
        = draw(listOf({pictured(QRectF(100, 100, 200, 200), small), pictured(QRectF(400, 100, 200, 200), exact)}));
    expectPixels(image,
        {{200, 781, Qt::red}, {200, 860, Qt::red}, {200, 900, Qt::blue}, {200, 978, Qt::blue}, {200, 775, Qt::black},
            {500, 780, Qt::yellow}, {500, 979, Qt::cyan}, {500, 980, Qt::black}});
}

TEST_F(CompositorDrawing, BlendsLaterLayersOverEarlierOnesWithTheirOpacity)
{
    DrawOp veil = filled(QRectF(0, 0, 1920, 1080), Qt::white);
    veil.opacity = 0.5;
    DrawOp tinted = filled(QRectF(0, 0, 100, 100), QColor(0, 0, 255, 128));
    const QImage image = draw(listOf({filled(QRectF(0, 0, 1920, 1080), Qt::red), veil, tinted}));
    EXPECT_TRUE(near(at(image, 500, 500), QColor(255, 128, 128)));
    EXPECT_TRUE(near(at(image, 50, 1030), QColor(127, 64, 191)));
}

TEST_F(CompositorDrawing, ClipsRoundedPicturesAndDrawsTheBorderInside)
{
    // The box covers image columns 100 to 499 and rows 680 to 979.
    DrawOp window = pictured(QRectF(100, 100, 400, 300), twoTone(QSize(1280, 800), Qt::white, Qt::white));
    window.cornerRadius = 40;
    window.masksToBounds = true;
    window.borderWidth = 6;
    window.borderColor = Qt::green;
    DrawOp webcam = pictured(QRectF(1000, 100, 300, 300), twoTone(QSize(640, 480), Qt::yellow, Qt::yellow));
    webcam.mask = LayerMask::Ellipse;
    webcam.gravity = ContentsGravity::ResizeAspectFill;
    const QImage image = draw(listOf({window, webcam}));
    expectPixels(image,
        {{300, 830, Qt::white}, {102, 682, Qt::black}, {497, 977, Qt::black}, {300, 682, Qt::green},
            {102, 830, Qt::green}, {300, 977, Qt::green}, {99, 830, Qt::black}});

    expectPixels(
        image, {{1150, 830, Qt::yellow}, {1150, 685, Qt::yellow}, {1010, 690, Qt::black}, {1290, 970, Qt::black}});
}

TEST_F(CompositorDrawing, FitsOrFillsPicturesKeepingTheirShape)
{
    // A 4:1 picture in a square box: fitted it is a band in the middle, filled it is
    // cut to the box.
    const QImage band = twoTone(QSize(400, 100), Qt::magenta, Qt::magenta);
    DrawOp fitted = pictured(QRectF(0, 0, 200, 200), band);
    fitted.gravity = ContentsGravity::ResizeAspect;
    DrawOp filledBox = pictured(QRectF(600, 0, 200, 200), band);
    filledBox.gravity = ContentsGravity::ResizeAspectFill;
    // Box rows: 880 to 1079; the fitted band rows 955 to 1004.
    const QImage image = draw(listOf({fitted, filledBox}));
    expectPixels(image,
        {{100, 900, Qt::black}, {100, 980, Qt::magenta}, {100, 1060, Qt::black}, {700, 885, Qt::magenta},
            {601, 1075, Qt::magenta}, {590, 980, Qt::black}, {810, 980, Qt::black}});
}

TEST(CompositorThread, DrawsOnlyTheNewestSnapshotWaiting)
{
    FakeClock clock;
    std::mutex lock;
    std::condition_variable changed;
    bool holding = true;
    std::vector<QColor> drawn;
    Compositor compositor(clock);
    // The first frame's consumer is slow; snapshots pile up meanwhile.
    compositor.setFrameHandler([&](FrameRef frame) {
        std::unique_lock guard(lock);
        drawn.push_back(frame->image.pixelColor(0, 0));
        changed.notify_all();
        changed.wait(guard, [&] { return !holding || drawn.size() > 1; });
    });
    auto waitForFrames = [&](size_t count) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 10s, [&] { return drawn.size() >= count; });
    };
    const auto whole = QRectF(0, 0, 1920, 1080);
    compositor.submit(listOf({filled(whole, Qt::red)}));
    ASSERT_TRUE(waitForFrames(1));
    for (const Qt::GlobalColor colour : {Qt::green, Qt::blue, Qt::white})
        compositor.submit(listOf({filled(whole, colour)}));
    {
        std::lock_guard guard(lock);
        holding = false;
        changed.notify_all();
    }
    ASSERT_TRUE(waitForFrames(2));
    compositor.submit(listOf({filled(whole, Qt::yellow)}));
    ASSERT_TRUE(waitForFrames(3));
    std::lock_guard guard(lock);
    EXPECT_EQ(drawn, (std::vector<QColor>{Qt::red, Qt::white, Qt::yellow}));
}

TEST(CompositorThread, NeverDrawsIntoAFrameAConsumerStillHolds)
{
    FakeClock clock;
    FrameSink sink;
    Compositor compositor(clock);
    compositor.setFrameHandler([&](FrameRef frame) { sink.add(std::move(frame)); });
    const auto whole = QRectF(0, 0, 1920, 1080);

    // Snapshots without a size are not drawn.
    compositor.submit(std::make_shared<DrawList>());
    compositor.submit(listOf({filled(whole, Qt::red)}));
    FrameRef first = sink.frame(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(compositor.framesDrawn(), 1u);
    EXPECT_EQ(first->image.size(), OUTPUT);
    EXPECT_EQ(first->image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(first->hostTime, clock.now());
    const FrameBuffer* firstBuffer = first.get();
    compositor.submit(listOf({filled(whole, Qt::blue)}));
    FrameRef second = sink.frame(1);
    ASSERT_TRUE(second);
    sink.clear();
    EXPECT_NE(second.get(), firstBuffer);
    EXPECT_EQ(at(first->image, 5, 5), QColor(Qt::red));
    EXPECT_EQ(at(second->image, 5, 5), QColor(Qt::blue));

    // Once let go, a buffer is drawn into again; the one still held is not.
    first.reset();
    compositor.submit(listOf({filled(whole, Qt::green)}));
    const FrameRef third = sink.frame(0);
    ASSERT_TRUE(third);
    EXPECT_EQ(third.get(), firstBuffer);
    EXPECT_EQ(at(third->image, 5, 5), QColor(Qt::green));
    EXPECT_EQ(at(second->image, 5, 5), QColor(Qt::blue));
}

TEST(CompositorThread, CountsItsOwnCpuTimePerFrameNotThatOfOtherThreads)
{
    FakeClock clock;
    FrameSink sink;
    Compositor compositor(clock);
    compositor.setFrameHandler([&](FrameRef frame) { sink.add(std::move(frame)); });
    // Another thread of the process keeps a core busy all the while.
    std::atomic<bool> spinning{true};
    std::thread busy([&] {
        while (spinning.load())
            ;
    });
    std::vector<DrawOp> ops;
    for (int i = 0; i < 40; ++i)
        ops.push_back(filled(QRectF(i * 10, i * 10, 1500, 700), QColor(i * 6, 0, 255 - i * 6, 128)));
    compositor.submit(listOf(ops));
    const FrameRef frame = sink.frame(0);
    spinning = false;
    busy.join();
    ASSERT_TRUE(frame);
    const double wall = compositor.lastDrawMilliseconds();
    const double cpu = compositor.lastDrawCpuMilliseconds();
    EXPECT_GT(cpu, 0.0);
    // One thread cannot use more CPU than the time that passed; the process can.
    EXPECT_LE(cpu, wall + 0.05) << "cpu " << cpu << " ms, wall " << wall << " ms";
}

TEST_F(CompositorDrawing, LeavesOutWhatACoveringLayerHidesButNothingItDoesNot)
{
    // The target starts with leftovers of an older frame; the clear colour is black.
    const QRectF whole(QPointF(0, 0), QSizeF(OUTPUT));
    QImage opaque(OUTPUT, QImage::Format_RGB32);
    opaque.fill(Qt::blue);
    QImage seeThrough = opaque.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    seeThrough.setPixel(5, 5, 0);
    DrawOp faded = pictured(whole, opaque);
    faded.opacity = 0.5;
    struct Case {
        const char* name;
        std::vector<DrawOp> ops;
        QPoint probe;
        QColor expected;
    } cases[] = {
        {"opaque, whole", {pictured(whole, opaque)}, {5, 5}, Qt::blue},
        {"transparent pixel", {pictured(whole, seeThrough)}, {5, 5}, Qt::black},
        {"over a colour", {filled(whole, Qt::red), pictured(whole, seeThrough)}, {5, 5}, Qt::red},
        {"shifted", {pictured(QRectF(QPointF(1, 0), QSizeF(OUTPUT)), opaque)}, {0, 5}, Qt::black},
        {"half transparent", {filled(whole, Qt::red), faded}, {5, 5}, QColor(128, 0, 128)},
    };
    for (const Case& c : cases) {
        for (bool inPart : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (inPart ? ", damaged part" : ", whole"));
            QImage target(OUTPUT, QImage::Format_ARGB32_Premultiplied);
            target.fill(Qt::magenta);
            if (inPart)
                compositor.draw(*listOf(c.ops), target, QRegion(0, 0, 20, 20));
            else
                compositor.draw(*listOf(c.ops), target);
            EXPECT_TRUE(near(at(target, c.probe.x(), c.probe.y()), c.expected));
        }
    }
}

TEST_F(CompositorDrawing, CopiesOpaquePicturesThroughTheirShapeAsTheRasterEngineDrawsThem)
{
    QImage picture(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y, (x * 7 + y * 3) % 256));
    DrawOp circle = pictured(QRectF(700, 300, 300, 200), picture);
    circle.mask = LayerMask::Ellipse;
    circle.maskRect = QRectF(1.0 / 6, 0, 4.0 / 6, 1);
    DrawOp rounded = pictured(QRectF(100.5, 100, 300, 200), picture);
    rounded.cornerRadius = 30;
    rounded.masksToBounds = true;
    DrawOp cut = pictured(QRectF(1700, 900, 300, 200), picture);
    cut.cornerRadius = 16;
    cut.masksToBounds = true;
    cut.contentsRect = QRectF(0.5, 0, 0.5, 1);
    cut.gravity = ContentsGravity::ResizeAspect;
    const DrawListRef list = listOf({filled(QRectF(0, 0, 1920, 1080), Qt::darkGreen), circle, rounded, cut});

    // The raster engine's own drawing of the same pictures is the reference.
    DrawListRef reference = std::make_shared<DrawList>(*list);
    for (DrawOp& op : std::const_pointer_cast<DrawList>(reference)->ops)
        if (!op.contents.isNull())
            op.contents = op.contents.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage expected = draw(reference);
    const QImage image = draw(list);
    int worst = 0;
    for (int y = 0; y < OUTPUT.height(); ++y)
        for (int x = 0; x < OUTPUT.width(); ++x) {
            const QRgb a = image.pixel(x, y), b = expected.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
        }
    EXPECT_LE(worst, 3);
    EXPECT_EQ(image.pixel(850, 680), picture.pixel(150, 100)) << "the inside is the picture itself";

    // Drawn again only inside a damaged part, the rest stays as it was.
    QImage part(OUTPUT, QImage::Format_ARGB32_Premultiplied);
    part.fill(Qt::magenta);
    const QRegion damage = QRegion(800, 600, 100, 50) + QRegion(120, 800, 10, 10);
    compositor.draw(*list, part, damage);
    for (const QPoint p : {QPoint(850, 620), QPoint(899, 649), QPoint(125, 805)})
        EXPECT_EQ(part.pixel(p), image.pixel(p));
    for (const QPoint p : {QPoint(850, 660), QPoint(799, 620), QPoint(140, 805)})
        EXPECT_EQ(part.pixelColor(p), QColor(Qt::magenta));
}

TEST_F(CompositorDrawing, ConvertsVideoPlanesStraightIntoTheFrameAndOnlyWhereDamaged)
{
    // A 4:2:0 picture whose every sample differs, so that a misplaced row or column shows.
    auto planes = std::make_shared<std::vector<uint8_t>>(OUTPUT.width() * OUTPUT.height() * 3 / 2);
    for (size_t i = 0; i < planes->size(); ++i)
        (*planes)[i] = uint8_t(16 + (i * 7 + i / 1920 * 13) % 220);
    auto video = std::make_shared<PlanarPicture>();
    video->size = OUTPUT;
    video->owner = planes;
    video->planes[0] = planes->data();
    video->planes[1] = planes->data() + OUTPUT.width() * OUTPUT.height();
    video->planes[2] = video->planes[1] + OUTPUT.width() * OUTPUT.height() / 4;
    video->strides[0] = OUTPUT.width();
    video->strides[1] = video->strides[2] = OUTPUT.width() / 2;
    const QImage expected = video->toImage();
    DrawOp op;
    op.rect = QRectF(QPointF(0, 0), QSizeF(OUTPUT));
    op.planar = video;

    const QImage whole = draw(listOf({filled(op.rect, Qt::red), op}));
    EXPECT_TRUE(whole.convertToFormat(QImage::Format_RGB32) == expected);

    // Odd edges on every side of a damaged part.
    QImage part(OUTPUT, QImage::Format_ARGB32_Premultiplied);
    part.fill(Qt::magenta);
    const QRect damage(101, 51, 37, 23);
    compositor.draw(*listOf({op}), part, QRegion(damage));
    EXPECT_TRUE(part.copy(damage).convertToFormat(QImage::Format_RGB32) == expected.copy(damage));
    for (const QPoint p : {QPoint(100, 60), QPoint(138, 60), QPoint(120, 50), QPoint(120, 74)})
        EXPECT_EQ(part.pixelColor(p), QColor(Qt::magenta)) << p.x() << ", " << p.y();

    // Not over the whole frame, it is drawn as a picture.
    op.rect = QRectF(0, 0, 960, 540);
    const QImage small = draw(listOf({op}));
    EXPECT_TRUE(near(small.pixelColor(480, 810), expected.scaled(960, 540).pixelColor(480, 270), 24));
    EXPECT_EQ(small.pixelColor(1500, 200), QColor(Qt::black));
}

TEST(CompositorThread, RedrawsOnlyWhatChangedYetEveryFrameMatchesAWholeDrawing)
{
    FakeClock clock;
    FrameSink sink;
    Compositor compositor(clock);
    compositor.setFrameHandler([&](FrameRef frame) { sink.add(std::move(frame)); });
    QImage backdrop(OUTPUT, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < backdrop.height(); ++y)
        for (int x = 0; x < backdrop.width(); ++x)
            backdrop.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
    QImage window = twoTone(QSize(640, 400), Qt::white, Qt::darkCyan);

    // A still desktop and window; a webcam whose picture changes and a pointer that moves.
    auto snapshot = [&](int step) {
        DrawOp desk = pictured(QRectF(QPointF(0, 0), QSizeF(OUTPUT)), backdrop);
        DrawOp shared = pictured(QRectF(200, 300, 640, 400), window);
        shared.cornerRadius = 12;
        shared.masksToBounds = true;
        shared.borderWidth = 4;
        shared.borderColor = Qt::red;
        // An opaque webcam picture at the box's size, as webcams deliver them: copied
        // through its shape rather than drawn by the raster engine.
        DrawOp webcam = pictured(QRectF(951, 9, 960, 540),
            twoTone(QSize(960, 540), QColor::fromHsv(step * 30 % 360, 200, 200), Qt::black)
                .convertToFormat(QImage::Format_RGB32));
        webcam.mask = LayerMask::Ellipse;
        webcam.maskRect = QRectF(0.2, 0, 0.6, 1);
        webcam.borderWidth = 6;
        webcam.borderColor = Qt::yellow;
        DrawOp pointer = filled(QRectF(300 + step * 37.5, 500 - step * 21.25, 40, 40), QColor(255, 255, 0, 128));
        pointer.cornerRadius = 20;
        pointer.shadow = LayerShadow{QColor(0, 0, 0, 160), QPointF(3, -3), 6};
        return listOf({desk, shared, webcam, pointer});
    };
    // Two frames stay held at any time, so buffers come back in turns out of order.
    std::vector<FrameRef> held;
    for (int step = 0; step < 10; ++step) {
        const DrawListRef list = snapshot(step);
        compositor.submit(list);
        FrameRef frame = sink.frame(0);
        sink.clear();
        ASSERT_TRUE(frame) << "step " << step;
        QImage whole(OUTPUT, QImage::Format_ARGB32_Premultiplied);
        compositor.draw(*list, whole);
        ASSERT_TRUE(frame->image == whole) << "step " << step;
        // Each frame tells viewers what changed since the one before, and its number.
        ASSERT_EQ(frame->changed.has_value(), step > 0) << "step " << step;
        EXPECT_EQ(frame->sequence, quint64(step + 1));
        if (step > 0) {
            EXPECT_TRUE(frame->changed->contains(QPoint(1400, 800))) << "step " << step;
            EXPECT_FALSE(frame->changed->contains(QPoint(100, 100))) << "step " << step;
        }
        held.push_back(std::move(frame));
        if (held.size() > 2)
            held.erase(held.begin() + (step % 2));
    }
    // The first frames of each buffer are whole; the rest only in part.
    EXPECT_GE(compositor.framesDrawnInPart(), 5u);

    // Only the changed layers' areas are damaged; nothing when nothing changed.
    const Compositor::Drawn first = Compositor::drawnOf(*snapshot(1));
    const std::optional<QRegion> damage = Compositor::damageBetween(first, Compositor::drawnOf(*snapshot(2)));
    ASSERT_TRUE(damage);
    EXPECT_TRUE(damage->contains(QPoint(1400, 800)));
    EXPECT_FALSE(damage->contains(QPoint(1000, 800))) << "in the webcam's frame, beside its round shape";
    EXPECT_TRUE(damage->contains(QPoint(380, 590)));
    EXPECT_FALSE(damage->contains(QPoint(100, 100)));
    EXPECT_FALSE(damage->contains(QPoint(500, 600)));
    const DrawListRef again = snapshot(1);
    auto same = std::make_shared<DrawList>(*again);
    EXPECT_TRUE(Compositor::damageBetween(Compositor::drawnOf(*again), Compositor::drawnOf(*same))->isEmpty());
    // Another layer order or size draws everything.
    auto fewer = std::make_shared<DrawList>(*again);
    fewer->ops.pop_back();
    EXPECT_FALSE(Compositor::damageBetween(first, Compositor::drawnOf(*fewer)));
}
