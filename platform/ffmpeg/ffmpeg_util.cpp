#include "platform/ffmpeg/ffmpeg_util.h"

#include <QFile>
#include <mutex>

namespace vistrale::ffmpeg {

QString errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

AVFormatContext* openOutput(const char* format, const QString& path, QString* error)
{
    // The libraries' own chatter (encoder statistics, muxer passes) stays off the log;
    // their errors still reach standard error.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    AVFormatContext* context = nullptr;
    const QByteArray name = QFile::encodeName(path);
    int status = avformat_alloc_output_context2(&context, nullptr, format, name.constData());
    if (status < 0) {
        *error = "no muxer " + QString::fromLatin1(format) + ": " + errorText(status);
        return nullptr;
    }
    status = avio_open(&context->pb, name.constData(), AVIO_FLAG_WRITE);
    if (status < 0) {
        *error = "cannot open " + path + ": " + errorText(status);
        avformat_free_context(context);
        return nullptr;
    }
    return context;
}

AVStream* encodedStream(AVFormatContext* output, const AVCodecContext* encoder)
{
    AVStream* stream = avformat_new_stream(output, nullptr);
    stream->time_base = encoder->time_base;
    avcodec_parameters_from_context(stream->codecpar, encoder);
    return stream;
}

void closeOutput(AVFormatContext*& context)
{
    if (!context)
        return;
    avio_closep(&context->pb);
    avformat_free_context(context);
    context = nullptr;
}

AVDictionary* fragmentedOptions(bool fragmentOnKeyframes)
{
    AVDictionary* options = nullptr;
    // Each fragment goes to the file as soon as it is complete, not when the I/O
    // buffer happens to fill.
    av_dict_set(&options, "flush_packets", "1", 0);
    if (fragmentOnKeyframes) {
        av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    } else {
        av_dict_set(&options, "movflags", "empty_moov+default_base_moof", 0);
        av_dict_set(&options, "frag_duration", "1000000", 0);
    }
    return options;
}

} // namespace vistrale::ffmpeg
