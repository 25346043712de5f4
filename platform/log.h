#pragma once

#include <QString>
#include <QStringList>
#include <type_traits>

namespace vistrale {

// One plain line on standard output: the fixed text, then each value, joined by one
// blank ("found sink stream 2", "changeResolution 1280 720"). A text that already
// ends with "=" or a blank takes its first value as it is ("initSink resultStart=0",
// "request failed: reason"). Any thread.
void logLine(const QString& text);
void logParts(const QString& text, const QStringList& values);

// Text from outside (paths, names, messages) made safe for one log line: control and
// format characters become "?", and it is cut to `limit` characters.
QString printableText(const QString& text, int limit = 300);

// The text form of one logged value.
inline QString logValue(const QString& value)
{
    return value;
}
inline QString logValue(const char* value)
{
    return QString::fromUtf8(value);
}
inline QString logValue(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
template <typename Number, typename = std::enable_if_t<std::is_arithmetic_v<Number>>> QString logValue(Number value)
{
    if constexpr (std::is_floating_point_v<Number>)
        return QString::number(static_cast<double>(value), 'g', 10);
    else
        return QString::number(value);
}

template <typename... Values> void logLine(const QString& text, const Values&... values)
{
    logParts(text, QStringList{logValue(values)...});
}

} // namespace vistrale
