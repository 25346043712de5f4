#include "captions/subrip.h"

#include "platform/log.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace vistrale {
namespace {

constexpr double NEGATIVE_DURATION_REPLACEMENT = 20.0;
constexpr double TAIL_SECONDS = 2.5;

} // namespace

QString subRipTime(double seconds)
{
    // Rounded to whole milliseconds first, so that 59.9996 s reads "00:01:00,000".
    const long long total = std::max(0LL, std::llround(seconds * 1000));
    const long long whole = total / 1000;
    return QString("%1:%2:%3,%4")
        .arg(whole / 3600, 2, 10, QChar('0'))
        .arg(whole / 60 % 60, 2, 10, QChar('0'))
        .arg(whole % 60, 2, 10, QChar('0'))
        .arg(total % 1000, 3, 10, QChar('0'));
}

QString makeSubRip(const std::vector<Utter>& utters)
{
    QStringList entries;
    int number = 1;
    for (const Utter& utter : utters) {
        entries << QString::number(number++) + "\n" + subRipTime(utter.timestamp) + " --> "
                + subRipTime(utter.timestamp + utter.duration) + "\n" + utter.substring;
    }
    return entries.join("\n\n");
}

QString subRip(const std::vector<Utter>& utters, double start, double end)
{
    std::vector<Utter> kept;
    for (const Utter& utter : utters) {
        if (utter.timestamp < start)
            continue;
        const double t = utter.timestamp - start;
        double d = utter.duration;
        if (d < 0) {
            logLine("duration negative, assigning 20.0", d);
            d = NEGATIVE_DURATION_REPLACEMENT;
        } else if (d != NEGATIVE_DURATION_REPLACEMENT && t + d > (end - start) + TAIL_SECONDS) {
            continue;
        }
        kept.push_back({t, d, utter.substring});
    }
    return makeSubRip(kept);
}

} // namespace vistrale
