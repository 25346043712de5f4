#include "overlays/magnifier_view.h"

#include "overlays/pointer_geometry.h"
#include "platform/clock.h"
#include "preview/scene.h"
#include "preview/view_tags.h"

namespace vistrale {

QColor MagnifierView::borderColor()
{
    QColor blue(0, 122, 255);
    blue.setAlphaF(0.8f);
    return blue;
}

MagnifierView::MagnifierView(Scene& scene, Clock& clock)
    : scene(scene)
    , clock(clock)
    , view(std::make_shared<SceneLayer>(QStringLiteral("cursorMagnifier")))
{
    view->setTag(WEBCAM_TAG);
    view->setZPosition(WEBCAM_TAG);
    view->setFrame(QRectF(0, 0, SIZE, SIZE));
    view->setBackgroundColor(Qt::black);
    view->setCornerRadius(SIZE / 2);
    view->setMask(LayerMask::Ellipse);
    view->setMasksToBounds(true);
    view->setBorderWidth(3.0);
    view->setBorderColor(borderColor());
    view->setContentsGravity(ContentsGravity::ResizeAspectFill);
    view->setHidden(true);
}

MagnifierView::~MagnifierView()
{
    setWindow(0);
    view->removeFromParent();
}

void MagnifierView::update(QPointF point, const std::optional<QRectF>& frame, QPointF pointer)
{
    pos = point;
    view->setFrame(QRectF(point.x() - SIZE / 2, point.y() - SIZE / 2, SIZE, SIZE));
    if (frame) {
        if (const std::optional<QRectF> part = magnifierContentsRect(*frame, pointer))
            view->setContentsRect(*part);
    }
    view->setHidden(false);
}

void MagnifierView::setPicture(const QImage& picture)
{
    if (picture.isNull())
        return;
    hasFrame = true;
    view->setContents(picture);
}

void MagnifierView::setWindow(qint64 windowNumber)
{
    std::lock_guard guard(feed->lock);
    feed->window = windowNumber;
    feed->latest.reset();
}

void MagnifierView::hide()
{
    view->setHidden(true);
}

bool MagnifierView::isVisible() const
{
    return !view->isHidden();
}

void MagnifierView::offerFrame(const FrameRef& frame, qint64 windowNumber)
{
    if (!frame)
        return;
    {
        std::lock_guard guard(feed->lock);
        if (windowNumber == 0 || windowNumber != feed->window)
            return;
        feed->latest = frame;
        if (feed->posted)
            return;
        feed->posted = true;
    }
    // One post at a time: a slow main thread gets the newest frame, not a queue.
    std::weak_ptr<bool> token = alive;
    std::shared_ptr<Feed> shared = feed;
    clock.postToMain([this, token, shared, windowNumber] {
        FrameRef shown;
        {
            std::lock_guard guard(shared->lock);
            shared->posted = false;
            if (shared->window == windowNumber)
                shown = std::move(shared->latest);
        }
        if (!token.expired() && shown)
            setPicture(shown->image);
    });
}

} // namespace vistrale
