#pragma once

#include <QString>
#include <vector>

namespace vistrale {

// One recognised word or word group: when it began (seconds on the host clock,
// Clock::now()), how long it lasted, and its text.
struct Utter {
    double timestamp = 0;
    double duration = 0;
    QString substring;
};

// A time as SubRip writes it: hours, minutes and seconds, each at least two digits,
// then "," and the milliseconds (3725.04 → "01:02:05,040").
QString subRipTime(double seconds);

// Numbered entries, each "number\nstart --> end\ntext", separated by "\n\n".
QString makeSubRip(const std::vector<Utter>& utters);

// The utterances of a recording that ran from `start` to `end` (host clock), with times
// from the recording's start: earlier ones are left out, and so are ones that end more
// than 2.5 s after the recording did; a negative duration becomes 20 s (logged).
QString subRip(const std::vector<Utter>& utters, double start, double end);

} // namespace vistrale
