// The pointer in the output: Vistrale shares an xlogo on a virtual desktop (capture
// mode) and the pointer is moved over it with xdotool.
// 1. Latency from a pointer move to the first output frame that shows it: with Super
//    held the pointer carries a 64-point disc; an output pixel beside the pointer is
//    traced (VISTRALE_TRACE_OUTPUT_PIXELS), and the pointer jumps onto and away from it.
//    xdotool warps the pointer, which makes no raw motion events: a warped pointer is
//    seen by the frame clock's query (every 0.1 s), a real mouse's motion at once. So
//    the moves are made twice: warped, and as XTest motion (xte), as a mouse moves.
// 2. Vistrale's CPU with the pointer still and with it moving 30 times a second over
//    the window, one after the other in the same run, and their ratio.
// 3. The magnifier's cost per output frame: the compositor's CPU time per frame with
//    Super held (disc) and with Super+Alt held (magnifier), the pointer moving.
#include "tests/support/process_cpu.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QApplication>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace vistrale::test;

namespace {

void pause(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool bluish(quint32 rgb)
{
    const int r = (rgb >> 16) & 0xff, b = rgb & 0xff;
    return b > r + 20 && b > 100;
}

bool red(quint32 rgb)
{
    const int r = (rgb >> 16) & 0xff, g = (rgb >> 8) & 0xff, b = rgb & 0xff;
    return r > 200 && g < 60 && b < 60;
}

// The first traced output frame at or after `since` whose pixel passes `test`; its
// time, or -1. `seen` keeps the part of the log already read.
double firstFrame(VistraleProcess& app, double since, bool (*test)(quint32), int* seen)
{
    static const QRegularExpression line(R"(output frame (\d+\.\d+) \d+,\d+=#([0-9a-f]{6}))");
    const QString log = app.output();
    double found = -1;
    int end = *seen;
    auto it = line.globalMatch(log, *seen);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        end = m.capturedEnd();
        const double time = m.captured(1).toDouble();
        if (time >= since && test(m.captured(2).toUInt(nullptr, 16))) {
            found = time;
            break;
        }
    }
    *seen = end;
    return found;
}

// A background process moving the pointer about `centre` 30 times a second: xte's
// XTest motion (as a mouse moves) when it is there, else xdotool's warps.
QProcess* startMoving(VirtualDesktop& desktop, QPoint centre, double seconds)
{
    const bool xte = !QStandardPaths::findExecutable("xte").isEmpty();
    QStringList arguments;
    const int moves = static_cast<int>(seconds * 30);
    for (int i = 0; i < moves; ++i) {
        const int dx = (i % 20) * 4 - 40, dy = ((i / 20) % 2) ? 20 : -20;
        const QString x = QString::number(centre.x() + dx), y = QString::number(centre.y() + dy);
        if (xte)
            arguments << QString("mousemove %1 %2").arg(x, y) << "usleep 33000";
        else
            arguments << "mousemove" << x << y << "sleep"
                      << "0.033";
    }
    auto* process = new QProcess();
    process->setProcessEnvironment(desktop.environment());
    process->start(xte ? "xte" : "xdotool", arguments);
    process->waitForStarted(3000);
    return process;
}

struct Load {
    double cpuPercent = -1;
    double drawCpuMs = -1;
    double framesPerSecond = -1;
};

Load measure(VistraleProcess& app, double seconds)
{
    Load load;
    std::vector<double> drawCpu;
    const double before = cpuSeconds(app.pid());
    const QJsonObject first = app.statistics();
    const double start = now();
    while (now() - start < seconds) {
        pause(200);
        const QJsonObject stats = app.statistics();
        if (stats.contains("lastDrawCpuMilliseconds"))
            drawCpu.push_back(stats["lastDrawCpuMilliseconds"].toDouble());
    }
    const double elapsed = now() - start;
    const QJsonObject last = app.statistics();
    load.cpuPercent = 100.0 * (cpuSeconds(app.pid()) - before) / elapsed;
    load.drawCpuMs = median(drawCpu);
    load.framesPerSecond = (last["framesDrawn"].toDouble() - first["framesDrawn"].toDouble()) / elapsed;
    return load;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication qt(argc, argv);
    VirtualDesktop desktop;
    QString error;
    if (!desktop.start(&error)) {
        std::printf("no desktop: %s\n", qPrintable(error));
        return 1;
    }
    // The logo's left middle is plain red; the traced pixel is 22 points right of P.
    const QPoint pointAt(350, 350);
    const QPoint traced = pointAt + QPoint(22, 0);
    const QPoint away = pointAt + QPoint(0, -90);
    VistraleProcess app(desktop);
    app.writeSettings({"already-shown=true", "image-mode=false"});
    app.setEnvironment("VISTRALE_TRACE_OUTPUT_PIXELS", QString("%1,%2").arg(traced.x()).arg(traced.y()));
    if (!app.start(&error)) {
        std::printf("no Vistrale: %s\n", qPrintable(error));
        return 1;
    }
    if (desktop.startClient("xlogo", {"-geometry", "400x300+300+200", "-bg", "red", "-fg", "yellow"}) < 0
        || !desktop.waitForWindow("xlogo")) {
        std::printf("no xlogo\n");
        return 1;
    }
    auto xdotool = [&](const QStringList& arguments) { desktop.run("xdotool", arguments); };
    auto moveTo = [&](QPoint p) { xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}); };
    moveTo(QPoint(500, 350));
    xdotool({"key", "super+F1"});
    if (!waitUntil([&] { return app.statistics()["shared"].toInt() == 1; }, 8000)) {
        std::printf("the xlogo was not shared\n");
        return 1;
    }
    pause(1500);

    // 1. Latency, once with xdotool's warps and once with XTest motion (xte), which
    // makes the raw motion events a real mouse makes.
    const bool haveXte = !QStandardPaths::findExecutable("xte").isEmpty();
    for (const bool warp : {true, false}) {
        if (!warp && !haveXte) {
            std::printf("pointer motion (XTest) to output frame: not measured (xte from xautomation missing)\n");
            break;
        }
        auto move = [&](QPoint p) {
            if (warp)
                moveTo(p);
            else
                desktop.run("xte", {QString("mousemove %1 %2").arg(p.x()).arg(p.y())});
        };
        xdotool({"keydown", "super"});
        std::vector<double> latencies;
        int seen = 0;
        int missed = 0;
        for (int i = 0; i < 30; ++i) {
            const bool onto = i % 2 == 0;
            pause(150);
            const double start = now();
            move(onto ? pointAt : away);
            double shown = -1;
            waitUntil(
                [&] {
                    shown = firstFrame(app, start, onto ? bluish : red, &seen);
                    return shown >= 0;
                },
                2000);
            if (shown < 0)
                ++missed;
            else
                latencies.push_back(1000 * (shown - start));
        }
        xdotool({"keyup", "super"});
        std::printf("pointer %s to output frame: median %.1f ms, min %.1f ms, max %.1f ms over %zu moves (%d not "
                    "seen); one output frame is 33.3 ms%s\n",
            warp ? "move (xdotool warp)" : "motion (XTest, as a mouse)", median(latencies),
            latencies.empty() ? -1 : *std::min_element(latencies.begin(), latencies.end()),
            latencies.empty() ? -1 : *std::max_element(latencies.begin(), latencies.end()), latencies.size(), missed,
            warp ? ", and a warp is seen by the frame clock's tick every 100 ms" : "");
    }

    // 2. CPU, still against moving, in the same run.
    const QPoint centre(450, 350);
    moveTo(centre);
    pause(1000);
    const Load still = measure(app, 6);
    QProcess* mover = startMoving(desktop, centre, 7);
    pause(300);
    const Load moving = measure(app, 6);
    mover->waitForFinished(5000);
    delete mover;
    std::printf("Vistrale CPU, pointer still over the shared window: %.1f %% of a core (%.1f frames/s)\n",
        still.cpuPercent, still.framesPerSecond);
    std::printf("Vistrale CPU, pointer moving 30 times a second: %.1f %% of a core (%.1f frames/s); "
                "difference %.1f points, ratio %.2f\n",
        moving.cpuPercent, moving.framesPerSecond, moving.cpuPercent - still.cpuPercent,
        still.cpuPercent > 0 ? moving.cpuPercent / still.cpuPercent : -1);

    // 3. Magnifier cost per output frame.
    xdotool({"keydown", "super"});
    mover = startMoving(desktop, centre, 7);
    pause(300);
    const Load disc = measure(app, 6);
    mover->waitForFinished(5000);
    delete mover;
    xdotool({"keydown", "alt"});
    mover = startMoving(desktop, centre, 7);
    pause(300);
    const Load magnified = measure(app, 6);
    mover->waitForFinished(5000);
    delete mover;
    xdotool({"keyup", "alt"});
    xdotool({"keyup", "super"});
    std::printf("compositor CPU per output frame, pointer moving: with the disc %.2f ms, with the magnifier %.2f ms "
                "(magnifier cost %.2f ms per frame); Vistrale CPU %.1f %% against %.1f %%\n",
        disc.drawCpuMs, magnified.drawCpuMs, magnified.drawCpuMs - disc.drawCpuMs, magnified.cpuPercent,
        disc.cpuPercent);
    return 0;
}
