#pragma once

#include "platform/ffmpeg/ffmpeg_streams.h"

#include <QString>
#include <vector>

struct AVFormatContext;
struct AVPacket;
struct AVStream;
struct AVCodecContext;

namespace vistrale {

// One entry of a SubRip text, in milliseconds.
struct SubtitleCue {
    long long start = 0;
    long long end = 0;
    QString text;
};

// The entries of a SubRip text ("1\n00:00:00,500 --> 00:00:01,750\nhello\n\n2\n..."),
// in their order; an entry without a readable time line, or ending before it starts,
// is left out with one log line.
std::vector<SubtitleCue> parseSubRip(const QString& text);

// A subtitle track in QuickTime text (mov_text, as MPEG-4 and QuickTime movies carry
// it), English, its packets made from SubRip cues. One thread.
class MovTextTrack : public ffmpeg::PacketSource {
public:
    ~MovTextTrack() override;
    // Adds the track to `output` (before its header is written); false with `error`
    // when there is nothing to add or the encoder cannot be opened.
    bool open(AVFormatContext* output, const QString& subRip, QString* error);
    // The next cue's packet, in the track's time base; false at the end.
    bool next(AVPacket* packet) override;

private:
    std::vector<SubtitleCue> cues;
    std::size_t at = 0;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
};

} // namespace vistrale
