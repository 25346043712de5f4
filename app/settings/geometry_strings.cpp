#include "app/settings/geometry_strings.h"

#include <QRegularExpression>
#include <cmath>

namespace vistrale {
namespace {

QString number(double value)
{
    return QString::number(value, 'g', 15);
}

const QString NUMBER = QStringLiteral(R"(\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*)");

std::optional<double> finite(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

QString rectString(const QRectF& rect)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}")
        .arg(number(rect.x()), number(rect.y()), number(rect.width()), number(rect.height()));
}

QString pointString(const QPointF& point)
{
    return QStringLiteral("{%1, %2}").arg(number(point.x()), number(point.y()));
}

std::optional<QRectF> parseRectString(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(R"(^\s*\{\s*\{%1,%1\}\s*,\s*\{%1,%1\}\s*\}\s*$)").arg(NUMBER));
    if (text.size() > 256)
        return std::nullopt;
    const auto match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    double values[4];
    for (int i = 0; i < 4; ++i) {
        const auto value = finite(match.captured(i + 1));
        if (!value)
            return std::nullopt;
        values[i] = *value;
    }
    return QRectF(values[0], values[1], values[2], values[3]);
}

std::optional<QPointF> parsePointString(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(R"(^\s*\{%1,%1\}\s*$)").arg(NUMBER));
    if (text.size() > 128)
        return std::nullopt;
    const auto match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto x = finite(match.captured(1));
    const auto y = finite(match.captured(2));
    if (!x || !y)
        return std::nullopt;
    return QPointF(*x, *y);
}

} // namespace vistrale
