#include "documents/pdf_page_view.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfPageRenderer>
#include <QWheelEvent>
#include <algorithm>

namespace vistrale {

PdfPageView::PdfPageView(QPdfDocument& document, QWidget* parent)
    : QWidget(parent)
    , document(document)
    , renderer(new QPdfPageRenderer(this))
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    renderer->setRenderMode(QPdfPageRenderer::RenderMode::MultiThreaded);
    renderer->setDocument(&document);
    connect(renderer, &QPdfPageRenderer::pageRendered, this,
        [this](int number, QSize size, const QImage& image, QPdfDocumentRenderOptions, quint64 requestId) {
            if (requestId != pendingRequest)
                return;
            // Rendered pages are transparent where the page is blank.
            QImage page(image.size(), QImage::Format_RGB32);
            page.fill(Qt::white);
            QPainter painter(&page);
            painter.drawImage(0, 0, image);
            painter.end();
            picture = page;
            shownPage = number;
            shownSize = size;
            update();
        });
}

PdfPageView::~PdfPageView() = default;

int PdfPageView::pageCount() const
{
    return document.pageCount();
}

void PdfPageView::setPage(int number)
{
    number = std::clamp(number, 0, std::max(0, pageCount() - 1));
    if (number == page)
        return;
    page = number;
    requestRender();
}

QRectF PdfPageView::pageRect() const
{
    const QSizeF points = document.pagePointSize(page);
    if (points.isEmpty() || width() <= 0 || height() <= 0)
        return {};
    const QSizeF fitted = points.scaled(size(), Qt::KeepAspectRatio);
    return QRectF(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

QSize PdfPageView::targetSize() const
{
    return (pageRect().size() * devicePixelRatioF()).toSize();
}

void PdfPageView::requestRender()
{
    const QSize size = targetSize();
    if (size.isEmpty() || pageCount() == 0)
        return;
    pendingRequest = renderer->requestPage(page, size);
}

void PdfPageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QRectF target = pageRect();
    if (target.isEmpty())
        return;
    if (picture.isNull()) {
        painter.fillRect(target, Qt::white);
        return;
    }
    // Until the new size is rendered the old picture stands in, scaled.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, shownSize != targetSize());
    painter.drawImage(target, picture);
}

void PdfPageView::resizeEvent(QResizeEvent*)
{
    requestRender();
}

void PdfPageView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageDown:
    case Qt::Key_Space:
        setPage(page + 1);
        break;
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_PageUp:
    case Qt::Key_Backspace:
        setPage(page - 1);
        break;
    case Qt::Key_Home:
        setPage(0);
        break;
    case Qt::Key_End:
        setPage(pageCount() - 1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void PdfPageView::wheelEvent(QWheelEvent* event)
{
    // One page per notch; touchpads add up small steps.
    wheelAngle += event->angleDelta().y();
    while (wheelAngle <= -120) {
        wheelAngle += 120;
        setPage(page + 1);
    }
    while (wheelAngle >= 120) {
        wheelAngle -= 120;
        setPage(page - 1);
    }
    event->accept();
}

} // namespace vistrale
