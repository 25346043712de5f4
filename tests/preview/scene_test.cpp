#include "platform/fake/fake_clock.h"
#include "preview/scene.h"
#include "preview/view_tags.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace vistrale;

namespace {

// A scene on a manual clock that keeps every snapshot it sends, with the time sent.
// Layers are told apart in the snapshots by their background colours.
class SceneTest : public ::testing::Test {
protected:
    SceneTest()
    {
        scene.setSnapshotHandler([this](DrawListRef list) {
            snapshots.push_back(list);
            times.push_back(clock.now());
        });
        clock.runPending();
    }

    std::shared_ptr<SceneLayer> layer(const QString& name, SceneLayer& parent, QRectF frame = {0, 0, 100, 100})
    {
        auto made = std::make_shared<SceneLayer>(name);
        made->setFrame(frame);
        made->setBackgroundColor(QColor(int(names.size()) + 1, 0, 0));
        names.push_back(name);
        parent.addChild(made);
        return made;
    }
    std::shared_ptr<SceneLayer> topLayer(const QString& name, int tag)
    {
        auto made = layer(name, scene.root(), QRectF(0, 0, 1920, 1080));
        made->setTag(tag);
        return made;
    }

    QStringList order(const DrawList& list) const
    {
        QStringList drawn;
        for (const DrawOp& op : list.ops)
            drawn << names.at(op.backgroundColor.red() - 1);
        return drawn;
    }
    const DrawOp* opOf(const DrawList& list, const QString& name) const
    {
        for (const DrawOp& op : list.ops)
            if (names.at(op.backgroundColor.red() - 1) == name)
                return &op;
        return nullptr;
    }
    // Moves the clock in display-refresh steps.
    void run(double seconds)
    {
        for (double passed = 0; passed < seconds; passed += 1.0 / 60)
            clock.advance(1.0 / 60);
    }

    FakeClock clock;
    Scene scene{clock, QSize(1920, 1080)};
    std::vector<DrawListRef> snapshots;
    std::vector<double> times;
    std::vector<QString> names;
};

} // namespace

TEST_F(SceneTest, DrawsTheTopLevelInTagOrderWhateverTheOrderOfAdding)
{
    topLayer("text overlay", TEXT_OVERLAY_TAG);
    topLayer("pointer", CURSOR_TAG);
    topLayer("backdrop", DESKTOP_TAG);
    auto webcam = topLayer("webcam", WEBCAM_TAG);
    topLayer("captions", SPEECH_OVERLAY_TAG);
    topLayer("windows", WINDOWS_TAG);
    EXPECT_EQ(order(*scene.snapshot()),
        QStringList({"backdrop", "windows", "webcam", "pointer", "captions", "text overlay"}));

    // The full-size webcam goes behind the windows.
    run(0.1);
    const size_t before = snapshots.size();
    webcam->setTag(WEBCAM_TAG_BEHIND);
    run(0.1);
    ASSERT_GT(snapshots.size(), before);
    EXPECT_EQ(order(*snapshots.back()),
        QStringList({"backdrop", "webcam", "windows", "pointer", "captions", "text overlay"}));
}

TEST_F(SceneTest, DrawsLowerLevelsByZPositionNotByTag)
{
    auto windows = topLayer("windows", WINDOWS_TAG);
    auto back = layer("back", *windows);
    auto front = layer("front", *windows);
    auto middle = layer("middle", *windows);
    auto sameAsMiddle = layer("same as middle", *windows);
    back->setZPosition(MIN_WINDOW_TAG);
    back->setTag(3);
    front->setZPosition(MIN_WINDOW_TAG + 2);
    front->setTag(1);
    middle->setZPosition(MIN_WINDOW_TAG + 1);
    sameAsMiddle->setZPosition(MIN_WINDOW_TAG + 1);
    EXPECT_EQ(order(*scene.snapshot()), QStringList({"windows", "back", "middle", "same as middle", "front"}));

    back->setZPosition(MIN_WINDOW_TAG + 3);
    EXPECT_EQ(order(*scene.snapshot()), QStringList({"windows", "middle", "same as middle", "front", "back"}));
}

TEST_F(SceneTest, PlacesChildrenInBottomLeftOutputCoordinatesOfTheirParents)
{
    auto windows = topLayer("windows", WINDOWS_TAG);
    windows->setFrame(QRectF(100, 200, 800, 600));
    auto window = layer("window", *windows, QRectF(10, 20, 50, 40));
    layer("title", *window, QRectF(1, 2, 3, 4));
    const auto list = scene.snapshot();
    EXPECT_EQ(list->outputSize, QSize(1920, 1080));
    EXPECT_EQ(opOf(*list, "windows")->rect, QRectF(100, 200, 800, 600));
    EXPECT_EQ(opOf(*list, "window")->rect, QRectF(110, 220, 50, 40));
    EXPECT_EQ(opOf(*list, "title")->rect, QRectF(111, 222, 3, 4));
}

