#include "platform/ffmpeg/ffmpeg_overlay_export.h"

#include "platform/ffmpeg/ffmpeg_streams.h"
#include "platform/ffmpeg/ffmpeg_subtitles.h"
#include "platform/ffmpeg/ffmpeg_util.h"
#include "platform/log.h"

#include <QFile>
#include <QRect>
#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vistrale {
namespace {

using namespace ffmpeg;

// How a movie's pictures turn RGB into Y'CbCr.
struct ColourMatrix {
    double kr = 0.2126;
    double kb = 0.0722;
    bool fullRange = false;
};

ColourMatrix matrixOf(const AVCodecParameters* video, AVPixelFormat format)
{
    ColourMatrix matrix;
    switch (video->color_space) {
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        matrix.kr = 0.299;
        matrix.kb = 0.114;
        break;
    case AVCOL_SPC_BT2020_NCL:
        matrix.kr = 0.2627;
        matrix.kb = 0.0593;
        break;
    default:
        break;
    }
    matrix.fullRange = video->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P;
    return matrix;
}

// An overlay's picture as 4:2:0 planes ready to blend: per sample the colour times its
// alpha, and the share of the movie's sample that stays, both scaled by 256. A
// sample becomes (movie × keep + colour + 128) / 256.
struct PlanarPicture {
    QRect luma;
    QRect chroma;
    std::vector<std::uint16_t> y, u, v, keepY, keepC;
};

// `picture` placed with its top-left corner at `at` (top-left origin) in a movie of
// `movie` luma samples.
PlanarPicture planarPicture(const QImage& source, QPoint at, QSize movie, const ColourMatrix& matrix)
{
    PlanarPicture planar;
    const QImage picture = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Whole chroma samples, so that every chroma sample averages the same four luma ones.
    const QRect placed = QRect(at, picture.size()).intersected(QRect(QPoint(0, 0), movie));
    if (placed.isEmpty())
        return planar;
    const QSize chromaSize((movie.width() + 1) / 2, (movie.height() + 1) / 2);
    planar.chroma = QRect(QPoint(placed.left() / 2, placed.top() / 2), QPoint(placed.right() / 2, placed.bottom() / 2))
                        .intersected(QRect(QPoint(0, 0), chromaSize));
    planar.luma = QRect(planar.chroma.left() * 2, planar.chroma.top() * 2, planar.chroma.width() * 2,
        planar.chroma.height() * 2)
                      .intersected(QRect(QPoint(0, 0), movie));

    const double kg = 1 - matrix.kr - matrix.kb;
    const double offset = matrix.fullRange ? 0 : 16;
    const double lumaScale = matrix.fullRange ? 1 : 219.0 / 255;
    const double chromaScale = matrix.fullRange ? 1 : 224.0 / 255;
    const double cb[3] = {-matrix.kr / (2 * (1 - matrix.kb)), -kg / (2 * (1 - matrix.kb)), 0.5};
    const double cr[3] = {0.5, -kg / (2 * (1 - matrix.kr)), -matrix.kb / (2 * (1 - matrix.kr))};

    // Per luma sample of the (even) area: alpha and the colour contributions, unscaled.
    const int width = planar.chroma.width() * 2;
    const int height = planar.chroma.height() * 2;
    std::vector<double> alpha(width * height, 0), yc(width * height, 0), uc(width * height, 0),
        vc(width * height, 0);
    for (int row = 0; row < height; ++row) {
        const int movieY = planar.chroma.top() * 2 + row;
        if (movieY < placed.top() || movieY > placed.bottom())
            continue;
        const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(movieY - at.y()));
        for (int column = 0; column < width; ++column) {
            const int movieX = planar.chroma.left() * 2 + column;
            if (movieX < placed.left() || movieX > placed.right())
                continue;
            const QRgb pixel = line[movieX - at.x()];
            const double a = qAlpha(pixel), r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
            const int i = row * width + column;
            alpha[i] = a;
            yc[i] = a * offset / 255 + lumaScale * (matrix.kr * r + kg * g + matrix.kb * b);
            uc[i] = a * 128 / 255 + chromaScale * (cb[0] * r + cb[1] * g + cb[2] * b);
            vc[i] = a * 128 / 255 + chromaScale * (cr[0] * r + cr[1] * g + cr[2] * b);
        }
    }
    auto fixed = [](double value) { return static_cast<std::uint16_t>(std::clamp(std::lround(value * 256), 0L, 65535L)); };
    for (int row = planar.luma.top(); row <= planar.luma.bottom(); ++row)
        for (int column = planar.luma.left(); column <= planar.luma.right(); ++column) {
            const int i = (row - planar.chroma.top() * 2) * width + column - planar.chroma.left() * 2;
            planar.y.push_back(fixed(yc[i]));
            planar.keepY.push_back(fixed((255 - alpha[i]) / 255));
        }
    for (int row = 0; row < planar.chroma.height(); ++row)
        for (int column = 0; column < planar.chroma.width(); ++column) {
            double a = 0, u = 0, v = 0;
            for (const int i : {2 * row * width + 2 * column, 2 * row * width + 2 * column + 1,
                     (2 * row + 1) * width + 2 * column, (2 * row + 1) * width + 2 * column + 1}) {
                a += alpha[i];
                u += uc[i];
                v += vc[i];
            }
            planar.u.push_back(fixed(u / 4));
            planar.v.push_back(fixed(v / 4));
            planar.keepC.push_back(fixed((255 - a / 4) / 255));
        }
    return planar;
}

