#pragma once

#include "platform/media.h"

#include <mutex>
#include <vector>

namespace vistrale {

// The media of the recorder, in memory: writers and microphone recordings that keep
// what they were given and end when the test says so.
class FakeMedia : public Media {
public:
    // One writer's life, kept after the writer is gone.
    struct Writer {
        VideoWriterSettings settings;
        VideoWriter::Failure failed;
        std::vector<std::pair<FrameRef, double>> frames;
        VideoWriter::Finished done;
        bool finishCalled = false;
        bool destroyed = false;
        // Ends the file as the real writer's thread would (call from any thread).
        void complete(bool ok) const { done(ok); }
    };
    struct Microphone {
        QString path;
        MicrophoneRecorder::Failure failed;
        MicrophoneRecorder::Finished finished;
        bool stopped = false;
        bool destroyed = false;
    };

    std::unique_ptr<VideoWriter> createVideoWriter(
        const VideoWriterSettings& settings, VideoWriter::Failure failed, QString* error) override;
    std::unique_ptr<MicrophoneRecorder> startMicrophone(const QString& path, MicrophoneRecorder::Failure failed,
        MicrophoneRecorder::Finished finished, QString* error) override;
    bool merge(const MergeRequest& request, QString* error) override;

    // Set by the test: a refusal to open writers or microphones, a merge's failure.
    QString writerError;
    QString microphoneError;
    QString mergeError;

    std::vector<std::shared_ptr<Writer>> writers;
    std::vector<std::shared_ptr<Microphone>> microphones;
    // Merges asked for; guarded by mergeLock (the merge runs off the main thread).
    std::vector<MergeRequest> mergeRequests() const;

private:
    mutable std::mutex mergeLock;
    std::vector<MergeRequest> merges;
};

} // namespace vistrale
