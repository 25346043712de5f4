#include "webcam/webcam_pictures.h"

#include <QDir>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

namespace vistrale {
namespace {

// A camera body with its lens, in a 100 × 60 box at `origin`.
void drawCamera(QPainter& painter, QPointF origin, double scale)
{
    painter.save();
    painter.translate(origin);
    painter.scale(scale, scale);
    QPainterPath body;
    body.addRoundedRect(QRectF(0, 10, 70, 50), 8, 8);
    QPainterPath lens;
    lens.moveTo(72, 25);
    lens.lineTo(100, 12);
    lens.lineTo(100, 58);
    lens.lineTo(72, 45);
    lens.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(220, 220, 225));
    painter.drawPath(body);
    painter.drawPath(lens);
    painter.restore();
}

QImage problemPicture(const QString& text, bool crossed)
{
    QImage image(640, 360, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient shade(0, 0, 0, 360);
    shade.setColorAt(0, QColor(46, 52, 64));
    shade.setColorAt(1, QColor(24, 26, 32));
    painter.fillRect(image.rect(), shade);
    drawCamera(painter, QPointF(245, 95), 1.5);
    if (crossed) {
        painter.setPen(QPen(QColor(235, 87, 87), 12, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(250, 80), QPointF(395, 200));
    }
    QFont font;
    font.setPixelSize(28);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(235, 235, 240));
    painter.drawText(QRectF(20, 240, 600, 80), Qt::AlignCenter | Qt::TextWordWrap, text);
    return image;
}

} // namespace

QImage cameraPermissionPicture()
{
    static const QImage picture = problemPicture(QStringLiteral("Vistrale may not use the camera"), true);
    return picture;
}

QImage cameraProblemPicture(const QString& text)
{
    return problemPicture(text, false);
}

QImage defaultAvatarPicture()
{
    static const QImage picture = [] {
        QImage image(512, 512, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient shade(0, 0, 512, 512);
        shade.setColorAt(0, QColor(101, 145, 240));
        shade.setColorAt(1, QColor(62, 92, 170));
        painter.fillRect(image.rect(), shade);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 220));
        painter.drawEllipse(QPointF(256, 200), 92, 92);
        QPainterPath shoulders;
        shoulders.addEllipse(QRectF(86, 320, 340, 300));
        painter.drawPath(shoulders);
        return image;
    }();
    return picture;
}

QImage readPictureFile(const QString& path, QString* why, int maxMegabytes)
{
    QImageReader reader(path);
    reader.setAllocationLimit(maxMegabytes);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull() && why)
        *why = reader.errorString();
    return image;
}

} // namespace vistrale
