#pragma once

#include "platform/ffmpeg/ffmpeg_audio_file.h"
#include "platform/media.h"
#include "platform/pulse/pulse_input.h"

#include <atomic>
#include <thread>

namespace vistrale {

// Records the PulseAudio server's default input (PipeWire serves the same protocol)
// into an AAC file, reading and encoding on a thread of its own.
class PulseMicrophoneRecorder : public MicrophoneRecorder {
public:
    // Main thread. Connects to the server and starts; null and `error` set when there
    // is no server or input or the file cannot be opened.
    static std::unique_ptr<PulseMicrophoneRecorder> start(
        const QString& path, Failure failed, Finished finished, QString* error);
    ~PulseMicrophoneRecorder() override;

    void stop() override;

private:
    PulseMicrophoneRecorder(Failure failed, Finished finished);
    void run();

    const Failure failed;
    const Finished finished;
    PulseInput input;
    AacFileWriter file;
    std::atomic<bool> stopping{false};
    std::thread worker;
};

} // namespace vistrale
