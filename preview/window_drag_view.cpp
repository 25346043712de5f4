#include "preview/window_drag_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QWindow>
#include <utility>

namespace vistrale {

WindowDragView::WindowDragView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    // Takes the keyboard when clicked, so that "+" and "-" reach the webcam.
    setFocusPolicy(Qt::ClickFocus);
}

void WindowDragView::showFrame(FrameRef next)
{
    {
        std::lock_guard guard(lock);
        const bool sameSize = frame && next && frame->image.size() == next->image.size();
        if (next && next->changed && sameSize)
            changed |= *next->changed;
        else
            changedWhole = true;
        frame = std::move(next);
        if (repaintQueued || (!changedWhole && changed.isEmpty()))
            return;
        repaintQueued = true;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            QRect area;
            bool whole;
            QSize pictureSize;
            {
                std::lock_guard guard(lock);
                repaintQueued = false;
                area = std::exchange(changed, QRect());
                whole = std::exchange(changedWhole, false);
                pictureSize = frame ? frame->image.size() : QSize();
            }
            if (whole || pictureSize.isEmpty()) {
                update();
                return;
            }
            // Only the part of the preview that shows the changed pixels, with a
            // margin for the smoothing of the scaled picture.
            const double sx = double(width()) / pictureSize.width();
            const double sy = double(height()) / pictureSize.height();
            update(QRectF(area.x() * sx, area.y() * sy, area.width() * sx, area.height() * sy)
                       .toAlignedRect()
                       .adjusted(-2, -2, 2, 2));
        },
        Qt::QueuedConnection);
}

FrameRef WindowDragView::lastFrame() const
{
    std::lock_guard guard(lock);
    return frame;
}

void WindowDragView::setDefaultImage(const QImage& image)
{
    defaultImage = image;
    update();
}

void WindowDragView::setNoPermissionText(const QString& text)
{
    noPermissionText = text;
    update();
}

bool fileTypeIsOk(const QString& path)
{
    static const QStringList accepted{"jpg", "jpeg", "bmp", "png", "heic", "heif", "webp", "mp4", "mov", "doc", "docx",
        "rtf", "txt", "odt", "pages", "pdf", "ppt", "pptx", "key"};
    return accepted.contains(QFileInfo(path).suffix().toLower());
}

namespace {

// The first dragged file, when the drag carries local files.
QString firstDraggedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty() || !data->urls().first().isLocalFile())
        return {};
    return data->urls().first().toLocalFile();
}

} // namespace

void WindowDragView::setDropHandler(std::function<void(const QString&, QPointF)> handler)
{
    dropHandler = std::move(handler);
    setAcceptDrops(static_cast<bool>(dropHandler));
}

void WindowDragView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!fileTypeIsOk(firstDraggedFile(event->mimeData())))
        return;
    event->acceptProposedAction();
    if (dragHoverHandler)
        dragHoverHandler(event->position());
}

void WindowDragView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!fileTypeIsOk(firstDraggedFile(event->mimeData())))
        return;
    event->acceptProposedAction();
    if (dragHoverHandler)
        dragHoverHandler(event->position());
}

void WindowDragView::dragLeaveEvent(QDragLeaveEvent*)
{
    if (dragHoverHandler)
        dragHoverHandler(std::nullopt);
}

void WindowDragView::dropEvent(QDropEvent* event)
{
    if (dragHoverHandler)
        dragHoverHandler(std::nullopt);
    const QString path = firstDraggedFile(event->mimeData());
    if (!fileTypeIsOk(path) || !dropHandler)
        return;
    event->acceptProposedAction();
    dropHandler(path, event->position());
}

void WindowDragView::setContextMenuHandler(std::function<void(QPoint)> handler)
{
    contextMenuHandler = std::move(handler);
}

void WindowDragView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const FrameRef shown = lastFrame();
    const QImage& picture = shown ? shown->image : defaultImage;
    if (!picture.isNull())
        painter.drawImage(QRectF(rect()), picture);
    if (!noPermissionText.isEmpty()) {
        QFont font = painter.font();
        font.setPixelSize(12);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, noPermissionText);
    }
}

void WindowDragView::contextMenuEvent(QContextMenuEvent* event)
{
    if (contextMenuHandler)
        contextMenuHandler(event->globalPos());
}

void WindowDragView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pressPosition = event->globalPosition().toPoint();
        innerPress = pressHandler && pressHandler(event->position());
        innerDragged = false;
    }
    QWidget::mousePressEvent(event);
}

void WindowDragView::setPointerShapeHandler(std::function<Qt::CursorShape(QPointF)> handler)
{
    pointerShapeHandler = std::move(handler);
    setMouseTracking(bool(pointerShapeHandler));
}

void WindowDragView::mouseMoveEvent(QMouseEvent* event)
{
    if (pointerShapeHandler && event->buttons() == Qt::NoButton) {
        const Qt::CursorShape shape = pointerShapeHandler(event->position());
        if (cursor().shape() != shape)
            setCursor(shape);
    }
    const bool pastDragDistance = pressPosition
        && (event->globalPosition().toPoint() - *pressPosition).manhattanLength() >= QApplication::startDragDistance();
    if (innerPress && (event->buttons() & Qt::LeftButton)) {
        if (innerDragged || pastDragDistance) {
            innerDragged = true;
            if (dragHandler)
                dragHandler(event->position(), false);
        }
    } else if (pastDragDistance && (event->buttons() & Qt::LeftButton)) {
        pressPosition.reset();
        // The window manager moves the window; the preview window hears of the move.
        if (QWindow* handle = window()->windowHandle())
            handle->startSystemMove();
    }
    QWidget::mouseMoveEvent(event);
}

void WindowDragView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const bool wasDragged = innerPress && innerDragged;
        if (innerPress && dragHandler)
            dragHandler(event->position(), true);
        innerPress = false;
        innerDragged = false;
        if (pressPosition && !wasDragged && clickHandler)
            clickHandler(event->position(), event->modifiers());
        pressPosition.reset();
    }
    QWidget::mouseReleaseEvent(event);
}

void WindowDragView::wheelEvent(QWheelEvent* event)
{
    if (wheelHandler)
        wheelHandler(event->angleDelta().y());
    event->accept();
}

void WindowDragView::keyPressEvent(QKeyEvent* event)
{
    if (keyHandler && keyHandler(event->key(), event->text())) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vistrale