TEST_F(SceneTest, LeavesOutHiddenAndTransparentLayersWithTheirChildren)
{
    auto hidden = topLayer("hidden", 1);
    layer("under hidden", *hidden);
    auto clear = topLayer("clear", 2);
    layer("under clear", *clear);
    auto faded = topLayer("faded", 3);
    auto half = layer("half", *faded);
    auto quarter = layer("quarter", *half);
    hidden->setHidden(true);
    clear->setOpacity(0);
    faded->setOpacity(0.5);
    half->setOpacity(0.4);
    quarter->setOpacity(0.5);

    const auto list = scene.snapshot();
    EXPECT_EQ(order(*list), QStringList({"faded", "half", "quarter"}));
    EXPECT_DOUBLE_EQ(opOf(*list, "half")->opacity, 0.2);
    EXPECT_DOUBLE_EQ(opOf(*list, "quarter")->opacity, 0.1);

    hidden->setHidden(false);
    EXPECT_EQ(order(*scene.snapshot()), QStringList({"hidden", "under hidden", "faded", "half", "quarter"}));
}

TEST_F(SceneTest, SendsNoSnapshotWhileNothingChanges)
{
    auto backdrop = topLayer("backdrop", DESKTOP_TAG);
    run(0.2);
    const size_t settled = snapshots.size();
    ASSERT_GE(settled, 1u);
    run(5);
    backdrop->setFrame(backdrop->frame());
    backdrop->setOpacity(backdrop->opacity());
    backdrop->setTag(backdrop->tag());
    run(1);
    EXPECT_EQ(snapshots.size(), settled);

    backdrop->setCornerRadius(4);
    run(0.1);
    EXPECT_EQ(snapshots.size(), settled + 1);
    EXPECT_EQ(opOf(*snapshots.back(), "backdrop")->cornerRadius, 4);
}

TEST_F(SceneTest, SendsAtMostThirtySnapshotsASecondAndEndsOnTheLatestChange)
{
    auto pointer = topLayer("pointer", CURSOR_TAG);
    clock.runPending();
    const size_t before = snapshots.size();
    // The pointer moves every millisecond for two seconds.
    for (int i = 0; i < 2000; ++i) {
        pointer->setFrame(QRectF(i, 0, 32, 32));
        clock.advance(0.001);
    }
    clock.advance(0.1);
    const size_t sent = snapshots.size() - before;
    EXPECT_GE(sent, 55u);
    EXPECT_LE(sent, 61u);
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], Scene::MIN_SNAPSHOT_INTERVAL - 1e-9) << i;
    EXPECT_EQ(opOf(*snapshots.back(), "pointer")->rect.x(), 1999);
}

TEST_F(SceneTest, AnimatesAFrameThroughIntermediateFramesToTheModelValue)
{
    auto webcam = topLayer("webcam", WEBCAM_TAG);
    webcam->setFrame(QRectF(0, 0, 100, 100));
    run(0.1);
    int completions = 0;
    const double start = clock.now();
    const size_t before = snapshots.size();
    scene.animate(webcam, QRectF(300, 0, 100, 100), std::nullopt, 0.5, AnimationTiming::Linear, [&] { ++completions; });
    EXPECT_EQ(webcam->frame(), QRectF(300, 0, 100, 100));
    EXPECT_TRUE(scene.isAnimating());
    run(1);

    std::vector<double> shown;
    for (size_t i = before; i < snapshots.size(); ++i) {
        const double x = opOf(*snapshots[i], "webcam")->rect.x();
        shown.push_back(x);
        const double expected = 300 * std::clamp((times[i] - start) / 0.5, 0.0, 1.0);
        EXPECT_NEAR(x, expected, 1e-6) << "at " << times[i] - start;
    }
    ASSERT_GE(shown.size(), 10u);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_GE(std::count_if(shown.begin(), shown.end(), [](double x) { return x > 0 && x < 300; }), 10);
    EXPECT_EQ(shown.back(), 300);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(scene.isAnimating());

    const size_t ended = snapshots.size();
    run(2);
    EXPECT_EQ(snapshots.size(), ended);
    EXPECT_EQ(completions, 1);
}

