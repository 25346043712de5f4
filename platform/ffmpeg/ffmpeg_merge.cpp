#include "platform/ffmpeg/ffmpeg_merge.h"

#include "platform/ffmpeg/ffmpeg_audio_file.h"
#include "platform/ffmpeg/ffmpeg_streams.h"
#include "platform/ffmpeg/ffmpeg_subtitles.h"
#include "platform/ffmpeg/ffmpeg_util.h"
#include "platform/log.h"

#include <QFile>
#include <cmath>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace vistrale {
namespace {

using namespace ffmpeg;

// An audio file decoded and encoded again, repeated from its start back to back
// until `duration` seconds are filled.
class RepeatedAudio : public PacketSource {
public:
    RepeatedAudio(QString path, double duration)
        : path(std::move(path))
        , target(std::llround(duration * AacFileWriter::SAMPLE_RATE))
    {
    }
    ~RepeatedAudio() override
    {
        av_audio_fifo_free(fifo);
        swr_free(&resampler);
        av_frame_free(&decoded);
        av_frame_free(&converted);
        av_frame_free(&chunk);
        avcodec_free_context(&decoder);
        avcodec_free_context(&encoder);
    }

    bool open(AVFormatContext* output, QString* error)
    {
        if (!reopen(error))
            return false;
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec) {
            *error = "no AAC encoder";
            return false;
        }
        encoder = avcodec_alloc_context3(codec);
        encoder->sample_rate = AacFileWriter::SAMPLE_RATE;
        av_channel_layout_default(&encoder->ch_layout, AacFileWriter::CHANNELS);
        encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder->bit_rate = AacFileWriter::BIT_RATE;
        encoder->time_base = {1, AacFileWriter::SAMPLE_RATE};
        if (output->oformat->flags & AVFMT_GLOBALHEADER)
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int status = avcodec_open2(encoder, codec, nullptr);
        if (status < 0) {
            *error = "cannot open the AAC encoder: " + ffmpeg::errorText(status);
            return false;
        }
        stream = encodedStream(output, encoder);
        fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, AacFileWriter::CHANNELS, encoder->frame_size);
        decoded = av_frame_alloc();
        converted = av_frame_alloc();
        chunk = av_frame_alloc();
        return true;
    }

    AVStream* outputStream() const { return stream; }

    bool next(AVPacket* packet) override
    {
        for (;;) {
            const int status = avcodec_receive_packet(encoder, packet);
            if (status == 0) {
                av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
                packet->stream_index = stream->index;
                return true;
            }
            if (status != AVERROR(EAGAIN) || !feedEncoder())
                return false;
        }
    }

private:
    bool reopen(QString* error)
    {
        avcodec_free_context(&decoder);
        input = openInput(path, AVMEDIA_TYPE_AUDIO, &index, error);
        if (!input)
            return false;
        const AVCodecParameters* parameters = input->streams[index]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        if (!codec) {
            *error = "no decoder for the audio of " + path;
            return false;
        }
        decoder = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder, parameters);
        decoder->pkt_timebase = input->streams[index]->time_base;
        const int status = avcodec_open2(decoder, codec, nullptr);
        if (status < 0) {
            *error = "cannot decode the audio of " + path + ": " + ffmpeg::errorText(status);
            return false;
        }
        return true;
    }

    // Gives the encoder one frame, or the end; false when nothing is left to give.
    bool feedEncoder()
    {
        if (flushed)
            return false;
        const std::int64_t left = target - sent;
        if (left <= 0 || (!fillFifo() && av_audio_fifo_size(fifo) == 0)) {
            flushed = true;
            return avcodec_send_frame(encoder, nullptr) >= 0;
        }
        const int count
            = static_cast<int>(std::min<std::int64_t>({left, encoder->frame_size, av_audio_fifo_size(fifo)}));
        av_frame_unref(chunk);
        chunk->format = AV_SAMPLE_FMT_FLTP;
        chunk->nb_samples = count;
        chunk->sample_rate = encoder->sample_rate;
        av_channel_layout_copy(&chunk->ch_layout, &encoder->ch_layout);
        if (av_frame_get_buffer(chunk, 0) < 0)
            return false;
        av_audio_fifo_read(fifo, reinterpret_cast<void**>(chunk->data), count);
        chunk->pts = sent;
        sent += count;
        return avcodec_send_frame(encoder, chunk) >= 0;
    }

    // Decodes until the fifo holds an encoder frame; starts the file over at its end.
    // False when no more samples can be had.
    bool fillFifo()
    {
        Packet packet(av_packet_alloc());
        while (av_audio_fifo_size(fifo) < encoder->frame_size) {
            const int status = avcodec_receive_frame(decoder, decoded);
            if (status == 0) {
                if (!store())
                    return false;
                continue;
            }
            if (status == AVERROR_EOF) {
                // One pass that gave nothing means the file holds no sound at all.
                if (passSamples == 0)
                    return false;
                passSamples = 0;
                QString error;
                if (!reopen(&error)) {
                    logLine("cannot repeat the audio", error);
                    return false;
                }
                continue;
            }
            if (status != AVERROR(EAGAIN))
                return false;
            if (readPacket(input.get(), index, packet.get())) {
                avcodec_send_packet(decoder, packet.get());
                av_packet_unref(packet.get());
            } else {
                avcodec_send_packet(decoder, nullptr);
            }
        }
        return true;
    }

    // Converts a decoded frame to the encoder's format and keeps it in the fifo.
    bool store()
    {
        if (!resampler) {
            AVChannelLayout layout;
            av_channel_layout_default(&layout, AacFileWriter::CHANNELS);
            if (swr_alloc_set_opts2(&resampler, &layout, AV_SAMPLE_FMT_FLTP, AacFileWriter::SAMPLE_RATE,
                    &decoded->ch_layout, static_cast<AVSampleFormat>(decoded->format), decoded->sample_rate, 0, nullptr)
                    < 0
                || swr_init(resampler) < 0)
                return false;
        }
        av_frame_unref(converted);
        converted->format = AV_SAMPLE_FMT_FLTP;
        converted->sample_rate = AacFileWriter::SAMPLE_RATE;
        av_channel_layout_default(&converted->ch_layout, AacFileWriter::CHANNELS);
        const int status = swr_convert_frame(resampler, converted, decoded);
        av_frame_unref(decoded);
        if (status < 0)
            return false;
        passSamples += converted->nb_samples;
        return av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted->data), converted->nb_samples)
            >= converted->nb_samples;
    }

    const QString path;
    const std::int64_t target;
    Input input;
    int index = -1;
    AVCodecContext* decoder = nullptr;
    AVCodecContext* encoder = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* decoded = nullptr;
    AVFrame* converted = nullptr;
    AVFrame* chunk = nullptr;
    AVStream* stream = nullptr;
    std::int64_t sent = 0;
    std::int64_t passSamples = 0;
    bool flushed = false;
};

} // namespace

