#include "captions/caption_export.h"

#include "captions/caption_box.h"
#include "captions/subrip.h"
#include "platform/log.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace vistrale {
namespace {

std::optional<double> milliseconds(const QString& field)
{
    bool ok = false;
    const double value = field.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::vector<CaptionEntry> parseCaptionEntries(const QString& captions)
{
    std::vector<CaptionEntry> entries;
    if (captions.isEmpty())
        return entries;
    for (const QString& entry : captions.split(QStringLiteral("###"))) {
        const QStringList fields = entry.split(QStringLiteral("___"));
        const std::optional<double> start = fields.size() >= 3 ? milliseconds(fields[1]) : std::nullopt;
        const std::optional<double> end = fields.size() >= 3 ? milliseconds(fields[2]) : std::nullopt;
        if (!start || !end) {
            logLine("caption entry skipped", printableText(entry, 80));
            continue;
        }
        entries.push_back({fields[0], *start, *end});
    }
    return entries;
}

QString subRipOfEntries(const std::vector<CaptionEntry>& entries)
{
    std::vector<Utter> utters;
    for (const CaptionEntry& entry : entries) {
        const QString text = entry.text.simplified();
        if (!text.isEmpty())
            utters.push_back({entry.start / 1000, std::max(0.0, entry.end - entry.start) / 1000, text});
    }
    std::stable_sort(
        utters.begin(), utters.end(), [](const Utter& a, const Utter& b) { return a.timestamp < b.timestamp; });
    return makeSubRip(utters);
}

std::vector<BaseOverlay> captionOverlays(const std::vector<CaptionEntry>& entries, QRectF box, int lines)
{
    std::vector<BaseOverlay> overlays;
    const QColor background(0, 0, 0, static_cast<int>(std::lround(255 * CAPTION_BACKGROUND_ALPHA)));
    const QSize size = box.size().toSize();
    QString running;
    for (const CaptionEntry& entry : entries) {
        running = captionTail(running + entry.text + QLatin1Char(' '), box.width() - 2 * CAPTION_MARGIN_X, lines + 1);
        BaseOverlay overlay;
        overlay.frame = box;
        overlay.delay = entry.start / 1000;
        overlay.duration = entry.end / 1000 - entry.start / 1000;
        overlay.backgroundColor = background;
        overlay.layer = [text = running, size] { return renderCaptionBoxPicture(text, size); };
        overlays.push_back(std::move(overlay));
    }
    return overlays;
}

} // namespace vistrale
