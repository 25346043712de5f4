#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace vistrale {

// The 961 positive words coloured in the captions, separated by "|".
extern const char* const HIGHLIGHT_WORDS;

// The English month names, their three-letter abbreviations, the weekday names and
// theirs, lower-cased, in that order (38 words).
QStringList calendarWords();

// "\b(" + the words + "|" + the calendar words + ")\b".
QString highlightPatternText();

// That pattern, case-insensitive, compiled once on first use. Any thread.
const QRegularExpression& highlightPattern();

} // namespace vistrale
