#include "preview/scene.h"

#include "platform/clock.h"

#include <algorithm>
#include <cmath>

namespace vistrale {

SceneLayer::SceneLayer(QString name)
    : layerName(std::move(name))
{
}

SceneLayer::~SceneLayer()
{
    // A child held elsewhere (a view keeps its layer) must not point at this layer any
    // more: it could not be moved to another parent or removed without touching freed
    // memory.
    for (auto& child : childLayers) {
        child->parentLayer = nullptr;
        child->attach(nullptr);
    }
}

void SceneLayer::changed()
{
    if (scene)
        scene->setNeedsDisplay();
}

void SceneLayer::attach(Scene* owner)
{
    scene = owner;
    for (auto& child : childLayers)
        child->attach(owner);
}

void SceneLayer::setTag(int value)
{
    if (tagValue == value)
        return;
    tagValue = value;
    changed();
}

void SceneLayer::setZPosition(double position)
{
    if (z == position)
        return;
    z = position;
    changed();
}

QRectF SceneLayer::frame() const
{
    if (parentMargins && parentLayer)
        return parentLayer->bounds().marginsRemoved(*parentMargins);
    return frameValue;
}

void SceneLayer::setFollowsParentBounds(const std::optional<QMarginsF>& margins)
{
    if (parentMargins == margins)
        return;
    parentMargins = margins;
    changed();
}

void SceneLayer::setFrame(const QRectF& frame)
{
    if (frameValue == frame && !presentation)
        return;
    frameValue = frame;
    changed();
}

void SceneLayer::setOpacity(double value)
{
    if (opacityValue == value)
        return;
    opacityValue = value;
    changed();
}

void SceneLayer::setHidden(bool value)
{
    if (hidden == value)
        return;
    hidden = value;
    changed();
}

void SceneLayer::setCornerRadius(double value)
{
    if (radius == value)
        return;
    radius = value;
    changed();
}

void SceneLayer::setMasksToBounds(bool value)
{
    if (masks == value)
        return;
    masks = value;
    changed();
}

void SceneLayer::setMaskRect(const QRectF& unit)
{
    const QRectF bounded = unit.intersected(QRectF(0, 0, 1, 1));
    if (maskUnit == bounded)
        return;
    maskUnit = bounded;
    changed();
}

void SceneLayer::setMask(LayerMask value)
{
    if (maskShape == value)
        return;
    maskShape = value;
    changed();
}

void SceneLayer::setBackgroundColor(const QColor& color)
{
    if (background == color)
        return;
    background = color;
    changed();
}

void SceneLayer::setBorderWidth(double width)
{
    if (border == width)
        return;
    border = width;
    changed();
}

void SceneLayer::setBorderColor(const QColor& color)
{
    if (borderColour == color)
        return;
    borderColour = color;
    changed();
}

void SceneLayer::setShadow(const std::optional<LayerShadow>& shadow)
{
    if (shadowValue == shadow)
        return;
    shadowValue = shadow;
    changed();
}

void SceneLayer::setContents(const QImage& contents)
{
    // Pictures are shared, never copied: a QImage copy only takes a reference.
    picture = contents;
    changed();
}

void SceneLayer::setPlanarContents(PlanarPictureRef contents)
{
    planar = std::move(contents);
    changed();
}

void SceneLayer::setContentsRect(const QRectF& rect)
{
    if (pictureRect == rect)
        return;
    pictureRect = rect;
    changed();
}

void SceneLayer::setContentsGravity(ContentsGravity value)
{
    if (gravity == value)
        return;
    gravity = value;
    changed();
}

void SceneLayer::addChild(const std::shared_ptr<SceneLayer>& child)
{
    if (!child || child.get() == this)
        return;
    child->removeFromParent();
    child->parentLayer = this;
    child->attach(scene);
    childLayers.push_back(child);
    changed();
}

void SceneLayer::removeFromParent()
{
    SceneLayer* parent = parentLayer;
    if (!parent)
        return;
    auto keep = shared_from_this();
    auto& siblings = parent->childLayers;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), keep), siblings.end());
    parentLayer = nullptr;
    parent->changed();
    attach(nullptr);
}

struct Scene::Animation {
    std::weak_ptr<SceneLayer> layer;
    std::optional<QRectF> fromFrame, toFrame;
    std::optional<double> fromOpacity, toOpacity;
    double start = 0;
    double duration = 0;
    AnimationTiming timing = AnimationTiming::Linear;
    std::function<void()> completion;
};

