#include "preview/share_window_view.h"

#include <QPainter>

namespace vistrale {

ShareWindowView::ShareWindowView(QSize size)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
{
    setWindowTitle(tr("Vistrale Share"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(size);
}

void ShareWindowView::showFrame(FrameRef next)
{
    {
        std::lock_guard guard(lock);
        frame = std::move(next);
        if (repaintQueued || !onScreen.load())
            return;
        repaintQueued = true;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            {
                std::lock_guard guard(lock);
                repaintQueued = false;
            }
            update();
        },
        Qt::QueuedConnection);
}

void ShareWindowView::showEvent(QShowEvent*)
{
    onScreen = true;
}

void ShareWindowView::hideEvent(QHideEvent*)
{
    onScreen = false;
}

void ShareWindowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    FrameRef shown;
    {
        std::lock_guard guard(lock);
        shown = frame;
    }
    if (shown)
        painter.drawImage(rect(), shown->image);
    else
        painter.fillRect(rect(), Qt::black);
}

} // namespace vistrale
