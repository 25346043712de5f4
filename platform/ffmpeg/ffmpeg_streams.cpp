#include "platform/ffmpeg/ffmpeg_streams.h"

#include "platform/ffmpeg/ffmpeg_util.h"

#include <QFile>

namespace vistrale::ffmpeg {

Input openInput(const QString& path, AVMediaType type, int* streamIndex, QString* error)
{
    AVFormatContext* raw = nullptr;
    int status = avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (status < 0) {
        *error = "cannot open " + path + ": " + errorText(status);
        return nullptr;
    }
    Input input(raw);
    status = avformat_find_stream_info(raw, nullptr);
    if (status < 0) {
        *error = "cannot read " + path + ": " + errorText(status);
        return nullptr;
    }
    *streamIndex = av_find_best_stream(raw, type, -1, -1, nullptr, 0);
    if (*streamIndex < 0) {
        *error = QString("no %1 stream in ").arg(av_get_media_type_string(type)) + path;
        return nullptr;
    }
    return input;
}

bool readPacket(AVFormatContext* input, int streamIndex, AVPacket* packet)
{
    while (av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == streamIndex && packet->pts != AV_NOPTS_VALUE)
            return true;
        av_packet_unref(packet);
    }
    return false;
}

double streamEnd(const QString& path, AVMediaType type, QString* error)
{
    int index = -1;
    Input input = openInput(path, type, &index, error);
    if (!input)
        return -1;
    const AVRational timeBase = input->streams[index]->time_base;
    Packet packet(av_packet_alloc());
    std::int64_t end = AV_NOPTS_VALUE;
    while (readPacket(input.get(), index, packet.get())) {
        const std::int64_t packetEnd = packet->pts + std::max<std::int64_t>(packet->duration, 0);
        end = end == AV_NOPTS_VALUE ? packetEnd : std::max(end, packetEnd);
        av_packet_unref(packet.get());
    }
    if (end == AV_NOPTS_VALUE) {
        *error = QString("no %1 packets in ").arg(av_get_media_type_string(type)) + path;
        return -1;
    }
    return static_cast<double>(end) * av_q2d(timeBase);
}

CopiedStream::CopiedStream(Input input, int index, AVStream* output, double end)
    : input(std::move(input))
    , index(index)
    , output(output)
    , end(end)
{
}

bool CopiedStream::next(AVPacket* packet)
{
    if (!readPacket(input.get(), index, packet))
        return false;
    const AVRational timeBase = input->streams[index]->time_base;
    if (end >= 0 && static_cast<double>(packet->pts) * av_q2d(timeBase) >= end) {
        av_packet_unref(packet);
        return false;
    }
    av_packet_rescale_ts(packet, timeBase, output->time_base);
    packet->stream_index = output->index;
    packet->pos = -1;
    return true;
}

AVStream* copyStream(AVFormatContext* output, const AVStream* input)
{
    AVStream* stream = avformat_new_stream(output, nullptr);
    avcodec_parameters_copy(stream->codecpar, input->codecpar);
    stream->codecpar->codec_tag = 0;
    stream->time_base = input->time_base;
    return stream;
}

bool interleave(AVFormatContext* output, const std::vector<PacketSource*>& sources, QString* error,
    const std::function<bool()>& stop)
{
    std::vector<Packet> packets;
    std::vector<bool> have;
    for (PacketSource* source : sources) {
        packets.emplace_back(av_packet_alloc());
        have.push_back(source->next(packets.back().get()));
    }
    for (;;) {
        int earliest = -1;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            if (!have[i])
                continue;
            if (earliest < 0) {
                earliest = static_cast<int>(i);
                continue;
            }
            const AVPacket* a = packets[i].get();
            const AVPacket* b = packets[earliest].get();
            if (av_compare_ts(a->dts, output->streams[a->stream_index]->time_base, b->dts,
                    output->streams[b->stream_index]->time_base)
                < 0)
                earliest = static_cast<int>(i);
        }
        if (earliest < 0)
            return true;
        if (stop && stop()) {
            *error = "stopped";
            return false;
        }
        const int status = av_interleaved_write_frame(output, packets[earliest].get());
        if (status < 0) {
            *error = "cannot write the movie: " + errorText(status);
            return false;
        }
        have[earliest] = sources[earliest]->next(packets[earliest].get());
    }
}

} // namespace vistrale::ffmpeg