void blendPlane(AVFrame* frame, int plane, const QRect& area, const std::vector<std::uint16_t>& colour,
    const std::vector<std::uint16_t>& keep)
{
    std::size_t i = 0;
    for (int row = area.top(); row <= area.bottom(); ++row) {
        std::uint8_t* sample = frame->data[plane] + static_cast<std::ptrdiff_t>(row) * frame->linesize[plane] + area.left();
        for (int column = 0; column < area.width(); ++column, ++i)
            sample[column] = static_cast<std::uint8_t>((sample[column] * keep[i] + colour[i] + 128) >> 8);
    }
}

void blend(AVFrame* frame, const PlanarPicture& picture)
{
    if (picture.luma.isEmpty())
        return;
    blendPlane(frame, 0, picture.luma, picture.y, picture.keepY);
    blendPlane(frame, 1, picture.chroma, picture.u, picture.keepC);
    blendPlane(frame, 2, picture.chroma, picture.v, picture.keepC);
}

// The input's video, decoded, drawn over and encoded again.
class OverlaidVideo : public PacketSource {
public:
    OverlaidVideo(const std::vector<MovieOverlay>& overlays, ExportControl& control)
        : control(control)
    {
        for (const MovieOverlay& overlay : overlays)
            layers.push_back({&overlay, nullptr, false});
    }
    ~OverlaidVideo() override
    {
        sws_freeContext(converter);
        av_frame_free(&decoded);
        av_frame_free(&converted);
        avcodec_free_context(&decoder);
        avcodec_free_context(&encoder);
    }

    bool open(const QString& path, AVFormatContext* output, QString* error)
    {
        duration = streamEnd(path, AVMEDIA_TYPE_VIDEO, error);
        if (duration < 0)
            return false;
        input = openInput(path, AVMEDIA_TYPE_VIDEO, &index, error);
        if (!input)
            return false;
        const AVStream* in = input->streams[index];
        const AVCodecParameters* parameters = in->codecpar;
        const AVCodec* decoderCodec = avcodec_find_decoder(parameters->codec_id);
        if (!decoderCodec || parameters->width <= 0 || parameters->height <= 0) {
            *error = "no decoder for the video of " + path;
            return false;
        }
        decoder = avcodec_alloc_context3(decoderCodec);
        avcodec_parameters_to_context(decoder, parameters);
        decoder->pkt_timebase = in->time_base;
        decoder->thread_count = 2;
        int status = avcodec_open2(decoder, decoderCodec, nullptr);
        if (status < 0) {
            *error = "cannot decode the video of " + path + ": " + errorText(status);
            return false;
        }

        const AVCodec* encoderCodec = avcodec_find_encoder_by_name("libx264");
        if (!encoderCodec) {
            *error = "no H.264 encoder";
            return false;
        }
        const auto format = static_cast<AVPixelFormat>(parameters->format);
        encoder = avcodec_alloc_context3(encoderCodec);
        encoder->width = parameters->width;
        encoder->height = parameters->height;
        encoder->pix_fmt = format == AV_PIX_FMT_YUVJ420P ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
        encoder->time_base = in->time_base;
        encoder->framerate = av_guess_frame_rate(input.get(), const_cast<AVStream*>(in), nullptr);
        encoder->sample_aspect_ratio = parameters->sample_aspect_ratio;
        encoder->color_range = parameters->color_range;
        encoder->color_primaries = parameters->color_primaries;
        encoder->color_trc = parameters->color_trc;
        encoder->colorspace = parameters->color_space;
        encoder->thread_count = 0;
        if (output->oformat->flags & AVFMT_GLOBALHEADER)
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // The quality of a 1080p export preset, at the speed two cores allow.
        AVDictionary* options = nullptr;
        av_dict_set(&options, "preset", "veryfast", 0);
        av_dict_set(&options, "crf", "20", 0);
        status = avcodec_open2(encoder, encoderCodec, &options);
        av_dict_free(&options);
        if (status < 0) {
            *error = "cannot open the H.264 encoder: " + errorText(status);
            return false;
        }
        stream = encodedStream(output, encoder);
        // The track keeps the input's orientation.
        std::size_t size = 0;
        if (const std::uint8_t* matrix = av_stream_get_side_data(in, AV_PKT_DATA_DISPLAYMATRIX, &size);
            matrix && size >= 9 * sizeof(std::int32_t)) {
            if (std::uint8_t* copy = av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, size))
                memcpy(copy, matrix, size);
        }

