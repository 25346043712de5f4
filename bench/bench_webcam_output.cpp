// The webcam in the output, measured two ways:
// - CPU of Vistrale on a virtual desktop with a 1280 × 720, 30 frames/s test webcam of a
//   private PipeWire session shown in the output, against the same scene with the
//   webcam off, in one run;
// - the latency from a webcam frame to the first output frame that shows it, in process
//   (fake webcams fed from a thread, real clock and compositor).
#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_webcam.h"
#include "platform/qt/qt_clock.h"
#include "preview/vistrale_view_controller.h"
#include "tests/support/pipewire_session.h"
#include "tests/support/process_cpu.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"
#include "webcam/webcam_overlay.h"

#include <QApplication>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace vistrale;
using namespace vistrale::test;

namespace {

using Steady = std::chrono::steady_clock;

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()))];
}

// Vistrale's CPU over `seconds`, as % of one core, and its output frames a second.
std::pair<double, double> measure(VistraleProcess& app, double seconds)
{
    const double before = cpuSeconds(app.pid());
    const qint64 framesBefore = app.statistics()["framesOut"].toInteger(-1);
    waitUntil([] { return false; }, static_cast<int>(seconds * 1000));
    const double after = cpuSeconds(app.pid());
    const QJsonObject statistics = app.statistics();
    const qint64 framesAfter = statistics["framesOut"].toInteger(-1);
    std::printf("  %lld of %lld frames drawn only where they changed; the last took %.2f ms of CPU\n",
        statistics["framesDrawnInPart"].toInteger(-1), statistics["framesDrawn"].toInteger(-1),
        statistics["lastDrawCpuMilliseconds"].toDouble());
    return {100.0 * (after - before) / seconds, (framesAfter - framesBefore) / seconds};
}

bool cpuFigures()
{
    VirtualDesktop desktop;
    QString error;
    if (!desktop.start(&error)) {
        std::fprintf(stderr, "bench_webcam_output: %s\n", qPrintable(error));
        return false;
    }
    PipeWireSession session(desktop.sessionBusAddress());
    if (!session.start(&error)) {
        std::fprintf(stderr, "bench_webcam_output: %s\n", qPrintable(error));
        return false;
    }
    session.startClient("gst-launch-1.0",
        {"-q", "videotestsrc", "is-live=true", "pattern=ball", "!",
            "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1", "!", "pipewiresink", "mode=provide",
            "client-name=testcam",
            "stream-properties=props,media.class=(string)Video/Source,node.description=(string)Test-Webcam"});
    if (!waitUntil([&] { return session.hasNode("testcam"); }, 10000)) {
        std::fprintf(stderr, "bench_webcam_output: the test webcam is not published\n");
        return false;
    }
    const double seconds = 10;
    double figures[2][2] = {};
    for (int on = 0; on < 2; ++on) {
        VistraleProcess app(desktop);
        app.setEnvironment("PIPEWIRE_REMOTE", session.socketPath());
        app.writeSettings({"already-shown=true", "soundoff=true", "overlay-text=Webcam benchmark",
            on ? "camera=true" : "camera=false"});
        if (!app.start(&error)) {
            std::fprintf(stderr, "bench_webcam_output: %s\n", qPrintable(error));
            return false;
        }
        waitUntil([] { return false; }, 3000);
        const auto [cpu, fps] = measure(app, seconds);
        figures[on][0] = cpu;
        figures[on][1] = fps;
        app.quit();
    }
    std::printf("webcam off: Vistrale %.1f %% of one core, %.1f output frames/s\n", figures[0][0], figures[0][1]);
    std::printf(
        "webcam 1280x720@30 on: Vistrale %.1f %% of one core, %.1f output frames/s\n", figures[1][0], figures[1][1]);
    std::printf("the webcam costs %.1f %% of one core (goal: at most 5)\n", figures[1][0] - figures[0][0]);
    return true;
}

void latencyFigures()
{
    QTemporaryDir dir;
    std::unique_ptr<Settings> settings = Settings::atPath(dir.filePath("Vistrale.conf"));
    settings->setBool(keys::CAMERA, true);
    settings->setBool(keys::ALREADY_SHOWN, true);
    FakePlatform fake;
    fake.webcams->addCamera({"cam", "Bench Camera"});
    FakeWebcams* webcams = fake.webcams;
    Platform platform = fake.take();
    platform.clock = std::make_unique<QtClock>();
    auto vc = std::make_unique<VistraleViewController>(platform, *settings, nullptr);
    vc->view();
    waitUntil([] { return false; }, 1000);
    const QPointF centre = vc->webcam()->view()->frame().center();
    const QPoint probe(static_cast<int>(centre.x()), static_cast<int>(1080 - centre.y()));

    // Frames alternate between two colours, 30 a second; each push time is kept.
    std::mutex lock;
    std::vector<Steady::time_point> pushed;
    std::atomic<bool> running{true};
    std::thread feeder([&] {
        std::vector<FrameRef> colours;
        for (QColor colour : {QColor(Qt::red), QColor(Qt::blue)}) {
            auto frame = std::make_shared<FrameBuffer>();
            frame->image = QImage(1280, 720, QImage::Format_ARGB32_Premultiplied);
            frame->image.fill(colour);
            colours.push_back(frame);
        }
        for (int i = 0; running; ++i) {
            {
                std::lock_guard guard(lock);
                pushed.push_back(Steady::now());
            }
            webcams->pushFrame("cam", colours[i % 2]);
            std::this_thread::sleep_for(std::chrono::milliseconds(33));
        }
    });
    std::vector<double> latencies;
    int lastSeen = -1;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const FrameRef frame = vc->lastCapturedFrame().surface;
        if (!frame)
            return;
        const QRgb pixel = frame->image.pixel(probe);
        const int colour = qRed(pixel) > 200 ? 0 : qBlue(pixel) > 200 ? 1 : -1;
        if (colour < 0 || colour == lastSeen)
            return;
        lastSeen = colour;
        std::lock_guard guard(lock);
        // The newest push of that colour is the frame now shown.
        for (std::size_t i = pushed.size(); i-- > 0;) {
            if (static_cast<int>(i % 2) == colour) {
                latencies.push_back(std::chrono::duration<double, std::milli>(Steady::now() - pushed[i]).count());
                break;
            }
        }
    });
    poll.start();
    waitUntil([&] { return latencies.size() >= 150; }, 20000);
    poll.stop();
    running = false;
    feeder.join();
    if (latencies.size() > 10)
        latencies.erase(latencies.begin(), latencies.begin() + 5);
    std::printf("webcam frame to output frame: median %.1f ms, p90 %.1f ms over %zu frames (one output frame is "
                "33.3 ms)\n",
        percentile(latencies, 0.5), percentile(latencies, 0.9), latencies.size());
    vc.reset();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    latencyFigures();
    return cpuFigures() ? 0 : 1;
}