TEST_F(SceneTest, ANewerAnimationStartsWhereTheOlderOneWasAndEndsIt)
{
    auto window = topLayer("window", WINDOWS_TAG);
    window->setFrame(QRectF(0, 0, 100, 100));
    run(0.1);
    int first = 0, second = 0, fade = 0;
    scene.animate(window, QRectF(400, 0, 100, 100), std::nullopt, 1.0, AnimationTiming::Linear, [&] { ++first; });
    scene.animate(window, std::nullopt, 0.5, 2.0, AnimationTiming::Linear, [&] { ++fade; });
    clock.advance(0.25);
    scene.animate(window, QRectF(0, 0, 100, 100), std::nullopt, 0.5, AnimationTiming::Linear, [&] { ++second; });
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(fade, 0);
    clock.advance(0.001);
    const double resumed = opOf(*scene.snapshot(), "window")->rect.x();
    EXPECT_NEAR(resumed, 100, 2);

    run(1);
    EXPECT_EQ(opOf(*snapshots.back(), "window")->rect.x(), 0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(fade, 0);
    run(1.5);
    EXPECT_EQ(fade, 1);
    EXPECT_DOUBLE_EQ(opOf(*snapshots.back(), "window")->opacity, 0.5);
}

TEST_F(SceneTest, FadesALayerOutOfTheDrawingAndBackInFromTheCompletion)
{
    auto captions = topLayer("captions", SPEECH_OVERLAY_TAG);
    run(0.1);
    int faded = 0, shown = 0;
    scene.animate(captions, std::nullopt, 0.0, 0.3, AnimationTiming::EaseIn, [&] {
        ++faded;
        scene.animate(captions, std::nullopt, 1.0, 0.3, AnimationTiming::Linear, [&] { ++shown; });
    });
    EXPECT_EQ(captions->opacity(), 0);
    run(0.1);
    const DrawOp* fading = opOf(*snapshots.back(), "captions");
    ASSERT_NE(fading, nullptr);
    EXPECT_GT(fading->opacity, 0);
    EXPECT_LT(fading->opacity, 1);
    const size_t before = snapshots.size();
    run(0.25);
    const bool leftOut = std::any_of(
        snapshots.begin() + before, snapshots.end(), [](const DrawListRef& list) { return list->ops.empty(); });
    EXPECT_TRUE(leftOut);
    run(1);
    EXPECT_EQ(faded, 1);
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(scene.isAnimating());
    EXPECT_DOUBLE_EQ(opOf(*snapshots.back(), "captions")->opacity, 1.0);
}

TEST_F(SceneTest, ALayerThatOutlivesItsParentOrItsSceneIsDetachedAndCanJoinAnotherOne)
{
    auto windows = topLayer("windows", WINDOWS_TAG);
    auto container = layer("container", *windows);
    auto window = layer("window", *container);
    container->removeFromParent();
    container.reset();
    EXPECT_EQ(window->parent(), nullptr);

    windows->addChild(window);
    EXPECT_EQ(window->parent(), windows.get());
    EXPECT_EQ(order(*scene.snapshot()), QStringList({"windows", "window"}));
    window->removeFromParent();
    EXPECT_TRUE(windows->children().empty());

    // Layers held after their scene ends are detached, and changes to them send nothing.
    auto other = std::make_unique<Scene>(clock, QSize(1920, 1080));
    int sent = 0;
    other->setSnapshotHandler([&](DrawListRef) { ++sent; });
    auto backdrop = std::make_shared<SceneLayer>("backdrop");
    other->root().addChild(backdrop);
    other.reset();
    EXPECT_EQ(backdrop->parent(), nullptr);
    backdrop->setFrame(QRectF(0, 0, 10, 10));
    backdrop->removeFromParent();
    clock.advance(1);
    EXPECT_EQ(sent, 0);
}

TEST_F(SceneTest, ALayerMovedWhileItFadesShowsTheMoveAtOnce)
{
    auto window = topLayer("window", WINDOWS_TAG);
    window->setFrame(QRectF(0, 0, 100, 100));
    window->setOpacity(0);
    run(0.1);
    scene.animate(window, std::nullopt, 1.0, 1.0, AnimationTiming::Linear);
    run(0.2);
    window->setFrame(QRectF(500, 0, 100, 100));
    run(0.1);
    const DrawOp* shown = opOf(*snapshots.back(), "window");
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->rect, QRectF(500, 0, 100, 100));
    EXPECT_GT(shown->opacity, 0.2);
    EXPECT_LT(shown->opacity, 0.5);

    // And the other way round: a moving layer takes a new opacity at once.
    scene.animate(window, QRectF(900, 0, 100, 100), std::nullopt, 1.0, AnimationTiming::Linear);
    run(1.0);
    scene.animate(window, QRectF(0, 0, 100, 100), std::nullopt, 1.0, AnimationTiming::Linear);
    run(0.1);
    window->setOpacity(0.25);
    run(0.1);
    shown = opOf(*snapshots.back(), "window");
    EXPECT_DOUBLE_EQ(shown->opacity, 0.25);
    EXPECT_GT(shown->rect.x(), 0);
    EXPECT_LT(shown->rect.x(), 900);
}