        movieSize = QSize(parameters->width, parameters->height);
        matrix = matrixOf(parameters, format);
        if (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P) {
            converter = sws_getContext(parameters->width, parameters->height, format, parameters->width,
                parameters->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
            converted = av_frame_alloc();
            converted->format = AV_PIX_FMT_YUV420P;
            converted->width = parameters->width;
            converted->height = parameters->height;
            if (!converter || av_frame_get_buffer(converted, 0) < 0) {
                *error = "cannot convert the video's pictures";
                return false;
            }
        }
        decoded = av_frame_alloc();
        return true;
    }

    bool next(AVPacket* packet) override
    {
        for (;;) {
            // A cancelled export stops within a picture.
            if (control.cancelled)
                return false;
            const int status = avcodec_receive_packet(encoder, packet);
            if (status == 0) {
                av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
                packet->stream_index = stream->index;
                return true;
            }
            if (status == AVERROR_EOF)
                return false;
            if (status != AVERROR(EAGAIN)) {
                failure = "the encoder failed: " + errorText(status);
                return false;
            }
            if (!feedEncoder())
                return false;
        }
    }

    // Why the video ended early; empty when it did not.
    QString failure;
    // Pictures encoded.
    int pictures = 0;

private:
    struct Slot {
        const MovieOverlay* overlay;
        std::unique_ptr<PlanarPicture> planar;
        // Covered by a later overlay with the same frame that has started: never drawn again.
        bool covered;
    };

    // Gives the encoder the next picture, or its end; false when nothing is left.
    bool feedEncoder()
    {
        Packet packet(av_packet_alloc());
        for (;;) {
            const int status = avcodec_receive_frame(decoder, decoded);
            if (status == 0) {
                const bool sent = encode(decoded);
                av_frame_unref(decoded);
                if (sent)
                    return true;
                if (!failure.isEmpty())
                    return false;
                continue;
            }
            if (status == AVERROR_EOF) {
                if (flushed)
                    return false;
                flushed = true;
                return avcodec_send_frame(encoder, nullptr) >= 0;
            }
            if (status != AVERROR(EAGAIN))
                skipBadData(status);
            if (readPacket(input.get(), index, packet.get())) {
                const int sent = avcodec_send_packet(decoder, packet.get());
                av_packet_unref(packet.get());
                if (sent < 0 && sent != AVERROR(EAGAIN))
                    skipBadData(sent);
            } else if (!decoderDrained) {
                // The end of the file, or a file cut short by a killed recording.
                decoderDrained = true;
                avcodec_send_packet(decoder, nullptr);
            } else {
                // The decoder has nothing more but never said so.
                if (flushed)
                    return false;
                flushed = true;
                return avcodec_send_frame(encoder, nullptr) >= 0;
            }
        }
    }

    void skipBadData(int status)
    {
        if (!badDataLogged)
            logLine("export skips video data that cannot be decoded", errorText(status));
        badDataLogged = true;
    }

    // False when the picture is left out (or the encoder failed: `failure` says so).
    bool encode(AVFrame* frame)
    {
        std::int64_t pts = frame->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE)
            pts = lastPts == AV_NOPTS_VALUE ? 0 : lastPts + 1;
        if (lastPts != AV_NOPTS_VALUE && pts <= lastPts)
            return false;
        if (firstPts == AV_NOPTS_VALUE)
            firstPts = pts;
        lastPts = pts;
        const double seconds = static_cast<double>(pts - firstPts) * av_q2d(decoder->pkt_timebase);

