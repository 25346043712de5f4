#include "platform/ffmpeg/ffmpeg_video_file.h"

#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}
#include <libyuv/scale.h>

namespace vistrale {
namespace {

// Pictures larger than this are refused: a video cannot make us allocate without bound.
constexpr int MAX_VIDEO_SIDE = 8192;

QString errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

// The part of a w × h picture that aspect fill shows in a `target`-sized box.
QRect fillSource(int width, int height, QSize target)
{
    const double scale = std::max(double(target.width()) / width, double(target.height()) / height);
    const int w = std::clamp(int(std::lround(target.width() / scale)), 1, width);
    const int h = std::clamp(int(std::lround(target.height() / scale)), 1, height);
    // Even offsets keep the 4:2:0 chroma planes aligned with the luma plane.
    return QRect(((width - w) / 2) & ~1, ((height - h) / 2) & ~1, w, h);
}

class FFmpegVideoFile : public VideoFile {
public:
    ~FFmpegVideoFile() override
    {
        sws_freeContext(sws);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    bool openFile(const QString& path, QSize size, QString& error)
    {
        target = size;
        const QByteArray file = path.toUtf8();
        // Only local MP4/QuickTime files: a file that is really a playlist or another
        // container must not make the reader open other files or addresses.
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        av_dict_set(&options, "format_whitelist", "mov", 0);
        int result = avformat_open_input(&format, file.constData(), nullptr, &options);
        av_dict_free(&options);
        if (result < 0) {
            error = errorText(result);
            return false;
        }
        result = avformat_find_stream_info(format, nullptr);
        if (result < 0) {
            error = errorText(result);
            return false;
        }
        const AVCodec* decoder = nullptr;
        streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
        if (streamIndex < 0 || !decoder) {
            error = QStringLiteral("no video stream");
            return false;
        }
        // Sound and every other stream stay unread.
        for (unsigned i = 0; i < format->nb_streams; ++i)
            if (int(i) != streamIndex)
                format->streams[i]->discard = AVDISCARD_ALL;
        AVStream* stream = format->streams[streamIndex];
        const AVCodecParameters* parameters = stream->codecpar;
        if (parameters->width <= 0 || parameters->height <= 0 || parameters->width > MAX_VIDEO_SIDE
            || parameters->height > MAX_VIDEO_SIDE) {
            error = QStringLiteral("unsupported picture size %1x%2").arg(parameters->width).arg(parameters->height);
            return false;
        }
        codec = avcodec_alloc_context3(decoder);
        if (!codec || avcodec_parameters_to_context(codec, parameters) < 0) {
            error = QStringLiteral("cannot set up the decoder");
            return false;
        }
        // One thread decodes 1080p30 several times faster than real time and costs less CPU
        // than two (frame threads wait on each other); larger videos get both cores.
        codec->thread_count = int64_t(parameters->width) * parameters->height > 1920 * 1088 ? 2 : 1;
        result = avcodec_open2(codec, decoder, nullptr);
        if (result < 0) {
            error = errorText(result);
            return false;
        }
        AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        rate_ = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 30.0;
        rate_ = std::clamp(rate_, 1.0, 120.0);
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        if (!frame || !packet) {
            error = QStringLiteral("out of memory");
            return false;
        }
        // The first picture proves the file decodes; it is shown first.
        if (!decodeNext()) {
            error = QStringLiteral("no picture could be decoded");
            return false;
        }
        havePending = true;
        const auto first = static_cast<AVPixelFormat>(frame->format);
        planar = first == AV_PIX_FMT_YUV420P || first == AV_PIX_FMT_YUVJ420P;
        return true;
    }

    double frameRate() const override { return rate_; }
    QSize pictureSize() const override { return target; }

    bool readPicture(QImage& into) override
    {
        if (!havePending && !decodeNext())
            return false;
        havePending = false;
        if (into.size() != target || into.format() != QImage::Format_RGB32 || !into.isDetached())
            into = QImage(target, QImage::Format_RGB32);
        return convert(into);
    }

    bool planarPictures() const override { return planar; }

    PlanarPictureRef readPlanarPicture() override
    {
        if (!havePending && !decodeNext())
            return nullptr;
        havePending = false;
        const auto pixelFormat = static_cast<AVPixelFormat>(frame->format);
        if ((pixelFormat != AV_PIX_FMT_YUV420P && pixelFormat != AV_PIX_FMT_YUVJ420P) || frame->width <= 0
            || frame->height <= 0 || frame->width > MAX_VIDEO_SIDE || frame->height > MAX_VIDEO_SIDE) {
            logLine("background video picture format changed:",
                QString::fromUtf8(av_get_pix_fmt_name(pixelFormat) ? av_get_pix_fmt_name(pixelFormat) : "?"),
                frame->width, frame->height);
            return nullptr;
        }
        return planarOfFrame();
    }

    bool rewind() override
    {
        const int result = av_seek_frame(format, streamIndex,
            format->streams[streamIndex]->start_time == AV_NOPTS_VALUE ? 0 : format->streams[streamIndex]->start_time,
            AVSEEK_FLAG_BACKWARD);
        if (result < 0) {
            logLine("background video cannot seek:", errorText(result));
            return false;
        }
        avcodec_flush_buffers(codec);
        draining = false;
        havePending = false;
        return true;
    }

private:
    // The next decoded picture into `frame`; false at the end or on an error.
    bool decodeNext()
    {
        for (;;) {
            const int received = avcodec_receive_frame(codec, frame);
            if (received == 0)
                return true;
            if (received == AVERROR_EOF)
                return false;
            if (received != AVERROR(EAGAIN)) {
                logLine("background video decoding error:", errorText(received));
                return false;
            }
            if (draining)
                return false;
            const int read = av_read_frame(format, packet);
            if (read < 0) {
                // The end of the file: the decoder gives out the pictures it still holds.
                draining = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (packet->stream_index == streamIndex) {
                const int sent = avcodec_send_packet(codec, packet);
                if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
                    av_packet_unref(packet);
                    logLine("background video decoding error:", errorText(sent));
                    return false;
                }
            }
            av_packet_unref(packet);
        }
    }

    bool convert(QImage& into)
    {
        const auto pixelFormat = static_cast<AVPixelFormat>(frame->format);
        if (frame->width <= 0 || frame->height <= 0 || frame->width > MAX_VIDEO_SIDE
            || frame->height > MAX_VIDEO_SIDE) {
            logLine("background video picture size not supported:", frame->width, frame->height);
            return false;
        }
        if (pixelFormat == AV_PIX_FMT_YUV420P || pixelFormat == AV_PIX_FMT_YUVJ420P) {
            const PlanarPictureRef picture = planarOfFrame();
            if (picture)
                picture->convertInto(into, into.rect());
            return picture != nullptr;
        }
        return convertOther(into, pixelFormat);
    }

    // The decoded 4:2:0 picture, cropped and scaled to the target: the decoder's own
    // planes held by a new reference when no scaling is needed (nothing is copied).
    PlanarPictureRef planarOfFrame()
    {
        const auto pixelFormat = static_cast<AVPixelFormat>(frame->format);
        auto picture = std::make_shared<PlanarPicture>();
        picture->size = target;
        picture->matrix = pixelFormat == AV_PIX_FMT_YUVJ420P || frame->color_range == AVCOL_RANGE_JPEG
            ? PlanarPicture::Matrix::Bt601Full
            : bt709() ? PlanarPicture::Matrix::Bt709 : PlanarPicture::Matrix::Bt601;
        const QRect source = fillSource(frame->width, frame->height, target);
        if (source.size() == target) {
            AVFrame* held = av_frame_clone(frame);
            if (!held) {
                logLine("background video: out of memory");
                return nullptr;
            }
            picture->owner = std::shared_ptr<AVFrame>(held, [](AVFrame* f) { av_frame_free(&f); });
            picture->planes[0] = held->data[0] + source.y() * held->linesize[0] + source.x();
            picture->planes[1] = held->data[1] + source.y() / 2 * held->linesize[1] + source.x() / 2;
            picture->planes[2] = held->data[2] + source.y() / 2 * held->linesize[2] + source.x() / 2;
            for (int i = 0; i < 3; ++i)
                picture->strides[i] = held->linesize[i];
            return picture;
        }
        const int w = target.width(), h = target.height(), cw = (w + 1) / 2, ch = (h + 1) / 2;
        auto planes = std::make_shared<std::vector<uint8_t>>(size_t(w) * h + 2 * size_t(cw) * ch);
        uint8_t* y = planes->data();
        uint8_t* u = y + size_t(w) * h;
        uint8_t* v = u + size_t(cw) * ch;
        libyuv::I420Scale(frame->data[0] + source.y() * frame->linesize[0] + source.x(), frame->linesize[0],
            frame->data[1] + source.y() / 2 * frame->linesize[1] + source.x() / 2, frame->linesize[1],
            frame->data[2] + source.y() / 2 * frame->linesize[2] + source.x() / 2, frame->linesize[2],
            source.width(), source.height(), y, w, u, cw, v, cw, w, h, libyuv::kFilterBilinear);
        picture->owner = planes;
        picture->planes[0] = y, picture->planes[1] = u, picture->planes[2] = v;
        picture->strides[0] = w, picture->strides[1] = cw, picture->strides[2] = cw;
        return picture;
    }

    // HD pictures without a tag are BT.709, as players take them.
    bool bt709() const
    {
        return frame->colorspace == AVCOL_SPC_BT709
            || (frame->colorspace == AVCOL_SPC_UNSPECIFIED && frame->height >= 720);
    }

    // Any other pixel format: swscale to RGB at the covering size, then the centre.
    bool convertOther(QImage& into, AVPixelFormat pixelFormat)
    {
        const double scale = std::max(double(target.width()) / frame->width, double(target.height()) / frame->height);
        const int w = std::max(target.width(), int(std::ceil(frame->width * scale)));
        const int h = std::max(target.height(), int(std::ceil(frame->height * scale)));
        sws = sws_getCachedContext(sws, frame->width, frame->height, pixelFormat, w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR,
            nullptr, nullptr, nullptr);
        if (!sws) {
            logLine(
                "background video pixel format not supported:", QString::fromUtf8(av_get_pix_fmt_name(pixelFormat)));
            return false;
        }
        const bool exact = w == target.width() && h == target.height();
        if (!exact && covering.size() != QSize(w, h))
            covering = QImage(w, h, QImage::Format_RGB32);
        QImage& out = exact ? into : covering;
        uint8_t* planes[4] = {out.bits(), nullptr, nullptr, nullptr};
        int strides[4] = {int(out.bytesPerLine()), 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
        if (!exact) {
            const int x = (w - target.width()) / 2, y = (h - target.height()) / 2;
            for (int row = 0; row < target.height(); ++row)
                std::copy_n(covering.constScanLine(row + y) + 4 * x, 4 * target.width(), into.scanLine(row));
        }
        // A video with its own alpha channel is shown opaque, as RGB32 requires.
        const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(pixelFormat);
        if (descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA)) {
            for (int row = 0; row < into.height(); ++row) {
                auto* pixels = reinterpret_cast<QRgb*>(into.scanLine(row));
                for (int column = 0; column < into.width(); ++column)
                    pixels[column] |= 0xff000000u;
            }
        }
        return true;
    }

    QSize target;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* sws = nullptr;
    int streamIndex = -1;
    double rate_ = 30;
    bool draining = false;
    bool havePending = false;
    bool planar = false;
    QImage covering;
};

} // namespace

std::unique_ptr<VideoFile> FFmpegVideoFiles::open(const QString& path, QSize size, QString& error)
{
    if (size.isEmpty() || size.width() > MAX_VIDEO_SIDE || size.height() > MAX_VIDEO_SIDE) {
        error = QStringLiteral("unsupported output size");
        return nullptr;
    }
    auto file = std::make_unique<FFmpegVideoFile>();
    if (!file->openFile(path, size, error))
        return nullptr;
    return file;
}

} // namespace vistrale
