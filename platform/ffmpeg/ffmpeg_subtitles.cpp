#include "platform/ffmpeg/ffmpeg_subtitles.h"

#include "platform/ffmpeg/ffmpeg_util.h"
#include "platform/log.h"

#include <QRegularExpression>
#include <QStringList>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace vistrale {
namespace {

// The style the QuickTime text encoder starts from.
constexpr const char* ASS_HEADER = "[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 384\r\nPlayResY: 288\r\n\r\n"
                                   "[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
                                   "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, "
                                   "Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
                                   "MarginV, Encoding\r\nStyle: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,"
                                   "100,100,0,0,1,1,0,2,10,10,10,0\r\n\r\n[Events]\r\nFormat: Layer, Start, End, "
                                   "Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";

constexpr int MAX_PACKET = 4096;

long long milliseconds(const QRegularExpressionMatch& match, int first)
{
    return ((match.captured(first).toLongLong() * 60 + match.captured(first + 1).toLongLong()) * 60
               + match.captured(first + 2).toLongLong())
        * 1000
        + match.captured(first + 3).leftJustified(3, '0').toLongLong();
}

} // namespace

std::vector<SubtitleCue> parseSubRip(const QString& text)
{
    static const QRegularExpression timeLine(
        "^\\s*(\\d+):(\\d{1,2}):(\\d{1,2})[,.](\\d{1,3})\\s*-->\\s*(\\d+):(\\d{1,2}):(\\d{1,2})[,.](\\d{1,3})");
    std::vector<SubtitleCue> cues;
    QString normalised = text;
    normalised.replace("\r\n", "\n");
    for (const QString& block : normalised.split(QRegularExpression("\n\\s*\n"), Qt::SkipEmptyParts)) {
        QStringList lines = block.split('\n');
        while (!lines.isEmpty() && lines.first().trimmed().isEmpty())
            lines.removeFirst();
        // The number line is optional; the time line is not.
        if (!lines.isEmpty() && !timeLine.match(lines.first()).hasMatch())
            lines.removeFirst();
        const QRegularExpressionMatch match
            = lines.isEmpty() ? QRegularExpressionMatch() : timeLine.match(lines.first());
        if (!match.hasMatch()) {
            logLine("subtitle entry without a time line", printableText(block, 80));
            continue;
        }
        SubtitleCue cue{milliseconds(match, 1), milliseconds(match, 5), lines.mid(1).join('\n')};
        if (cue.end < cue.start) {
            logLine("subtitle entry ends before it starts", printableText(block, 80));
            continue;
        }
        cues.push_back(cue);
    }
    return cues;
}

MovTextTrack::~MovTextTrack()
{
    avcodec_free_context(&encoder);
}

bool MovTextTrack::open(AVFormatContext* output, const QString& subRip, QString* error)
{
    cues = parseSubRip(subRip);
    if (cues.empty()) {
        *error = "no subtitle entries";
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MOV_TEXT);
    if (!codec) {
        *error = "no QuickTime text encoder";
        return false;
    }
    encoder = avcodec_alloc_context3(codec);
    encoder->time_base = {1, 1000};
    const QByteArray header(ASS_HEADER);
    encoder->subtitle_header = static_cast<uint8_t*>(av_mallocz(header.size() + 1));
    memcpy(encoder->subtitle_header, header.constData(), header.size());
    encoder->subtitle_header_size = static_cast<int>(header.size());
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int status = avcodec_open2(encoder, codec, nullptr);
    if (status < 0) {
        *error = "cannot open the QuickTime text encoder: " + ffmpeg::errorText(status);
        return false;
    }
    stream = ffmpeg::encodedStream(output, encoder);
    av_dict_set(&stream->metadata, "language", "eng", 0);
    return true;
}

bool MovTextTrack::next(AVPacket* packet)
{
    while (at < cues.size()) {
        const SubtitleCue& cue = cues[at++];
        // One dialogue line: ReadOrder, Layer, Style, Name, MarginL, MarginR, MarginV,
        // Effect, Text. Braces would start style overrides; line breaks are "\N".
        QString text = cue.text;
        text.remove('{').remove('}').replace('\n', "\\N");
        const QByteArray dialogue = "0,0,Default,,0,0,0,," + text.toUtf8();
        AVSubtitleRect rect{};
        rect.type = SUBTITLE_ASS;
        rect.ass = const_cast<char*>(dialogue.constData());
        AVSubtitleRect* rects[] = {&rect};
        AVSubtitle subtitle{};
        subtitle.num_rects = 1;
        subtitle.rects = rects;
        subtitle.end_display_time = static_cast<uint32_t>(cue.end - cue.start);
        if (av_new_packet(packet, MAX_PACKET) < 0)
            return false;
        const int size = avcodec_encode_subtitle(encoder, packet->data, MAX_PACKET, &subtitle);
        if (size < 0) {
            logLine("subtitle entry cannot be encoded", printableText(cue.text, 80));
            av_packet_unref(packet);
            continue;
        }
        av_shrink_packet(packet, size);
        packet->pts = packet->dts = cue.start;
        packet->duration = cue.end - cue.start;
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        return true;
    }
    return false;
}

} // namespace vistrale
