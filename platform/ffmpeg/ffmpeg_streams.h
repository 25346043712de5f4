#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// Reading movies packet by packet and writing packets of several streams interleaved:
// what the merge and the overlay export share. One thread.
namespace vistrale::ffmpeg {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;

// Opens a file and finds its first stream of `type`; null and `error` set otherwise.
Input openInput(const QString& path, AVMediaType type, int* streamIndex, QString* error);
// Reads the next packet of one stream; false at the end or on a read error.
bool readPacket(AVFormatContext* input, int streamIndex, AVPacket* packet);
// The end of a stream, in seconds: the latest packet's end. Negative when it has none.
double streamEnd(const QString& path, AVMediaType type, QString* error);

// Where the movie's packets of one stream come from.
class PacketSource {
public:
    virtual ~PacketSource() = default;
    // The next packet, in the output stream's time base; false at the end.
    virtual bool next(AVPacket* packet) = 0;
};

// The packets of one input stream, unchanged, up to `end` seconds (negative: all).
class CopiedStream : public PacketSource {
public:
    CopiedStream(Input input, int index, AVStream* output, double end);
    bool next(AVPacket* packet) override;

private:
    Input input;
    int index;
    AVStream* output;
    double end;
};

// A new output stream with the input stream's parameters, for copied packets.
AVStream* copyStream(AVFormatContext* output, const AVStream* input);

// Writes the sources' packets, earliest first. `stop`, when given, is asked before each
// packet; a true answer ends the writing with false and `error` set.
bool interleave(AVFormatContext* output, const std::vector<PacketSource*>& sources, QString* error,
    const std::function<bool()>& stop = {});

} // namespace vistrale::ffmpeg
