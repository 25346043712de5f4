#include "platform/ffmpeg/ffmpeg_audio_file.h"

#include "platform/ffmpeg/ffmpeg_util.h"

#include <algorithm>

namespace vistrale {

AacFileWriter::~AacFileWriter()
{
    QString ignored;
    if (output)
        close(&ignored);
    release();
}

bool AacFileWriter::open(const QString& path, QString* error)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        *error = "no AAC encoder";
        return false;
    }
    output = ffmpeg::openOutput("ipod", path, error);
    if (!output)
        return false;
    encoder = avcodec_alloc_context3(codec);
    encoder->sample_rate = SAMPLE_RATE;
    av_channel_layout_default(&encoder->ch_layout, CHANNELS);
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->bit_rate = BIT_RATE;
    encoder->time_base = {1, SAMPLE_RATE};
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int status = avcodec_open2(encoder, codec, nullptr);
    if (status < 0) {
        *error = "cannot open the AAC encoder: " + ffmpeg::errorText(status);
        release();
        return false;
    }
    stream = ffmpeg::encodedStream(output, encoder);
    AVDictionary* muxing = ffmpeg::fragmentedOptions(false);
    status = avformat_write_header(output, &muxing);
    av_dict_free(&muxing);
    if (status < 0) {
        *error = "cannot write the audio header: " + ffmpeg::errorText(status);
        release();
        return false;
    }
    frame = av_frame_alloc();
    frame->format = encoder->sample_fmt;
    frame->nb_samples = encoder->frame_size;
    av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
    packet = av_packet_alloc();
    if (av_frame_get_buffer(frame, 0) < 0) {
        *error = "out of memory";
        release();
        return false;
    }
    return true;
}

bool AacFileWriter::write(const std::int16_t* samples, int frames, QString* error)
{
    if (!output) {
        *error = "the audio file is closed";
        return false;
    }
    for (int c = 0; c < CHANNELS; ++c) {
        std::vector<float>& channel = pending[c];
        const std::size_t start = channel.size();
        channel.resize(start + static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i)
            channel[start + i] = samples[i * CHANNELS + c] / 32768.0f;
    }
    return encodePending(false, error);
}

bool AacFileWriter::encodePending(bool all, QString* error)
{
    const auto frameSize = static_cast<std::size_t>(encoder->frame_size);
    std::size_t used = 0;
    const std::size_t available = pending[0].size();
    while (available - used >= frameSize || (all && used < available)) {
        const std::size_t count = std::min(frameSize, available - used);
        if (av_frame_make_writable(frame) < 0) {
            *error = "out of memory";
            return false;
        }
        frame->nb_samples = static_cast<int>(count);
        for (int c = 0; c < CHANNELS; ++c)
            std::copy_n(pending[c].begin() + static_cast<std::ptrdiff_t>(used), count,
                reinterpret_cast<float*>(frame->data[c]));
        frame->pts = nextPts;
        nextPts += static_cast<std::int64_t>(count);
        used += count;
        if (!send(frame, error))
            return false;
    }
    for (auto& channel : pending)
        channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(used));
    return true;
}

bool AacFileWriter::send(AVFrame* input, QString* error)
{
    int status = avcodec_send_frame(encoder, input);
    if (status < 0) {
        *error = "the AAC encoder refused samples: " + ffmpeg::errorText(status);
        return false;
    }
    for (;;) {
        status = avcodec_receive_packet(encoder, packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return true;
        if (status < 0) {
            *error = "the AAC encoder failed: " + ffmpeg::errorText(status);
            return false;
        }
        packet->stream_index = stream->index;
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        status = av_write_frame(output, packet);
        av_packet_unref(packet);
        if (status >= 0 && output->pb->error < 0)
            status = output->pb->error;
        if (status < 0) {
            *error = "cannot write the audio file: " + ffmpeg::errorText(status);
            return false;
        }
    }
}

bool AacFileWriter::close(QString* error)
{
    if (!output)
        return true;
    bool ok = encodePending(true, error) && send(nullptr, error);
    if (ok) {
        const int status = av_write_trailer(output);
        if (status < 0) {
            *error = "cannot complete the audio file: " + ffmpeg::errorText(status);
            ok = false;
        }
    }
    release();
    return ok;
}

void AacFileWriter::release()
{
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&encoder);
    ffmpeg::closeOutput(output);
    stream = nullptr;
}

} // namespace vistrale
