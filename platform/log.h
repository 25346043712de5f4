#pragma once

#include <QString>

namespace vistrale {

// One plain line on standard output: the fixed text, then the value when there is one.
// Any thread.
void logLine(const QString& text);
void logLine(const QString& text, const QString& value);
void logLine(const QString& text, double value);

} // namespace vistrale
