#include "platform/log.h"

#include <cstdio>
#include <mutex>

namespace vistrale {
namespace {
std::mutex outputLock;
}

void logLine(const QString& text)
{
    const QByteArray line = text.toUtf8();
    std::lock_guard lock(outputLock);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString printableText(const QString& text, int limit)
{
    QString safe = text.left(limit);
    for (QChar& c : safe) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            c = QLatin1Char('?');
    }
    if (text.size() > limit)
        safe += QStringLiteral("…");
    return safe;
}

void logParts(const QString& text, const QStringList& values)
{
    QString line = text;
    for (const QString& value : values) {
        const bool joined = line.isEmpty() || line.endsWith(QLatin1Char('=')) || line.back().isSpace();
        if (!joined)
            line += QLatin1Char(' ');
        line += value;
    }
    logLine(line);
}

} // namespace vistrale
