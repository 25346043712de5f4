// Live captions end to end: flite sentences played into a private PulseAudio server's
// default input while Vistrale runs captions on a virtual desktop. For each sentence,
// the time from the start of its first word (when the player started, plus the
// speech's own lead-in silence) to the first caption text the application shows
// (the diagnostics interface's CaptionText, asked about every 10 ms; the output frame
// follows within one frame, 33 ms). Also the CPU Vistrale used per second of speech.
// Usage: bench_caption_latency [SENTENCES, default 6]
#include "platform/clock.h"
#include "tests/support/process_cpu.h"
#include "tests/support/pulseaudio_session.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace vistrale;
using namespace vistrale::test;

namespace {

const char* const SENTENCES[] = {
    "Thank you for joining the meeting this Monday morning.",
    "Let me share my screen and walk you through the details.",
    "The results of this quarter are better than we expected.",
    "Please send me your questions after the presentation.",
    "We will start with a short overview of the project.",
    "Our next meeting is on Friday afternoon at three.",
};

// Seconds of near silence at the start of a 16-bit mono WAV file; negative when it
// cannot be read.
double leadIn(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray wav = file.readAll();
    if (wav.size() < 44 || !wav.startsWith("RIFF"))
        return -1;
    std::uint32_t rate = 0;
    std::memcpy(&rate, wav.constData() + 24, 4);
    const int data = wav.indexOf("data");
    if (data < 0 || rate == 0)
        return -1;
    const auto* samples = reinterpret_cast<const std::int16_t*>(wav.constData() + data + 8);
    const qsizetype count = (wav.size() - data - 8) / 2;
    for (qsizetype i = 0; i < count; ++i)
        if (std::abs(samples[i]) > 1000)
            return static_cast<double>(i) / rate;
    return -1;
}

void pause(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

QString captionText(VistraleProcess& app)
{
    const QString reply = app.diagnostics("CaptionText");
    const int start = reply.indexOf("string \"");
    return start < 0 ? QString() : reply.mid(start + 8).trimmed();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication qt(argc, argv);
    const int count = std::clamp(argc > 1 ? atoi(argv[1]) : 6, 1, static_cast<int>(std::size(SENTENCES)));
    PulseAudioSession sound;
    VirtualDesktop desktop;
    QString error;
    if (!sound.start(&error) || !desktop.start(&error)) {
        std::printf("no sound server or desktop: %s\n", qPrintable(error));
        return 1;
    }
    VistraleProcess app(desktop);
    app.setEnvironment("PULSE_SERVER", sound.serverAddress());
    app.writeSettings({"already-shown=true", "locale=en-US"});
    if (!app.start(&error)) {
        std::printf("no Vistrale: %s\n", qPrintable(error));
        return 1;
    }
    const std::optional<quint32> preview = app.previewWindow();
    const std::optional<QRect> geometry = preview ? app.windowGeometry(*preview) : std::nullopt;
    if (!geometry) {
        std::printf("no preview window\n");
        return 1;
    }
    desktop.run("xdotool", {"mousemove", "--sync", QString::number(geometry->right() - 40),
                               QString::number(geometry->top() + 12), "click", "1"});
    if (!app.waitForLine("recognizer.supportsOnDeviceRecognition=", 10000)) {
        std::printf("captions did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    // The model loads on the first task: a warm-up sentence first.
    const QString warmUp = dir.filePath("warm.wav");
    QProcess::execute("flite", {"-voice", "slt", "-t", "Good morning everyone.", "-o", warmUp});
    sound.playFile(warmUp, 20);
    waitUntil([&] { return !captionText(app).isEmpty(); }, 30000);
    pause(3000);

    std::vector<double> latencies;
    double speechSeconds = 0;
    const double cpuBefore = cpuSeconds(app.pid());
    const double cpuStart = hostClockNow();
    for (int i = 0; i < count; ++i) {
        const QString wav = dir.filePath(QString("s%1.wav").arg(i));
        QProcess::execute("flite", {"-voice", "slt", "-t", SENTENCES[i], "-o", wav});
        const double lead = leadIn(wav);
        speechSeconds += (QFile(wav).size() - 44) / 2.0 / 16000.0;
        // The previous sentence's last result has come in once the text stays the same.
        QString before = captionText(app);
        for (int settled = 0; settled < 4;) {
            pause(250);
            const QString now = captionText(app);
            settled = now == before ? settled + 1 : 0;
            before = now;
        }
        const double played = hostClockNow();
        sound.playFile(wav, 20);
        double shown = -1;
        waitUntil(
            [&] {
                if (captionText(app) == before)
                    return false;
                shown = hostClockNow();
                return true;
            },
            15000);
        if (shown > 0 && lead >= 0) {
            latencies.push_back(shown - played - lead);
            std::printf("  \"%s\": first caption %.2f s after its first word began\n", SENTENCES[i], latencies.back());
        } else {
            std::printf("  \"%s\": no caption\n", SENTENCES[i]);
        }
        pause(3000);
    }
    const double cpuUsed = cpuSeconds(app.pid()) - cpuBefore;
    const double wall = hostClockNow() - cpuStart;
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty())
        return 1;
    std::printf("first word to first caption: median %.2f s, worst %.2f s over %zu sentences (goal 0.5 s)\n",
        latencies[latencies.size() / 2], latencies.back(), latencies.size());
    std::printf("Vistrale's CPU while captioning: %.1f %% of one core over %.0f s holding %.0f s of speech\n",
        100 * cpuUsed / wall, wall, speechSeconds);
    return 0;
}
