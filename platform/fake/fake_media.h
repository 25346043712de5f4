#pragma once

#include "platform/media.h"

#include <condition_variable>
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
    // Waits, on the caller's thread, until the test ends the export (or it is
    // cancelled); then writes "exported" to the output, unless `exportError` is set.
    bool exportWithOverlays(const OverlayExportRequest& request, ExportControl& control, QString* error) override;

    // Set by the test: a refusal to open writers or microphones, a merge's failure.
    QString writerError;
    QString microphoneError;
    QString mergeError;
    QString exportError;

    std::vector<std::shared_ptr<Writer>> writers;
    std::vector<std::shared_ptr<Microphone>> microphones;
    // Merges asked for; guarded by mergeLock (the merge runs off the main thread).
    std::vector<MergeRequest> mergeRequests() const;

    // An export asked for, with its overlays' pictures (each made once, as the real
    // export makes them).
    struct Export {
        OverlayExportRequest request;
        std::vector<QImage> pictures;
    };
    std::vector<Export> exports() const;
    // Any thread: the running export reports `progress`; `endExport` lets it finish.
    void setExportProgress(double progress);
    void endExport();
    // Waits until an export is running (false after `seconds`).
    bool waitForExport(double seconds);

private:
    mutable std::mutex mergeLock;
    std::condition_variable exportChanged;
    std::vector<MergeRequest> merges;
    std::vector<Export> exportCalls;
    ExportControl* runningExport = nullptr;
    bool exportEnded = false;
};

} // namespace vistrale
