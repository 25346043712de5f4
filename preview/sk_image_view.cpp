#include "preview/sk_image_view.h"

#include <array>

namespace vistrale {
namespace {

const std::array<QColor, 5> BORDER_COLORS = {
    QColor(Qt::transparent),
    QColor(Qt::yellow),
    QColor::fromRgbF(0.3f, 0.3f, 1.0f),
    QColor::fromRgbF(0.3f, 1.0f, 0.3f),
    QColor::fromRgbF(1.0f, 0.3f, 0.3f),
};

LayerShadow stackingShadow(double blurRadius)
{
    QColor color(Qt::black);
    color.setAlphaF(1.0f / 3.0f);
    return LayerShadow{color, QPointF(0, 0), blurRadius};
}

constexpr double INACTIVE_SHADOW_BLUR = 2.0;
constexpr double ACTIVE_SHADOW_BLUR = 8.0;

} // namespace

SKImageView::SKImageView(double camWidth, double screenWidth)
    : scale(screenWidth > 0 ? camWidth / screenWidth : 1.0)
    , borderWidth(4 * scale)
    , contentLayer(std::make_shared<SceneLayer>(QStringLiteral("content")))
    , borderLayer(std::make_shared<SceneLayer>(QStringLiteral("border")))
    , viewLayer(std::make_shared<SceneLayer>(QStringLiteral("window")))
{
    const double radius = CORNER_RADIUS * scale;

    viewLayer->setBackgroundColor(Qt::transparent);
    viewLayer->setMasksToBounds(false);
    viewLayer->setContentsGravity(ContentsGravity::ResizeAspect);
    viewLayer->setShadow(stackingShadow(INACTIVE_SHADOW_BLUR));

    contentLayer->setFollowsParentBounds(QMarginsF(0, 0, 0, 0));
    contentLayer->setCornerRadius(radius - borderWidth);
    contentLayer->setMasksToBounds(true);
    contentLayer->setContentsGravity(ContentsGravity::ResizeAspect);
    viewLayer->addChild(contentLayer);

    // The border sits just outside the picture, overlapping it by one point so that no
    // gap shows between the two at fractional positions.
    const double outset = -(borderWidth - 1);
    borderLayer->setFollowsParentBounds(QMarginsF(outset, outset, outset, outset));
    borderLayer->setBorderWidth(borderWidth);
    borderLayer->setCornerRadius(radius);
    borderLayer->setBorderColor(Qt::transparent);
    borderLayer->setMasksToBounds(true);
    borderLayer->setZPosition(1);
    viewLayer->addChild(borderLayer);
}

void SKImageView::setPicture(const QImage& image, std::optional<QRectF> crop)
{
    if (crop && !cropped && image.width() > 0 && image.height() > 0) {
        // The crop counts y up from the window's bottom edge; contents rectangles count
        // rows of the picture, which start at its top.
        const double w = image.width();
        const double h = image.height();
        contentLayer->setContentsRect(
            QRectF(crop->x() / w, (h - crop->y() - crop->height()) / h, crop->width() / w, crop->height() / h));
        cropped = true;
    } else if (!crop && cropped) {
        contentLayer->setContentsRect(QRectF(0, 0, 1, 1));
        cropped = false;
    }
    contentLayer->setContents(image);
}

void SKImageView::freeze()
{
    viewLayer->setContents(contentLayer->contents());
    viewLayer->setContentsRect(contentLayer->contentsRect());
    contentLayer->setHidden(true);
}

void SKImageView::fullFrameLook()
{
    viewLayer->setShadow(std::nullopt);
    viewLayer->setCornerRadius(0);
    viewLayer->setBackgroundColor(Qt::black);
    contentLayer->setCornerRadius(0);
    contentLayer->setBackgroundColor(Qt::black);
    borderLayer->setBorderWidth(0);
}

QColor SKImageView::nextBorderColor()
{
    borderIndex = (borderIndex + 1) % static_cast<int>(BORDER_COLORS.size());
    borderColor = BORDER_COLORS[static_cast<std::size_t>(borderIndex)];
    borderLayer->setBorderColor(borderColor);
    return borderColor;
}

void SKImageView::setActive(bool active)
{
    if (active == isActiveWindow)
        return;
    isActiveWindow = active;
    viewLayer->setShadow(stackingShadow(active ? ACTIVE_SHADOW_BLUR : INACTIVE_SHADOW_BLUR));
}

} // namespace vistrale