bool mergeMovie(const MergeRequest& request, QString* error)
{
    const double videoEnd = streamEnd(request.videoPath, AVMEDIA_TYPE_VIDEO, error);
    if (videoEnd < 0)
        return false;
    int videoIndex = -1;
    Input videoInput = openInput(request.videoPath, AVMEDIA_TYPE_VIDEO, &videoIndex, error);
    if (!videoInput)
        return false;

    // The audio is left out, with a line, when it cannot be read.
    double audioEnd = -1;
    if (!request.audioPath.isEmpty()) {
        QString audioError;
        audioEnd = streamEnd(request.audioPath, AVMEDIA_TYPE_AUDIO, &audioError);
        if (audioEnd < 0)
            logLine("merge leaves out unreadable audio", audioError);
    }

    QFile::remove(request.outputPath);
    AVFormatContext* output = ffmpeg::openOutput(request.mov ? "mov" : "mp4", request.outputPath, error);
    if (!output)
        return false;
    AVStream* videoStream = copyStream(output, videoInput->streams[videoIndex]);
    std::unique_ptr<PacketSource> audio;
    QString audioError;
    if (audioEnd >= 0 && audioEnd >= videoEnd) {
        int audioIndex = -1;
        Input audioInput = openInput(request.audioPath, AVMEDIA_TYPE_AUDIO, &audioIndex, &audioError);
        if (audioInput) {
            AVStream* audioStream = copyStream(output, audioInput->streams[audioIndex]);
            audio = std::make_unique<CopiedStream>(std::move(audioInput), audioIndex, audioStream, videoEnd);
        }
    } else if (audioEnd >= 0) {
        auto repeated = std::make_unique<RepeatedAudio>(request.audioPath, videoEnd);
        if (repeated->open(output, &audioError))
            audio = std::move(repeated);
    }
    if (!audio && !audioError.isEmpty())
        logLine("merge leaves out unreadable audio", audioError);
    std::unique_ptr<MovTextTrack> subtitles;
    if (!request.subtitles.isEmpty()) {
        subtitles = std::make_unique<MovTextTrack>();
        QString subtitleError;
        if (!subtitles->open(output, request.subtitles, &subtitleError)) {
            logLine("merge leaves out the subtitles", subtitleError);
            subtitles.reset();
        }
    }

    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "faststart", 0);
    av_dict_set(&options, "video_track_timescale", "600", 0);
    int status = avformat_write_header(output, &options);
    av_dict_free(&options);
    bool ok = status >= 0;
    if (!ok)
        *error = "cannot write the movie header: " + ffmpeg::errorText(status);
    if (ok) {
        CopiedStream video(std::move(videoInput), videoIndex, videoStream, -1);
        std::vector<PacketSource*> sources{&video};
        if (audio)
            sources.push_back(audio.get());
        if (subtitles)
            sources.push_back(subtitles.get());
        ok = interleave(output, sources, error);
    }
    if (ok) {
        status = av_write_trailer(output);
        if (status < 0) {
            *error = "cannot complete the movie: " + ffmpeg::errorText(status);
            ok = false;
        }
    }
    audio.reset();
    subtitles.reset();
    ffmpeg::closeOutput(output);
    return ok;
}

} // namespace vistrale
