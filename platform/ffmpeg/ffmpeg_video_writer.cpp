#include "platform/ffmpeg/ffmpeg_video_writer.h"

#include "platform/ffmpeg/ffmpeg_util.h"

#include <cmath>
#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

extern "C" {
#include <libavutil/opt.h>
}

namespace vistrale {
namespace {

// Presentation times count 1/600 s, which every usual frame rate divides.
constexpr int TIME_SCALE = 600;
constexpr int LIMITED_BIT_RATE = 1300000;
// The constant quality when no bit rate is set: visually clean screen content.
constexpr const char* QUALITY = "21";

bool isBgra(QImage::Format format)
{
    return format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_ARGB32
        || format == QImage::Format_RGB32;
}

} // namespace

FfmpegVideoWriter::FfmpegVideoWriter(const VideoWriterSettings& settings, Failure failed)
    : settings(settings)
    , failed(std::move(failed))
{
}

std::unique_ptr<FfmpegVideoWriter> FfmpegVideoWriter::open(
    const VideoWriterSettings& settings, Failure failed, QString* error)
{
    if (settings.size.width() < 2 || settings.size.height() < 2 || settings.size.width() % 2
        || settings.size.height() % 2 || settings.frameRate < 1 || settings.queueCapacity < 1) {
        *error = QString("unusable movie size %1x%2").arg(settings.size.width()).arg(settings.size.height());
        return nullptr;
    }
    std::unique_ptr<FfmpegVideoWriter> writer(new FfmpegVideoWriter(settings, std::move(failed)));
    if (!writer->openEncoder(error)) {
        writer->close();
        return nullptr;
    }
    writer->worker = std::thread([w = writer.get()] { w->run(); });
    return writer;
}

bool FfmpegVideoWriter::openEncoder(QString* error)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        *error = "no H.264 encoder (libx264)";
        return false;
    }
    output = ffmpeg::openOutput(settings.mov ? "mov" : "mp4", settings.path, error);
    if (!output)
        return false;
    encoder = avcodec_alloc_context3(codec);
    encoder->width = settings.size.width();
    encoder->height = settings.size.height();
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = {1, TIME_SCALE};
    encoder->framerate = {settings.frameRate, 1};
    // A key frame, and so a fragment, every second: a killed writer loses at most that.
    encoder->gop_size = settings.frameRate;
    encoder->max_b_frames = 0;
    encoder->thread_count = 1;
    // What the conversion produces: BT.601 coefficients, limited range, of sRGB pixels.
    encoder->color_range = AVCOL_RANGE_MPEG;
    encoder->colorspace = AVCOL_SPC_SMPTE170M;
    encoder->color_primaries = AVCOL_PRI_BT709;
    encoder->color_trc = AVCOL_TRC_IEC61966_2_1;
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "veryfast", 0);
    av_dict_set(&options, "tune", "zerolatency", 0);
    // Key frames on the second only, never at scene cuts, so fragments end on time.
    av_dict_set(&options, "x264-params", "scenecut=0", 0);
    if (settings.limitBitRate && !settings.mov) {
        // An average alone overshoots on busy pictures; the cap holds it.
        encoder->bit_rate = LIMITED_BIT_RATE;
        encoder->rc_max_rate = LIMITED_BIT_RATE;
        encoder->rc_buffer_size = LIMITED_BIT_RATE;
    } else {
        av_dict_set(&options, "crf", QUALITY, 0);
    }
    int status = avcodec_open2(encoder, codec, &options);
    av_dict_free(&options);
    if (status < 0) {
        *error = "cannot open the H.264 encoder: " + ffmpeg::errorText(status);
        return false;
    }
    stream = ffmpeg::encodedStream(output, encoder);

    AVDictionary* muxing = ffmpeg::fragmentedOptions(true);
    av_dict_set(&muxing, "video_track_timescale", "600", 0);
    status = avformat_write_header(output, &muxing);
    av_dict_free(&muxing);
    if (status < 0) {
        *error = "cannot write the movie header: " + ffmpeg::errorText(status);
        return false;
    }
    picture = av_frame_alloc();
    picture->format = encoder->pix_fmt;
    picture->width = encoder->width;
    picture->height = encoder->height;
    packet = av_packet_alloc();
    if (av_frame_get_buffer(picture, 0) < 0) {
        *error = "out of memory";
        return false;
    }
    return true;
}

FfmpegVideoWriter::~FfmpegVideoWriter()
{
    bool finished;
    {
        std::lock_guard guard(lock);
        finished = finishing;
    }
    if (!finished)
        finish(nullptr);
    if (worker.joinable())
        worker.join();
    close();
}

