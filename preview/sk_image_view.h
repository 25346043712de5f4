#pragma once

#include "preview/scene.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <memory>
#include <optional>

namespace vistrale {

// One shared window's picture in the share window's scene: the view's own layer
// (which carries the shadow and, once frozen, the last picture), the content layer
// with the window's picture at rounded corners, and the border layer drawn just
// outside the picture. The controller adds layer() to windowsView and sets or animates
// its frame; the content and border layers follow that frame by themselves. Main
// thread only.
class SKImageView {
public:
    // `camWidth ÷ screenWidth` scales the corner radius and the border with the output.
    SKImageView(double camWidth, double screenWidth);

    // The view's own layer.
    const std::shared_ptr<SceneLayer>& layer() const { return viewLayer; }

    // Shows a new picture of the window. `crop` is a part of the window in its own
    // coordinates (points, origin at the window's bottom left, y up, as everywhere in
    // the core); it takes effect when the view is not cropped yet, and a picture
    // without a crop shows the whole window again. The picture is shared, not copied.
    void setPicture(const QImage& image, std::optional<QRectF> crop = std::nullopt);
    // Keeps the last picture on the view itself and hides the content layer.
    void freeze();
    // The look of a window that fills the output: square corners on black, no shadow,
    // no border.
    void fullFrameLook();
    // Steps the border colour through clear, yellow, blue, green and red and back to
    // clear; the colour now shown.
    QColor nextBorderColor();
    // The stacking shadow: stronger for the active window. Changes only on a change.
    void setActive(bool active);

    static constexpr double CORNER_RADIUS = 15.0;

    // The view's parts and look, by the design's names.
    const double scale;
    const double borderWidth;
    const std::shared_ptr<SceneLayer> contentLayer;
    const std::shared_ptr<SceneLayer> borderLayer;

    // State the controller reads; the methods above change it.
    QColor borderColor = Qt::transparent;
    int borderIndex = 0;
    bool isActiveWindow = false;
    bool cropped = false;

private:
    std::shared_ptr<SceneLayer> viewLayer;
};

} // namespace vistrale
