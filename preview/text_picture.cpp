#include "preview/text_picture.h"

#include <QFont>
#include <QPainter>

namespace vistrale {

QImage renderTextPicture(
    const QString& text, QSize size, double pointSize, const QColor& color, Qt::Alignment alignment)
{
    if (text.isEmpty() || size.isEmpty())
        return {};
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    QFont font;
    font.setPixelSize(std::max(1, static_cast<int>(pointSize)));
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(picture.rect(), static_cast<int>(alignment | Qt::TextSingleLine), text);
    return picture;
}

} // namespace vistrale
