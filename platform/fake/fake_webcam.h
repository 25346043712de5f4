#pragma once

#include "platform/webcam.h"

#include <map>
#include <mutex>

namespace vistrale {

// Webcams the test plugs in and out, with frames and failures it pushes. Every call
// runs the sinks and the list-change callback at once, on the calling thread.
class FakeWebcams : public Webcams {
public:
    // `backendName`: what backend() says ("none" stands for a machine without
    // cameras).
    explicit FakeWebcams(QString backendName = QStringLiteral("fake"));
    ~FakeWebcams() override;

    QString backend() const override { return backendName; }
    std::vector<WebcamInfo> cameras() override;
    void setCamerasChanged(CamerasChanged changed) override;
    std::unique_ptr<WebcamStream> start(const QString& id, FrameSink frames, FailureSink failed) override;

    // Plugs a camera in (appended to the list); a camera named like Vistrale's own is
    // kept out of the list, as the real backends do. Tells the list-change callback.
    void addCamera(const WebcamInfo& camera);
    // Unplugs a camera: its running streams fail with "gone", then the list-change
    // callback runs.
    void removeCamera(const QString& id);
    // The next start of `id` fails at once with `failure` (as a locked or busy device).
    void failNextStart(const QString& id, WebcamFailure failure);
    // Delivers `frame` to every running stream of `id`; how many received it.
    int pushFrame(const QString& id, FrameRef frame);
    // Fails every running stream of `id`; how many were failed.
    int fail(const QString& id, WebcamFailure failure, const QString& detail = {});
    // Streams of `id` started and not yet stopped or failed.
    int running(const QString& id) const;
    int starts() const;

private:
    struct Stream;
    class Handle;

    const QString backendName;
    mutable std::mutex lock;
    std::vector<WebcamInfo> list;
    CamerasChanged changed;
    std::vector<std::shared_ptr<Stream>> streams;
    std::map<QString, WebcamFailure> startFailures;
    int startCount = 0;
};

} // namespace vistrale
