#pragma once

#include "platform/planar_picture.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <memory>
#include <optional>
#include <vector>

namespace vistrale {

enum class ContentsGravity { Resize, ResizeAspect, ResizeAspectFill };

enum class LayerMask { None, Ellipse };

struct LayerShadow {
    QColor color;
    QPointF offset;
    double blurRadius = 0;
    bool operator==(const LayerShadow&) const = default;
};

// One layer as it is to be drawn: absolute output coordinates (points, bottom-left
// origin), opacity already multiplied through its ancestors.
struct DrawOp {
    QRectF rect;
    double opacity = 1;
    double cornerRadius = 0;
    bool masksToBounds = false;
    LayerMask mask = LayerMask::None;
    // Where the shape (corner radius, mask and border) lies inside `rect`, in unit
    // coordinates with the origin at the bottom left: all of it by default.
    QRectF maskRect{0, 0, 1, 1};
    QColor backgroundColor = Qt::transparent;
    double borderWidth = 0;
    QColor borderColor = Qt::transparent;
    std::optional<LayerShadow> shadow;
    // Shared picture; drawing never copies it.
    QImage contents;
    // A video picture still in its planes, shown instead of `contents` when set.
    PlanarPictureRef planar;
    // Part of `contents` to show, in unit coordinates (0, 0, 1, 1 = all of it).
    QRectF contentsRect{0, 0, 1, 1};
    ContentsGravity gravity = ContentsGravity::Resize;
};

// An immutable snapshot of the scene, back to front, handed to the compositor.
struct DrawList {
    QSize outputSize;
    QColor clearColor = Qt::black;
    std::vector<DrawOp> ops;
};

using DrawListRef = std::shared_ptr<const DrawList>;

} // namespace vistrale
