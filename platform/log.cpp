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

void logLine(const QString& text, const QString& value)
{
    logLine(text + value);
}

void logLine(const QString& text, double value)
{
    logLine(text + QString::number(value, 'g', 10));
}

} // namespace vistrale