bool FfmpegVideoWriter::append(FrameRef frame, double seconds)
{
    ++offered;
    const auto ticks = static_cast<std::int64_t>(std::llround(seconds * TIME_SCALE));
    {
        std::lock_guard guard(lock);
        if (frame && !finishing && !broken && ticks > lastTicks
            && queue.size() < static_cast<std::size_t>(settings.queueCapacity)) {
            queue.push_back({std::move(frame), ticks});
            lastTicks = ticks;
            changed.notify_one();
            return true;
        }
    }
    ++dropped;
    return false;
}

void FfmpegVideoWriter::finish(Finished finished)
{
    std::lock_guard guard(lock);
    if (finishing)
        return;
    finishing = true;
    done = std::move(finished);
    changed.notify_one();
}

VideoWriterCounts FfmpegVideoWriter::counts() const
{
    return {offered.load(), written.load(), dropped.load()};
}

void FfmpegVideoWriter::run()
{
    for (;;) {
        Queued item;
        {
            std::unique_lock guard(lock);
            changed.wait(guard, [this] { return finishing || !queue.empty(); });
            if (queue.empty())
                break;
            item = std::move(queue.front());
            queue.pop_front();
        }
        if (broken || !encode(item))
            ++dropped;
        else
            ++written;
    }
    bool complete = !broken && send(nullptr);
    if (!broken) {
        const int status = av_write_trailer(output);
        if (status < 0) {
            fail("cannot complete the movie: " + ffmpeg::errorText(status));
            complete = false;
        }
    }
    if (output && output->pb) {
        avio_flush(output->pb);
        if (output->pb->error < 0 && !broken)
            fail("cannot write the movie: " + ffmpeg::errorText(output->pb->error));
        complete = complete && !broken;
        avio_closep(&output->pb);
    }
    Finished finished;
    {
        std::lock_guard guard(lock);
        finished = std::move(done);
    }
    if (finished)
        finished(complete);
}

bool FfmpegVideoWriter::encode(const Queued& item)
{
    if (!convert(item.frame->image))
        return false;
    picture->pts = item.ticks;
    picture->pict_type = AV_PICTURE_TYPE_NONE;
    return send(picture);
}

bool FfmpegVideoWriter::convert(const QImage& source)
{
    if (source.isNull())
        return false;
    if (av_frame_make_writable(picture) < 0) {
        fail("out of memory");
        return false;
    }
    // Pictures in other layouts are rare (a drawn still): convert them once here.
    const QImage image = isBgra(source.format()) ? source : source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = settings.size.width();
    const int height = settings.size.height();
    const std::uint8_t* pixels = image.constBits();
    int stride = static_cast<int>(image.bytesPerLine());
    if (image.width() != width || image.height() != height) {
        scaled.resize(static_cast<std::size_t>(width) * height * 4);
        libyuv::ARGBScale(pixels, stride, image.width(), image.height(), scaled.data(), width * 4, width, height,
            libyuv::kFilterBilinear);
        pixels = scaled.data();
        stride = width * 4;
    }
    libyuv::ARGBToI420(pixels, stride, picture->data[0], picture->linesize[0], picture->data[1], picture->linesize[1],
        picture->data[2], picture->linesize[2], width, height);
    return true;
}

bool FfmpegVideoWriter::send(AVFrame* frame)
{
    int status = avcodec_send_frame(encoder, frame);
    if (status < 0) {
        fail("the H.264 encoder refused a frame: " + ffmpeg::errorText(status));
        return false;
    }
    const std::int64_t frameTicks = TIME_SCALE / settings.frameRate;
    for (;;) {
        status = avcodec_receive_packet(encoder, packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return true;
        if (status < 0) {
            fail("the H.264 encoder failed: " + ffmpeg::errorText(status));
            return false;
        }
        packet->stream_index = stream->index;
        packet->duration = frameTicks;
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        status = av_write_frame(output, packet);
        av_packet_unref(packet);
        if (status >= 0 && output->pb->error < 0)
            status = output->pb->error;
        if (status < 0) {
            fail("cannot write the movie: " + ffmpeg::errorText(status));
            return false;
        }
    }
}

void FfmpegVideoWriter::fail(const QString& error)
{
    if (broken.exchange(true))
        return;
    {
        // Frames still waiting will not be written.
        std::lock_guard guard(lock);
        dropped += queue.size();
        queue.clear();
    }
    if (failed)
        failed(error);
}

void FfmpegVideoWriter::close()
{
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&encoder);
    ffmpeg::closeOutput(output);
}

} // namespace vistrale
