#pragma once

#include <QString>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

namespace vistrale {

// An AAC file (.m4a) of 16-bit stereo samples at 44100 Hz, 192 kbit/s, written in
// fragments of a second so that it stays playable however its writer ends. One
// thread at a time.
class AacFileWriter {
public:
    static constexpr int SAMPLE_RATE = 44100;
    static constexpr int CHANNELS = 2;
    static constexpr int BIT_RATE = 192000;

    AacFileWriter() = default;
    ~AacFileWriter();
    AacFileWriter(const AacFileWriter&) = delete;
    AacFileWriter& operator=(const AacFileWriter&) = delete;

    // False and `error` set when the file or the encoder cannot be opened.
    bool open(const QString& path, QString* error);
    // Interleaved samples, `frames` of CHANNELS each. False and `error` set when
    // encoding or writing fails; the file keeps what was written.
    bool write(const std::int16_t* samples, int frames, QString* error);
    // Encodes what is buffered and completes the file; false and `error` set on a
    // failure. Closes the file in any case.
    bool close(QString* error);

private:
    bool encodePending(bool all, QString* error);
    bool send(AVFrame* frame, QString* error);
    void release();

    AVFormatContext* output = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    // Planar samples waiting for a whole encoder frame.
    std::vector<float> pending[CHANNELS];
    std::int64_t nextPts = 0;
};

} // namespace vistrale
