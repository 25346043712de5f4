#include "platform/fake/fake_media.h"

#include <QFile>

namespace vistrale {
namespace {

class FakeVideoWriter : public VideoWriter {
public:
    explicit FakeVideoWriter(std::shared_ptr<FakeMedia::Writer> state)
        : state(std::move(state))
    {
    }
    ~FakeVideoWriter() override { state->destroyed = true; }
    bool append(FrameRef frame, double seconds) override
    {
        if (state->finishCalled)
            return false;
        state->frames.emplace_back(std::move(frame), seconds);
        return true;
    }
    void finish(Finished done) override
    {
        state->finishCalled = true;
        state->done = std::move(done);
    }
    VideoWriterCounts counts() const override
    {
        const auto n = static_cast<std::uint64_t>(state->frames.size());
        return {n, n, 0};
    }

private:
    std::shared_ptr<FakeMedia::Writer> state;
};

class FakeMicrophoneRecorder : public MicrophoneRecorder {
public:
    explicit FakeMicrophoneRecorder(std::shared_ptr<FakeMedia::Microphone> state)
        : state(std::move(state))
    {
    }
    ~FakeMicrophoneRecorder() override { state->destroyed = true; }
    void stop() override { state->stopped = true; }

private:
    std::shared_ptr<FakeMedia::Microphone> state;
};

} // namespace

std::unique_ptr<VideoWriter> FakeMedia::createVideoWriter(
    const VideoWriterSettings& settings, VideoWriter::Failure failed, QString* error)
{
    if (!writerError.isEmpty()) {
        *error = writerError;
        return nullptr;
    }
    auto state = std::make_shared<Writer>();
    state->settings = settings;
    state->failed = std::move(failed);
    writers.push_back(state);
    return std::make_unique<FakeVideoWriter>(state);
}

std::unique_ptr<MicrophoneRecorder> FakeMedia::startMicrophone(
    const QString& path, MicrophoneRecorder::Failure failed, MicrophoneRecorder::Finished finished, QString* error)
{
    if (!microphoneError.isEmpty()) {
        *error = microphoneError;
        return nullptr;
    }
    auto state = std::make_shared<Microphone>();
    state->path = path;
    state->failed = std::move(failed);
    state->finished = std::move(finished);
    microphones.push_back(state);
    return std::make_unique<FakeMicrophoneRecorder>(state);
}

bool FakeMedia::merge(const MergeRequest& request, QString* error)
{
    std::lock_guard guard(mergeLock);
    merges.push_back(request);
    if (!mergeError.isEmpty()) {
        *error = mergeError;
        return false;
    }
    // The movie is there afterwards, as a real merge leaves it (a test's own file stays).
    QFile movie(request.outputPath);
    if (!request.outputPath.isEmpty() && !movie.exists() && movie.open(QIODevice::WriteOnly))
        movie.write("merged");
    return true;
}

bool FakeMedia::exportWithOverlays(const OverlayExportRequest& request, ExportControl& control, QString* error)
{
    Export call{request, {}};
    for (const MovieOverlay& overlay : request.overlays)
        call.pictures.push_back(overlay.picture ? overlay.picture() : QImage());
    std::unique_lock guard(mergeLock);
    exportCalls.push_back(std::move(call));
    runningExport = &control;
    exportEnded = false;
    exportChanged.notify_all();
    while (!exportEnded && !control.cancelled)
        exportChanged.wait_for(guard, std::chrono::milliseconds(5));
    runningExport = nullptr;
    if (control.cancelled || !exportError.isEmpty()) {
        *error = control.cancelled ? QStringLiteral("the export was cancelled") : exportError;
        return false;
    }
    QFile movie(request.outputPath);
    if (movie.open(QIODevice::WriteOnly))
        movie.write("exported");
    control.progress = 1;
    return true;
}

std::vector<FakeMedia::Export> FakeMedia::exports() const
{
    std::lock_guard guard(mergeLock);
    return exportCalls;
}

void FakeMedia::setExportProgress(double progress)
{
    std::lock_guard guard(mergeLock);
    if (runningExport)
        runningExport->progress = progress;
}

void FakeMedia::endExport()
{
    std::lock_guard guard(mergeLock);
    exportEnded = true;
    exportChanged.notify_all();
}

bool FakeMedia::waitForExport(double seconds)
{
    std::unique_lock guard(mergeLock);
    return exportChanged.wait_for(guard, std::chrono::duration<double>(seconds), [this] { return runningExport; });
}

std::vector<MergeRequest> FakeMedia::mergeRequests() const
{
    std::lock_guard guard(mergeLock);
    return merges;
}

} // namespace vistrale