namespace {

// Core Animation's timing curves: cubic Béziers through (0, 0) and (1, 1).
double bezier(double t, double p1, double p2)
{
    const double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
}

double curve(double x, double x1, double y1, double x2, double y2)
{
    double lo = 0, hi = 1, t = x;
    for (int i = 0; i < 40; ++i) {
        t = (lo + hi) / 2;
        if (bezier(t, x1, x2) < x)
            lo = t;
        else
            hi = t;
    }
    return bezier(t, y1, y2);
}

double timed(AnimationTiming timing, double progress)
{
    switch (timing) {
    case AnimationTiming::EaseIn:
        return curve(progress, 0.42, 0, 1, 1);
    case AnimationTiming::EaseInEaseOut:
        return curve(progress, 0.42, 0, 0.58, 1);
    case AnimationTiming::Linear:
        break;
    }
    return progress;
}

QRectF lerp(const QRectF& a, const QRectF& b, double t)
{
    return QRectF(a.x() + (b.x() - a.x()) * t, a.y() + (b.y() - a.y()) * t, a.width() + (b.width() - a.width()) * t,
        a.height() + (b.height() - a.height()) * t);
}

} // namespace

Scene::Scene(Clock& clock, QSize outputSize)
    : clock(clock)
    , size(outputSize)
    , rootLayer(std::make_shared<SceneLayer>(QStringLiteral("root")))
    , alive(std::make_shared<bool>(true))
{
    rootLayer->attach(this);
    rootLayer->setFrame(QRectF(QPointF(0, 0), QSizeF(outputSize)));
}

Scene::~Scene()
{
    rootLayer->attach(nullptr);
}

void Scene::setOutputSize(QSize outputSize)
{
    size = outputSize;
    rootLayer->setFrame(QRectF(QPointF(0, 0), QSizeF(outputSize)));
}

void Scene::setSnapshotHandler(std::function<void(DrawListRef)> handler)
{
    snapshotHandler = std::move(handler);
    setNeedsDisplay();
}

void Scene::animate(const std::shared_ptr<SceneLayer>& layer, std::optional<QRectF> frame,
    std::optional<double> opacity, double duration, AnimationTiming timing, std::function<void()> completion)
{
    const double now = clock.now();
    advanceAnimations(now);
    auto animation = std::make_unique<Animation>();
    animation->layer = layer;
    animation->start = now;
    animation->duration = std::max(0.0, duration);
    animation->timing = timing;
    animation->completion = std::move(completion);
    const QRectF shownFrame = layer->presentation ? layer->presentation->frame : layer->frame();
    const double shownOpacity = layer->presentation ? layer->presentation->opacity : layer->opacity();

    // A newer animation of the same property replaces the older one on that layer.
    std::vector<std::function<void()>> replaced;
    for (auto& other : animations) {
        if (other->layer.lock() != layer)
            continue;
        if (frame)
            other->toFrame.reset();
        if (opacity)
            other->toOpacity.reset();
        if (!other->toFrame && !other->toOpacity && other->completion)
            replaced.push_back(std::exchange(other->completion, {}));
    }
    std::erase_if(animations, [](const auto& a) { return !a->toFrame && !a->toOpacity; });

    if (frame) {
        animation->fromFrame = shownFrame;
        animation->toFrame = *frame;
        layer->frameValue = *frame;
    }
    if (opacity) {
        animation->fromOpacity = shownOpacity;
        animation->toOpacity = *opacity;
        layer->opacityValue = *opacity;
    }
    layer->presentation = SceneLayer::Presentation{shownFrame, shownOpacity};
    animations.push_back(std::move(animation));
    for (auto& done : replaced)
        done();
    setNeedsDisplay();
}

