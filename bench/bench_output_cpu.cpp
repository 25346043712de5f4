// Vistrale at work: 1, 3 and 6 windows repainting continuously (xterm running `yes`)
// shared with the real shortcut in capture mode, and for each the CPU of Vistrale in %
// of one core over 10 s and the compositor's ms per output frame (median of samples),
// both wall time and the compositor thread's own CPU time: on a saturated machine the
// thread waits for a core, and the difference is that wait.
// The baseline is `ffmpeg -f x11grab` capturing the whole 1920 × 1080 screen at 30
// frames a second to raw video, as a Linux user would otherwise do; Vistrale's CPU is
// printed as a ratio of it. With 3 windows the camera path is compared too, in the same
// run: Vistrale on a private PipeWire session with its camera read in YUY2 by
// GStreamer's pipewiresrc, against the recipe a user would otherwise publish, x11grab
// converted to yuyv422. Then the idle case: nothing changes, nothing is drawn.
#include "platform/pipewire/pipewire_camera.h"
#include "tests/support/pipewire_session.h"
#include "tests/support/process_cpu.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <unistd.h>
#include <vector>

using namespace vistrale::test;

namespace {

void pause(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

struct Figures {
    double cpuPercent = -1;
    double composeMilliseconds = -1;
    double composeCpuMilliseconds = -1;
    double framesPerSecond = -1;
    int shared = 0;
};

// Measures a process's CPU over `seconds`, sampling the compositor meanwhile.
Figures measure(VistraleProcess& app, double seconds)
{
    Figures figures;
    std::vector<double> compose;
    std::vector<double> composeCpu;
    // The span is timed: each sample is a D-Bus call that takes time of its own.
    QElapsedTimer span;
    const double before = cpuSeconds(app.pid());
    span.start();
    const QJsonObject first = app.statistics();
    for (int i = 0; i < static_cast<int>(seconds * 5); ++i) {
        pause(200);
        const QJsonObject now = app.statistics();
        if (now.contains("lastDrawMilliseconds"))
            compose.push_back(now["lastDrawMilliseconds"].toDouble());
        if (now.contains("lastDrawCpuMilliseconds"))
            composeCpu.push_back(now["lastDrawCpuMilliseconds"].toDouble());
    }
    const QJsonObject last = app.statistics();
    const double after = cpuSeconds(app.pid());
    const double elapsed = span.nsecsElapsed() / 1.0e9;
    figures.cpuPercent = 100.0 * (after - before) / elapsed;
    std::sort(compose.begin(), compose.end());
    if (!compose.empty())
        figures.composeMilliseconds = compose[compose.size() / 2];
    std::sort(composeCpu.begin(), composeCpu.end());
    if (!composeCpu.empty())
        figures.composeCpuMilliseconds = composeCpu[composeCpu.size() / 2];
    figures.framesPerSecond = (last["framesDrawn"].toDouble() - first["framesDrawn"].toDouble()) / elapsed;
    figures.shared = last["shared"].toInt();
    return figures;
}

double ffmpegBaseline(VirtualDesktop& desktop, double seconds, const QStringList& output = {"-f", "rawvideo"})
{
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
        return -1;
    QProcess ffmpeg;
    ffmpeg.setProcessEnvironment(desktop.environment());
    ffmpeg.start("ffmpeg",
        QStringList{"-loglevel", "error", "-f", "x11grab", "-video_size", "1920x1080", "-framerate", "30", "-i",
            desktop.display(), "-t", QString::number(seconds + 4)}
            + output + QStringList{"-y", "/dev/null"});
    if (!ffmpeg.waitForStarted(5000))
        return -1;
    pause(2000);
    QElapsedTimer span;
    const double before = cpuSeconds(ffmpeg.processId());
    span.start();
    pause(static_cast<int>(seconds * 1000));
    const double after = cpuSeconds(ffmpeg.processId());
    seconds = span.nsecsElapsed() / 1.0e9;
    ffmpeg.kill();
    ffmpeg.waitForFinished(3000);
    return before < 0 || after < 0 ? -1 : 100.0 * (after - before) / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const double seconds = 10;
    // Window counts may be named on the command line ("3" for the camera case alone);
    // the idle case runs only with the default set.
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        if (const int count = QString(argv[i]).toInt(); count > 0)
            counts.push_back(count);
    const bool everything = counts.empty();
    if (everything)
        counts = {1, 3, 6};

    for (int windows : counts) {
        VirtualDesktop desktop;
        QString error;
        if (!desktop.start(&error)) {
            std::fprintf(stderr, "bench_output_cpu: %s\n", qPrintable(error));
            return 1;
        }
        // With 3 windows the camera is published on a PipeWire session of its own.
        std::optional<PipeWireSession> session;
        if (windows == 3) {
            session.emplace(desktop.sessionBusAddress());
            if (!session->start(&error)) {
                std::fprintf(stderr, "bench_output_cpu: %s\n", qPrintable(error));
                return 1;
            }
        }
        VistraleProcess app(desktop);
        app.writeSettings({"already-shown=true", "soundoff=true"});
        if (session)
            app.setEnvironment("PIPEWIRE_REMOTE", session->socketPath());
        if (!app.start(&error)) {
            std::fprintf(stderr, "bench_output_cpu: %s\n", qPrintable(error));
            return 1;
        }
        for (int i = 0; i < windows; ++i) {
            const QString title = QString("busy-%1").arg(i);
            const int x = 20 + (i % 3) * 620, y = 80 + (i / 3) * 480;
            desktop.startClient("xterm",
                {"-title", title, "-geometry", QString("80x24+%1+%2").arg(x).arg(y), "-e", "yes",
                    "Vistrale benchmark"});
            const std::optional<quint32> id = desktop.waitForWindow(title);
            if (!id) {
                std::fprintf(stderr, "bench_output_cpu: no %s window\n", qPrintable(title));
                return 1;
            }
            desktop.run("xdotool", {"mousemove", QString::number(x + 150), QString::number(y + 150)});
            desktop.run("xdotool", {"key", "super+F1"});
            pause(800);
        }
        pause(2000);
        const Figures figures = measure(app, seconds);
        std::printf("%d busy window(s) shared (%d in the output): Vistrale %.1f %% of one core, compositor %.2f ms "
                    "wall and %.2f ms CPU per output frame (medians), %.1f output frames/s\n",
            windows, figures.shared, figures.cpuPercent, figures.composeMilliseconds, figures.composeCpuMilliseconds,
            figures.framesPerSecond);

        if (windows == 3) {
            const double ffmpeg = ffmpegBaseline(desktop, seconds);
            if (ffmpeg > 0)
                std::printf("baseline ffmpeg -f x11grab 1920x1080@30 to raw video: %.1f %% of one core; Vistrale with "
                            "3 windows = %.2f x the baseline\n",
                    ffmpeg, figures.cpuPercent / ffmpeg);
            else
                std::printf("baseline ffmpeg -f x11grab: not measured (ffmpeg missing)\n");

            // The camera path against the recipe it replaces.
            QProcess* reader = session->startClient("gst-launch-1.0",
                {"-q", "pipewiresrc", QString("target-object=%1").arg(vistrale::PipeWireCamera::NODE_NAME), "!",
                    "video/x-raw,format=YUY2", "!", "fakesink", "sync=false"});
            pause(3000);
            const Figures camera = measure(app, seconds);
            const bool reading = reader && reader->state() == QProcess::Running;
            session->stopClient(reader);
            const double recipe = ffmpegBaseline(desktop, seconds, {"-pix_fmt", "yuyv422", "-f", "rawvideo"});
            if (reading && recipe > 0)
                std::printf("camera read in YUY2 by pipewiresrc: Vistrale %.1f %% of one core, %.1f output frames/s; "
                            "recipe ffmpeg -f x11grab -pix_fmt yuyv422: %.1f %% of one core; ratio %.2f (goal: at "
                            "most 1.0)\n",
                    camera.cpuPercent, camera.framesPerSecond, recipe, camera.cpuPercent / recipe);
            else
                std::printf("camera path: not measured (%s)\n", reading ? "ffmpeg missing" : "the reader stopped");
        }
    }

    if (!everything)
        return 0;
    // Idle: a desktop where nothing changes.
    VirtualDesktop desktop;
    QString error;
    if (!desktop.start(&error))
        return 1;
    VistraleProcess app(desktop);
    app.writeSettings({"already-shown=true"});
    if (!app.start(&error))
        return 1;
    pause(3000);
    const Figures idle = measure(app, seconds);
    std::printf("idle: Vistrale %.2f %% of one core, %.2f output frames/s\n", idle.cpuPercent, idle.framesPerSecond);
    return 0;
}
