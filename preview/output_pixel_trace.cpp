#include "preview/output_pixel_trace.h"

#include "platform/log.h"

#include <QStringList>

namespace vistrale {
namespace {

// Beyond any output picture; keeps the numbers sane.
constexpr int MAX_COORDINATE = 16384;
constexpr std::size_t MAX_POINTS = 64;

} // namespace

OutputPixelTrace::OutputPixelTrace(std::vector<QPoint> tracedPoints)
    : points(std::move(tracedPoints))
{
}

std::vector<QPoint> OutputPixelTrace::parse(const QString& value)
{
    std::vector<QPoint> found;
    const QStringList parts = value.split(';', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QStringList xy = part.split(',');
        bool okX = false, okY = false;
        const int x = xy.size() == 2 ? xy[0].trimmed().toInt(&okX) : 0;
        const int y = xy.size() == 2 ? xy[1].trimmed().toInt(&okY) : 0;
        if (!okX || !okY || x < 0 || y < 0 || x > MAX_COORDINATE || y > MAX_COORDINATE || found.size() == MAX_POINTS) {
            logLine(QString(VARIABLE) + " not usable: ", value);
            return {};
        }
        found.emplace_back(x, y);
    }
    return found;
}

OutputPixelTrace OutputPixelTrace::fromEnvironment()
{
    const QString value = qEnvironmentVariable(VARIABLE);
    if (value.isEmpty())
        return {};
    return OutputPixelTrace(parse(value));
}

QString OutputPixelTrace::line(const FrameBuffer& frame) const
{
    QString text = "output frame " + QString::number(frame.hostTime, 'f', 6);
    for (const QPoint& point : points) {
        text += QString(" %1,%2=").arg(point.x()).arg(point.y());
        if (!frame.image.rect().contains(point)) {
            text += "none";
            continue;
        }
        // Traced points are meant for opaque pixels, where premultiplying changes nothing.
        const QRgb pixel = frame.image.pixel(point);
        text += QString("#%1").arg(pixel & 0xffffff, 6, 16, QChar('0'));
    }
    return text;
}

void OutputPixelTrace::frame(const FrameBuffer& frame) const
{
    if (active())
        logLine(line(frame));
}

} // namespace vistrale