void Scene::advanceAnimations(double now)
{
    std::vector<std::function<void()>> finished;
    // What no running animation moves shows its model value, also when it changed
    // after the animation began (a window moved while it fades in).
    for (auto& animation : animations)
        if (auto layer = animation->layer.lock())
            layer->presentation = SceneLayer::Presentation{layer->frameValue, layer->opacityValue};
    for (auto& animation : animations) {
        auto layer = animation->layer.lock();
        if (!layer)
            continue;
        const double progress
            = animation->duration <= 0 ? 1.0 : std::clamp((now - animation->start) / animation->duration, 0.0, 1.0);
        const double t = timed(animation->timing, progress);
        auto shown = layer->presentation.value_or(SceneLayer::Presentation{layer->frame(), layer->opacity()});
        if (animation->toFrame)
            shown.frame = lerp(*animation->fromFrame, *animation->toFrame, t);
        if (animation->toOpacity)
            shown.opacity = *animation->fromOpacity + (*animation->toOpacity - *animation->fromOpacity) * t;
        layer->presentation = shown;
        if (progress >= 1.0) {
            if (animation->completion)
                finished.push_back(std::move(animation->completion));
            animation->layer.reset();
        }
    }
    std::erase_if(animations, [](const auto& a) { return a->layer.expired(); });
    // Layers without a running animation show their model values again.
    auto settle = [&](auto&& self, SceneLayer& layer) -> void {
        if (layer.presentation) {
            const bool running = std::any_of(
                animations.begin(), animations.end(), [&](const auto& a) { return a->layer.lock().get() == &layer; });
            if (!running)
                layer.presentation.reset();
        }
        for (auto& child : layer.childLayers)
            self(self, *child);
    };
    settle(settle, *rootLayer);
    for (auto& done : finished)
        done();
}

void Scene::appendOps(const SceneLayer& layer, const QRectF& rect, double inheritedOpacity, DrawList& list) const
{
    if (layer.hidden)
        return;
    const double opacity = inheritedOpacity * (layer.presentation ? layer.presentation->opacity : layer.opacityValue);
    if (opacity <= 0)
        return;
    const bool visible = !layer.picture.isNull() || layer.planar || layer.background.alpha() > 0
        || (layer.border > 0 && layer.borderColour.alpha() > 0);
    if (visible || layer.shadowValue) {
        DrawOp op;
        op.rect = rect;
        op.opacity = opacity;
        op.cornerRadius = layer.radius;
        op.masksToBounds = layer.masks;
        op.mask = layer.maskShape;
        op.maskRect = layer.maskUnit;
        op.backgroundColor = layer.background;
        op.borderWidth = layer.border;
        op.borderColor = layer.borderColour;
        op.shadow = layer.shadowValue;
        op.contents = layer.picture;
        op.planar = layer.planar;
        op.contentsRect = layer.pictureRect;
        op.gravity = layer.gravity;
        list.ops.push_back(std::move(op));
    }
    std::vector<const SceneLayer*> order;
    order.reserve(layer.childLayers.size());
    for (const auto& child : layer.childLayers)
        order.push_back(child.get());
    const bool topLevel = &layer == rootLayer.get();
    std::stable_sort(order.begin(), order.end(), [topLevel](const SceneLayer* a, const SceneLayer* b) {
        return topLevel ? a->tagValue < b->tagValue : a->z < b->z;
    });
    // Children follow what their parent shows now: a layer that follows its parent's
    // bounds takes the parent's animated size, not its model size.
    for (const SceneLayer* child : order) {
        QRectF frame = child->presentation ? child->presentation->frame : child->frameValue;
        if (child->parentMargins)
            frame = QRectF(QPointF(0, 0), rect.size()).marginsRemoved(*child->parentMargins);
        appendOps(*child, frame.translated(rect.topLeft()), opacity, list);
    }
}

DrawListRef Scene::snapshot()
{
    advanceAnimations(clock.now());
    auto list = std::make_shared<DrawList>();
    list->outputSize = size;
    // QRectF::topLeft() is the minimum corner: the bottom left in this scene's terms.
    const QRectF rootFrame = rootLayer->presentation ? rootLayer->presentation->frame : rootLayer->frameValue;
    appendOps(*rootLayer, rootFrame, 1.0, *list);
    ++snapshots;
    return list;
}

void Scene::setNeedsDisplay()
{
    if (scheduled || !snapshotHandler)
        return;
    scheduled = true;
    const double now = clock.now();
    const double wait = lastSnapshotTime < 0 ? 0.0 : std::max(0.0, lastSnapshotTime + MIN_SNAPSHOT_INTERVAL - now);
    std::weak_ptr<bool> token = alive;
    clock.after(wait, [this, token] {
        if (token.expired())
            return;
        deliver();
    });
}

void Scene::deliver()
{
    scheduled = false;
    lastSnapshotTime = clock.now();
    DrawListRef list = snapshot();
    if (snapshotHandler)
        snapshotHandler(list);
    if (isAnimating())
        setNeedsDisplay();
}

} // namespace vistrale
