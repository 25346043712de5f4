// Recording in the running application: three windows repainting continuously (xterm
// running `yes`) shared with the real shortcut, a private PulseAudio server playing a
// tone as the microphone. Printed: Vistrale's CPU without and with a recording (with
// audio) in % of one core and the difference; the frames offered to the movie writer
// against those written and dropped over the recording; the resident memory's slope
// over the recording (MB per minute, least squares over samples every 2 s); and the
// time from the stop to the save panel (the movie completed and merged).
// Usage: bench_recording_app [RECORDING SECONDS, default 60] [BASELINE SECONDS, default 20]
#include "tests/support/process_cpu.h"
#include "tests/support/pulseaudio_session.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

using namespace vistrale::test;

namespace {

void pause(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

// Resident memory of a process in MB; -1 when it cannot be read.
double residentMegabytes(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

QJsonObject recordingStatistics(VistraleProcess& app)
{
    const QString out = app.diagnostics("RecordingStatistics");
    const int start = out.indexOf('{');
    const int end = out.lastIndexOf('}');
    if (start < 0 || end < start)
        return {};
    return QJsonDocument::fromJson(out.mid(start, end - start + 1).toUtf8()).object();
}

// Least-squares slope of y over x.
double slope(const std::vector<std::pair<double, double>>& points)
{
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& [x, y] : points) {
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double n = static_cast<double>(points.size());
    const double denominator = n * sxx - sx * sx;
    return denominator == 0 ? 0 : (n * sxy - sx * sy) / denominator;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const double recordingSeconds = argc > 1 ? QString(argv[1]).toDouble() : 60;
    const double baselineSeconds = argc > 2 ? QString(argv[2]).toDouble() : 20;

    VirtualDesktop desktop;
    PulseAudioSession pulse;
    QString error;
    if (!desktop.start(&error) || !pulse.start(&error)) {
        std::fprintf(stderr, "bench_recording_app: %s\n", qPrintable(error));
        return 1;
    }
    VistraleProcess app(desktop);
    app.writeSettings({"already-shown=true", "soundoff=true"});
    app.setEnvironment("PULSE_SERVER", pulse.serverAddress());
    if (!app.start(&error)) {
        std::fprintf(stderr, "bench_recording_app: %s\n", qPrintable(error));
        return 1;
    }
    for (int i = 0; i < 3; ++i) {
        const QString title = QString("busy-%1").arg(i);
        const int x = 20 + i * 620, y = 80;
        desktop.startClient("xterm",
            {"-title", title, "-geometry", QString("80x24+%1+%2").arg(x).arg(y), "-e", "yes", "Vistrale benchmark"});
        if (!desktop.waitForWindow(title)) {
            std::fprintf(stderr, "bench_recording_app: no %s window\n", qPrintable(title));
            return 1;
        }
        desktop.run("xdotool", {"mousemove", QString::number(x + 150), QString::number(y + 150)});
        desktop.run("xdotool", {"key", "super+F1"});
        pause(800);
    }
    pulse.playTone(440, recordingSeconds + baselineSeconds + 60);
    pause(2000);

    double before = cpuSeconds(app.pid());
    pause(static_cast<int>(baselineSeconds * 1000));
    const double idleCpu = 100.0 * (cpuSeconds(app.pid()) - before) / baselineSeconds;

    QTemporaryDir folder;
    app.diagnostics("AnswerDialog", {"string:Recording Options", "string:Audio"});
    app.diagnostics("AnswerDialog", {"string:Vistrale", "string:" + folder.filePath("bench.mp4")});
    app.diagnostics("AnswerDialog", {"string:Vistrale Recording", "string:Cancel"});
    if (!app.triggerMenuItem(200) || !recordingStatistics(app)["recording"].toBool()) {
        std::fprintf(stderr, "bench_recording_app: the recording did not start\n%s\n", qPrintable(app.output()));
        return 1;
    }
    // The first seconds set the encoder and the buffers up; memory is sampled after.
    pause(2000);
    before = cpuSeconds(app.pid());
    const double framesBefore = app.statistics()["framesOut"].toDouble();
    std::vector<std::pair<double, double>> memory;
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < recordingSeconds * 1000) {
        memory.emplace_back(elapsed.elapsed() / 60000.0, residentMegabytes(app.pid()));
        pause(2000);
    }
    const double measured = elapsed.elapsed() / 1000.0;
    const double recordingCpu = 100.0 * (cpuSeconds(app.pid()) - before) / measured;
    const double outputFrames = app.statistics()["framesOut"].toDouble() - framesBefore;
    const QJsonObject counts = recordingStatistics(app);

    QElapsedTimer finishing;
    finishing.start();
    app.triggerMenuItem(200);
    const bool saved = waitUntil([&] { return app.output().contains("scripted answer Vistrale |"); }, 120000);

    std::printf("3 busy windows shared, 1920x1080 output: Vistrale %.1f %% of one core without recording (%.0f s), "
                "%.1f %% while recording with audio (%.0f s): %+.1f %% of one core for the recording\n",
        idleCpu, baselineSeconds, recordingCpu, measured, recordingCpu - idleCpu);
    std::printf("frames over the recording (from its 3rd second on the output counted): output %.0f (%.1f/s); "
                "movie writer since the start: offered %d, written %d, dropped %d\n",
        outputFrames, outputFrames / measured, counts["offered"].toInt(), counts["written"].toInt(),
        counts["dropped"].toInt());
    const std::vector<std::pair<double, double>> secondHalf(memory.begin() + memory.size() / 2, memory.end());
    std::printf("resident memory while recording: %.1f MB first, %.1f MB last, slope %.2f MB per minute (%.2f over "
                "the second half)\n",
        memory.empty() ? -1 : memory.front().second, memory.empty() ? -1 : memory.back().second, slope(memory),
        slope(secondHalf));
    std::printf("  samples (s: MB):");
    for (std::size_t i = 0; i < memory.size(); i += 5)
        std::printf(" %.0f: %.1f", memory[i].first * 60, memory[i].second);
    std::printf("\n");
    if (saved)
        std::printf("stop to save panel (movie completed and merged, %.0f s recording): %.0f ms\n", measured + 2,
            static_cast<double>(finishing.elapsed()));
    else
        std::printf("stop to save panel: no save panel within 120 s\n");
    return 0;
}
