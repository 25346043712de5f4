#include "app/preview_window.h"

#include "platform/window_server.h"
#include "preview/desktop_geometry.h"

#include <QCloseEvent>
#include <QLabel>
#include <QSizeGrip>

namespace vistrale {

PreviewWindow::PreviewWindow(OwnWindows& ownWindows, QSize aspect, QSize minimum)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , ownWindows(ownWindows)
    , aspect(aspect)
{
    setWindowTitle(tr("Vistrale Preview"));
    setMinimumSize(minimum);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DeleteOnClose, false);
    // A frameless window is resized from its corner grip.
    auto* grip = new QSizeGrip(this);
    grip->setObjectName("previewSizeGrip");
    grip->resize(12, 12);
    settle.setSingleShot(true);
    settle.setInterval(400);
    connect(&settle, &QTimer::timeout, this, [this] {
        if (onFrameChanged && isVisible() && geometry() != placedGeometry) {
            placedGeometry = geometry();
            onFrameChanged(frameFromQtGeometry(geometry()));
        }
    });
}

void PreviewWindow::setContent(QWidget* widget)
{
    content = widget;
    content->setParent(this);
    content->setGeometry(rect());
    content->show();
    if (auto* grip = findChild<QSizeGrip*>("previewSizeGrip"))
        grip->raise();
}

void PreviewWindow::placeAt(const QRectF& frame)
{
    placedGeometry = qtGeometryFromFrame(frame);
    setGeometry(placedGeometry);
}

void PreviewWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (onClose)
        onClose();
}

void PreviewWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    applyDesktopBehaviour();
}

void PreviewWindow::applyDesktopBehaviour()
{
    const quintptr id = winId();
    ownWindows.setKeepAbove(id, true);
    ownWindows.setOnAllDesktops(id);
    ownWindows.setAspectRatio(id, aspect.width(), aspect.height());
}

void PreviewWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    geometryChanged();
}

void PreviewWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (content)
        content->setGeometry(rect());
    if (auto* grip = findChild<QSizeGrip*>("previewSizeGrip"))
        grip->move(width() - grip->width(), height() - grip->height());
    placeStatusLabel();
    geometryChanged();
}

void PreviewWindow::geometryChanged()
{
    if (isVisible() && geometry() != placedGeometry)
        settle.start();
}

void PreviewWindow::setStatusText(const QString& text)
{
    if (!statusLabel) {
        statusLabel = new QLabel(this);
        statusLabel->setObjectName("previewStatusLabel");
        statusLabel->setAlignment(Qt::AlignCenter);
        statusLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
        statusLabel->setStyleSheet("QLabel { color: white; background: rgba(200, 0, 0, 170); border-radius: 6px;"
                                   " font-size: 11px; font-weight: bold; padding: 1px 6px; }");
    }
    statusLabel->setText(text);
    statusLabel->setVisible(!text.isEmpty());
    placeStatusLabel();
}

QString PreviewWindow::statusText() const
{
    return statusLabel && statusLabel->isVisibleTo(this) ? statusLabel->text() : QString();
}

void PreviewWindow::placeStatusLabel()
{
    if (!statusLabel)
        return;
    statusLabel->adjustSize();
    statusLabel->move((width() - statusLabel->width()) / 2, height() - statusLabel->height() - 6);
    statusLabel->raise();
}

} // namespace vistrale
