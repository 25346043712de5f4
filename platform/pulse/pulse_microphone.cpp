#include "platform/pulse/pulse_microphone.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace vistrale {
namespace {

// Samples read at once: one AAC frame, so a stop waits at most 23 ms.
constexpr int CHUNK_FRAMES = 1024;

} // namespace

PulseMicrophoneRecorder::PulseMicrophoneRecorder(Failure failed, Finished finished)
    : failed(std::move(failed))
    , finished(std::move(finished))
{
}

std::unique_ptr<PulseMicrophoneRecorder> PulseMicrophoneRecorder::start(
    const QString& path, Failure failed, Finished finished, QString* error)
{
    std::unique_ptr<PulseMicrophoneRecorder> recorder(
        new PulseMicrophoneRecorder(std::move(failed), std::move(finished)));
    if (!recorder->file.open(path, error))
        return nullptr;
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = AacFileWriter::SAMPLE_RATE;
    spec.channels = AacFileWriter::CHANNELS;
    pa_buffer_attr buffering{};
    buffering.maxlength = static_cast<std::uint32_t>(-1);
    buffering.fragsize = CHUNK_FRAMES * AacFileWriter::CHANNELS * sizeof(std::int16_t);
    int status = 0;
    recorder->connection = pa_simple_new(
        nullptr, "Vistrale", PA_STREAM_RECORD, nullptr, "Microphone recording", &spec, nullptr, &buffering, &status);
    if (!recorder->connection) {
        *error = QString("no sound input: ") + pa_strerror(status);
        QString ignored;
        recorder->file.close(&ignored);
        return nullptr;
    }
    recorder->worker = std::thread([r = recorder.get()] { r->run(); });
    return recorder;
}

PulseMicrophoneRecorder::~PulseMicrophoneRecorder()
{
    stop();
    if (worker.joinable())
        worker.join();
    if (connection)
        pa_simple_free(connection);
}

void PulseMicrophoneRecorder::stop()
{
    stopping = true;
}

void PulseMicrophoneRecorder::run()
{
    std::int16_t samples[CHUNK_FRAMES * AacFileWriter::CHANNELS];
    QString error;
    bool ok = true;
    while (ok && !stopping) {
        int status = 0;
        if (pa_simple_read(connection, samples, sizeof samples, &status) < 0) {
            error = QString("sound input lost: ") + pa_strerror(status);
            ok = false;
        } else if (!file.write(samples, CHUNK_FRAMES, &error)) {
            ok = false;
        }
    }
    QString closing;
    if (!file.close(&closing) && ok) {
        error = closing;
        ok = false;
    }
    if (!ok && failed)
        failed(error);
    if (finished)
        finished(ok);
}

} // namespace vistrale