        AVFrame* picture = frame;
        if (converter) {
            if (av_frame_make_writable(converted) < 0) {
                failure = "out of memory";
                return false;
            }
            sws_scale(converter, frame->data, frame->linesize, 0, frame->height, converted->data, converted->linesize);
            picture = converted;
        } else if (frame->width != movieSize.width() || frame->height != movieSize.height()) {
            // A size change mid-stream: the encoder cannot follow it.
            skipBadData(AVERROR_INVALIDDATA);
            return false;
        }
        if (!draw(picture, seconds))
            return false;
        picture->pts = pts;
        picture->pict_type = AV_PICTURE_TYPE_NONE;
        const int status = avcodec_send_frame(encoder, picture);
        if (status < 0) {
            failure = "the encoder refused a picture: " + errorText(status);
            return false;
        }
        ++pictures;
        control.progress = duration > 0 ? std::clamp(seconds / duration, 0.0, 1.0) : 0.0;
        return true;
    }

    // Draws the overlays that show at `seconds`, earlier ones first.
    bool draw(AVFrame* frame, double seconds)
    {
        shown.clear();
        std::vector<Slot*> drawn;
        for (auto slot = layers.rbegin(); slot != layers.rend(); ++slot) {
            if (slot->covered || slot->overlay->start > seconds + 1e-6)
                continue;
            const QRectF& frameOf = slot->overlay->frame;
            if (std::find(shown.begin(), shown.end(), frameOf) != shown.end()) {
                slot->covered = true;
                slot->planar.reset();
                continue;
            }
            shown.push_back(frameOf);
            drawn.push_back(&*slot);
        }
        if (drawn.empty())
            return true;
        if (av_frame_make_writable(frame) < 0) {
            failure = "out of memory";
            return false;
        }
        for (auto slot = drawn.rbegin(); slot != drawn.rend(); ++slot) {
            if (!(*slot)->planar) {
                const QRectF& box = (*slot)->overlay->frame;
                const QImage picture = (*slot)->overlay->picture ? (*slot)->overlay->picture() : QImage();
                const QPoint at(static_cast<int>(std::lround(box.x())),
                    static_cast<int>(std::lround(movieSize.height() - box.y() - box.height())));
                (*slot)->planar = std::make_unique<PlanarPicture>(
                    picture.isNull() ? PlanarPicture{} : planarPicture(picture, at, movieSize, matrix));
            }
            blend(frame, *(*slot)->planar);
        }
        return true;
    }

    ExportControl& control;
    std::vector<Slot> layers;
    std::vector<QRectF> shown;
    Input input;
    int index = -1;
    double duration = 0;
    AVCodecContext* decoder = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    SwsContext* converter = nullptr;
    AVFrame* decoded = nullptr;
    AVFrame* converted = nullptr;
    QSize movieSize;
    ColourMatrix matrix;
    std::int64_t firstPts = AV_NOPTS_VALUE;
    std::int64_t lastPts = AV_NOPTS_VALUE;
    bool decoderDrained = false;
    bool flushed = false;
    bool badDataLogged = false;
};

} // namespace

bool exportMovieWithOverlays(const OverlayExportRequest& request, ExportControl& control, QString* error)
{
    control.progress = 0;
    QFile::remove(request.outputPath);
    AVFormatContext* output = openOutput(request.mov ? "mov" : "mp4", request.outputPath, error);
    if (!output)
        return false;
    bool ok = true;
    {
        OverlaidVideo video(request.overlays, control);
        ok = video.open(request.inputPath, output, error);
        // A movie without sound is exported without.
        std::unique_ptr<CopiedStream> audio;
        if (ok) {
            int audioIndex = -1;
            QString audioError;
            if (Input audioInput = openInput(request.inputPath, AVMEDIA_TYPE_AUDIO, &audioIndex, &audioError)) {
                AVStream* audioStream = copyStream(output, audioInput->streams[audioIndex]);
                audio = std::make_unique<CopiedStream>(std::move(audioInput), audioIndex, audioStream, -1);
            }
        }
        std::unique_ptr<MovTextTrack> subtitles;
        if (ok && !request.subtitles.isEmpty()) {
            subtitles = std::make_unique<MovTextTrack>();
            QString subtitleError;
            if (!subtitles->open(output, request.subtitles, &subtitleError)) {
                logLine("export leaves out the subtitles", subtitleError);
                subtitles.reset();
            }
        }
        if (ok) {
            AVDictionary* options = nullptr;
            av_dict_set(&options, "movflags", "faststart", 0);
            const int status = avformat_write_header(output, &options);
            av_dict_free(&options);
            if (status < 0) {
                *error = "cannot write the movie header: " + errorText(status);
                ok = false;
            }
        }
        if (ok) {
            std::vector<PacketSource*> sources{&video};
            if (audio)
                sources.push_back(audio.get());
            if (subtitles)
                sources.push_back(subtitles.get());
            ok = interleave(output, sources, error, [&control] { return control.cancelled.load(); });
            if (control.cancelled) {
                *error = "the export was cancelled";
                ok = false;
            } else if (ok && !video.failure.isEmpty()) {
                *error = video.failure;
                ok = false;
            } else if (ok && video.pictures == 0) {
                *error = "no picture of " + request.inputPath + " could be decoded";
                ok = false;
            }
        }
        if (ok) {
            const int status = av_write_trailer(output);
            if (status < 0) {
                *error = "cannot complete the movie: " + errorText(status);
                ok = false;
            }
        }
    }
    closeOutput(output);
    if (!ok)
        QFile::remove(request.outputPath);
    else
        control.progress = 1;
    return ok;
}

} // namespace vistrale
