#pragma once

#include "tests/support/test_files.h"

#include <QColor>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSizeF>
#include <QString>

namespace vistrale::test {

// Writes a PDF of `pages` pages of `pagePoints` each, every page filled with `fill`
// and numbered in large black digits. False when it cannot be written.
inline bool writeTestPdf(const QString& path, QSizeF pagePoints, int pages = 1, QColor fill = QColor(0, 160, 0))
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(pagePoints, QPageSize::Point));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(72);
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        const QRectF whole(QPointF(0, 0), pagePoints);
        painter.fillRect(whole, fill);
        QFont font = painter.font();
        font.setPixelSize(static_cast<int>(pagePoints.height() / 4));
        painter.setFont(font);
        painter.drawText(whole, Qt::AlignCenter, QString::number(page + 1));
    }
    return painter.end();
}

} // namespace vistrale::test
