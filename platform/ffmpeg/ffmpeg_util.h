#pragma once

#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vistrale::ffmpeg {

// The library's text for an error code.
QString errorText(int code);

// Opens `path` for writing with the muxer `format`; the context is freed on failure.
// Null and `error` set when the file cannot be opened.
AVFormatContext* openOutput(const char* format, const QString& path, QString* error);
// A new output stream for what `encoder` makes, in its time base.
AVStream* encodedStream(AVFormatContext* output, const AVCodecContext* encoder);

// Closes the file and frees the context (and its streams); null is fine.
void closeOutput(AVFormatContext*& context);

// Muxer options for a file that stays playable however its writer ends: fragments
// with an empty index up front. `fragmentOnKeyframes`: a fragment per key frame
// (video), else one a second (audio, where every packet is a key frame).
AVDictionary* fragmentedOptions(bool fragmentOnKeyframes);

} // namespace vistrale::ffmpeg
