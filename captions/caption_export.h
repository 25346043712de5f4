#pragma once

#include "recording/video_overlay_processor.h"

#include <QRectF>
#include <QString>
#include <vector>

namespace vistrale {

// One caption of the caption editor's exchange string, times in milliseconds from the
// start of the movie.
struct CaptionEntry {
    QString text;
    double start = 0;
    double end = 0;
};

// The caption editor's captions: entries separated by "###", the fields of an entry
// by "___" (text, start, end). An entry with fewer than three fields or with times that
// are not numbers is left out with one log line; the rest keep their order.
std::vector<CaptionEntry> parseCaptionEntries(const QString& captions);

// The entries as SubRip text, earliest start first (an entry that ends before it
// starts ends at its start): what the movie's subtitle track and .srt file carry.
QString subRipOfEntries(const std::vector<CaptionEntry>& entries);

// The captions burnt into a movie: for each entry, in order, an overlay at `box`
// (output points) that shows the running text of all entries up to and including it
// in the caption box's look with `lines` lines, from the entry's start on. Only the
// lines the box can show are kept with each overlay, so that a long talk costs little.
std::vector<BaseOverlay> captionOverlays(const std::vector<CaptionEntry>& entries, QRectF box, int lines);

} // namespace vistrale
