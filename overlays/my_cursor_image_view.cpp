#include "overlays/my_cursor_image_view.h"

#include "overlays/pointer_geometry.h"
#include "platform/log.h"
#include "preview/scene.h"
#include "preview/view_tags.h"

namespace vistrale {

QColor MyCursorImageView::highlightColor()
{
    QColor blue(0, 122, 255);
    blue.setAlphaF(0.6f);
    return blue;
}

QColor MyCursorImageView::clickColor()
{
    return QColor(0, 122, 255);
}

MyCursorImageView::MyCursorImageView(Scene& scene)
    : backLayer(std::make_shared<SceneLayer>(QStringLiteral("cursorBack")))
    , foreLayer(std::make_shared<SceneLayer>(QStringLiteral("cursorFore")))
    , scene(scene)
    , view(std::make_shared<SceneLayer>(QStringLiteral("cursorView")))
{
    view->setTag(CURSOR_TAG);
    view->setZPosition(CURSOR_TAG);
    view->setFrame(QRectF(0, 0, SIZE, SIZE));
    view->setBackgroundColor(Qt::transparent);
    view->setOpacity(0);

    backLayer->setFollowsParentBounds(QMarginsF(0, 0, 0, 0));
    backLayer->setBorderWidth(3.0);
    backLayer->setCornerRadius(SIZE / 2);
    backLayer->setMask(LayerMask::Ellipse);
    view->addChild(backLayer);

    foreLayer->setZPosition(1);
    foreLayer->setContentsGravity(ContentsGravity::Resize);
    view->addChild(foreLayer);
}

MyCursorImageView::~MyCursorImageView()
{
    view->removeFromParent();
}

void MyCursorImageView::setPointer(const QImage& image, QPointF hotSpot)
{
    if (image.cacheKey() == prevKey && hotSpot == prevOffset && image.size() == prevSize)
        return;
    if (!acceptablePointerImage(image.size(), hotSpot)) {
        if (refusedKey != image.cacheKey()) {
            refusedKey = image.cacheKey();
            logLine("pointer image refused, size:", QString("%1x%2").arg(image.width()).arg(image.height()));
        }
        return;
    }
    prevKey = image.cacheKey();
    prevOffset = hotSpot;
    prevSize = image.size();
    foreLayer->setContents(image);
    placeImage();
}

void MyCursorImageView::setScale(double scale)
{
    if (scale <= 0 || scale == cursorScale)
        return;
    cursorScale = scale;
    placeImage();
}

void MyCursorImageView::placeImage()
{
    if (prevSize.isEmpty())
        return;
    // The pointer shrinks about its hot spot, which stays where the pointer points.
    foreLayer->setFrame(
        pointerImageFrame(QSizeF(SIZE, SIZE), prevOffset, prevSize, cursorScale * (zoomed ? ZOOMED : 1)));
}

void MyCursorImageView::update(QPointF point, bool highlight, bool click)
{
    alreadyHidden = false;
    backLayer->setBorderColor(click ? clickColor() : QColor(Qt::transparent));
    if (click != zoomed) {
        zoomed = click;
        placeImage();
    }
    backLayer->setBackgroundColor(highlight ? highlightColor() : QColor(Qt::transparent));
    if (view->opacity() != 1)
        scene.animate(view, std::nullopt, 1.0, 0, AnimationTiming::Linear);
    view->setFrame(QRectF(point.x() - SIZE / 2, point.y() - SIZE / 2, SIZE, SIZE));
}

bool MyCursorImageView::hide()
{
    if (alreadyHidden)
        return false;
    alreadyHidden = true;
    scene.animate(view, std::nullopt, 0.0, FADE_SECONDS, AnimationTiming::Linear);
    return true;
}

} // namespace vistrale
