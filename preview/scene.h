#pragma once

#include "preview/draw_list.h"

#include <QMarginsF>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace vistrale {

class Clock;
class Scene;

// One item of the share window's scene: a rectangle in its parent's coordinates
// (points, origin at the parent's bottom left), with a picture, a background, a
// border, a shadow and an opacity. Children draw above their parent: the scene's top
// level is ordered by tag, every other level by z-position. Main thread only.
class SceneLayer : public std::enable_shared_from_this<SceneLayer> {
public:
    explicit SceneLayer(QString name = {});
    // Children that outlive their parent are left without one.
    ~SceneLayer();

    const QString& name() const { return layerName; }

    int tag() const { return tagValue; }
    // Changing the tag re-sorts the top level.
    void setTag(int tag);
    double zPosition() const { return z; }
    void setZPosition(double position);

    // The model value: an animation shows its way towards it.
    QRectF frame() const;
    void setFrame(const QRectF& frame);
    QRectF bounds() const { return QRectF(QPointF(0, 0), frame().size()); }
    // Keeps the layer at its parent's bounds less these margins (negative margins reach
    // outside), also while the parent's frame animates. Its own frame is then ignored.
    void setFollowsParentBounds(const std::optional<QMarginsF>& margins);
    const std::optional<QMarginsF>& followsParentBounds() const { return parentMargins; }
    double opacity() const { return opacityValue; }
    void setOpacity(double opacity);
    bool isHidden() const { return hidden; }
    void setHidden(bool hidden);

    double cornerRadius() const { return radius; }
    void setCornerRadius(double radius);
    bool masksToBounds() const { return masks; }
    void setMasksToBounds(bool masks);
    LayerMask mask() const { return maskShape; }
    void setMask(LayerMask mask);
    // The part of the bounds the shape takes (unit coordinates, bottom-left origin):
    // the corner radius, the mask, the clip and the border follow it, so a centred
    // square or circle can show inside a wider layer. All of the bounds by default.
    QRectF maskRect() const { return maskUnit; }
    void setMaskRect(const QRectF& unit);
    QColor backgroundColor() const { return background; }
    void setBackgroundColor(const QColor& color);
    double borderWidth() const { return border; }
    void setBorderWidth(double width);
    QColor borderColor() const { return borderColour; }
    void setBorderColor(const QColor& color);
    const std::optional<LayerShadow>& shadow() const { return shadowValue; }
    void setShadow(const std::optional<LayerShadow>& shadow);

    const QImage& contents() const { return picture; }
    void setContents(const QImage& contents);
    // A video picture in its planes, shown instead of the contents while set.
    const PlanarPictureRef& planarContents() const { return planar; }
    void setPlanarContents(PlanarPictureRef picture);
    QRectF contentsRect() const { return pictureRect; }
    void setContentsRect(const QRectF& rect);
    ContentsGravity contentsGravity() const { return gravity; }
    void setContentsGravity(ContentsGravity gravity);

    void addChild(const std::shared_ptr<SceneLayer>& child);
    void removeFromParent();
    const std::vector<std::shared_ptr<SceneLayer>>& children() const { return childLayers; }
    SceneLayer* parent() const { return parentLayer; }

private:
    friend class Scene;
    void changed();
    void attach(Scene* scene);

    QString layerName;
    Scene* scene = nullptr;
    SceneLayer* parentLayer = nullptr;
    std::vector<std::shared_ptr<SceneLayer>> childLayers;

    int tagValue = 0;
    double z = 0;
    QRectF frameValue;
    std::optional<QMarginsF> parentMargins;
    double opacityValue = 1;
    bool hidden = false;
    double radius = 0;
    bool masks = false;
    LayerMask maskShape = LayerMask::None;
    QRectF maskUnit{0, 0, 1, 1};
    QColor background = Qt::transparent;
    double border = 0;
    QColor borderColour = Qt::transparent;
    std::optional<LayerShadow> shadowValue;
    QImage picture;
    PlanarPictureRef planar;
    QRectF pictureRect{0, 0, 1, 1};
    ContentsGravity gravity = ContentsGravity::Resize;

    // What an animation currently shows instead of the model values.
    struct Presentation {
        QRectF frame;
        double opacity;
    };
    std::optional<Presentation> presentation;
};

enum class AnimationTiming { Linear, EaseIn, EaseInEaseOut };

// The share window's content: the layers, their animations and the pacing of
// snapshots. Changes mark the scene; at most 30 times a second, and only when
// something changed or an animation runs, a snapshot goes to the snapshot handler.
// Main thread only.
class Scene {
public:
    Scene(Clock& clock, QSize outputSize);
    ~Scene();

    SceneLayer& root() { return *rootLayer; }
    QSize outputSize() const { return size; }
    void setOutputSize(QSize size);

    // Receives every snapshot, on the main thread.
    void setSnapshotHandler(std::function<void(DrawListRef)> handler);

    // Animates the layer from what it shows now to the given frame and/or opacity,
    // which become its model values at once. The completion runs on the main thread
    // once the animation has ended (or was replaced by a newer one on the layer).
    void animate(const std::shared_ptr<SceneLayer>& layer, std::optional<QRectF> frame, std::optional<double> opacity,
        double duration, AnimationTiming timing, std::function<void()> completion = {});
    bool isAnimating() const { return !animations.empty(); }

    // Builds the snapshot of the scene as it looks at the clock's current time.
    DrawListRef snapshot();
    // Schedules a snapshot; called by layers when they change.
    void setNeedsDisplay();
    // Snapshots handed out so far.
    quint64 snapshotCount() const { return snapshots; }

    static constexpr double MIN_SNAPSHOT_INTERVAL = 1.0 / 30.0;

private:
    struct Animation;
    void advanceAnimations(double now);
    void deliver();
    // `rect` is where the layer shows, in output coordinates.
    void appendOps(const SceneLayer& layer, const QRectF& rect, double opacity, DrawList& list) const;

    Clock& clock;
    QSize size;
    std::shared_ptr<SceneLayer> rootLayer;
    std::vector<std::unique_ptr<Animation>> animations;
    std::function<void(DrawListRef)> snapshotHandler;
    bool scheduled = false;
    double lastSnapshotTime = -1;
    quint64 snapshots = 0;
    std::shared_ptr<bool> alive;
};

} // namespace vistrale
