#include "preview/preview_content_view.h"

#include <QPainter>
#include <QPainterPath>

namespace vistrale {

PreviewContentView::PreviewContentView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void PreviewContentView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (onResize)
        onResize();
}

void PreviewContentView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 4.0, 4.0);
    painter.fillPath(path, Qt::black);
}

} // namespace vistrale
