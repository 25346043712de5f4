#include "platform/pulse/pulse_microphone.h"

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
    if (!recorder->input.open(AacFileWriter::SAMPLE_RATE, AacFileWriter::CHANNELS,
            CHUNK_FRAMES * AacFileWriter::CHANNELS * sizeof(std::int16_t), "Microphone recording", error)) {
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
        if (!input.read(samples, sizeof samples, &error)) {
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
