// The PipeWire camera on a private PipeWire session, read by GStreamer's pipewiresrc:
// frames per second a reader receives when the camera writes as fast as it can;
// CPU per delivered 1920 x 1080 frame for BGRx, mirrored BGRx, YUY2 and I420 (the
// reader forces the format), as the writing thread's median and as the whole
// process's time over the run; the time from write() to the reader holding the
// frame; and the process's CPU while the node is published and nobody watches.
#include "platform/pipewire/pipewire_camera.h"
#include "tests/support/pipewire_session.h"
#include "tests/support/process_cpu.h"
#include "tests/support/wait_until.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace vistrale;
using namespace vistrale::test;

namespace {

constexpr int WIDTH = 1920;
constexpr int HEIGHT = 1080;
constexpr qint64 BGRX_BYTES = qint64(WIDTH) * HEIGHT * 4;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

FrameBuffer picture()
{
    FrameBuffer frame;
    frame.image = QImage(WIDTH, HEIGHT, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < HEIGHT; ++y) {
        auto* row = reinterpret_cast<QRgb*>(frame.image.scanLine(y));
        for (int x = 0; x < WIDTH; ++x)
            row[x] = qRgb(x & 0xff, y & 0xff, (x ^ y) & 0xff);
    }
    return frame;
}

QStringList readerArguments(const QString& format, int frames, const QString& sink)
{
    return {"-q", "pipewiresrc", QString("target-object=%1").arg(PipeWireCamera::NODE_NAME),
        QString("num-buffers=%1").arg(frames), "!", "video/x-raw,format=" + format, "!", sink, "sync=false"};
}

bool waitForWatch(PipeWireCamera& camera, QProcess* reader)
{
    return reader && waitUntil([&] { return camera.watched() || reader->state() != QProcess::Running; }, 10000)
        && camera.watched();
}

// Writes as fast as buffers come back until the reader has taken `frames`; frames
// per second from the first written frame to the reader's exit, median of 3 readers.
void deliveredRate(PipeWireSession& session, PipeWireCamera& camera, const FrameBuffer& frame)
{
    const int frames = 300;
    std::vector<double> rates;
    for (int run = 0; run < 3; ++run) {
        QProcess* reader = session.startClient("gst-launch-1.0", readerArguments("BGRx", frames, "fakesink"));
        if (!waitForWatch(camera, reader)) {
            std::printf("delivered rate: the reader did not connect\n");
            return;
        }
        QElapsedTimer timer;
        int written = 0;
        while (reader->state() == QProcess::Running && (written == 0 || timer.elapsed() < 30000)) {
            if (camera.write(frame, 0, false)) {
                if (written++ == 0)
                    timer.start();
            } else {
                reader->waitForFinished(0);
            }
        }
        rates.push_back(frames / (timer.nsecsElapsed() / 1e9));
        session.stopClient(reader);
        waitUntil([&] { return !camera.watched(); }, 2000);
    }
    std::printf("delivered to pipewiresrc, unpaced, BGRx 1920 x 1080: median %.0f frames/s (3 readers of %d frames)\n",
        median(rates), frames);
}

// At 30 frames a second for `frames` frames: the writing thread's median CPU per
// frame, and the process's CPU (every thread) over the run per delivered frame.
void cpuPerFrame(
    PipeWireSession& session, PipeWireCamera& camera, const FrameBuffer& frame, const QString& format, bool mirrored)
{
    const int frames = 90;
    QProcess* reader = session.startClient("gst-launch-1.0", readerArguments(format, frames, "fakesink"));
    if (!waitForWatch(camera, reader)) {
        std::printf("%s: the reader did not connect\n", qPrintable(format));
        return;
    }
    std::vector<double> perWrite;
    const double processBefore = cpuSeconds(-1);
    const double readerBefore = cpuSeconds(reader->processId());
    double readerAfter = readerBefore;
    QElapsedTimer pace;
    pace.start();
    int next = 0;
    int delivered = 0;
    while (reader->state() == QProcess::Running && pace.elapsed() < 20000) {
        if (pace.elapsed() >= next * 1000 / 30) {
            ++next;
            const double start = threadCpuMs();
            if (camera.write(frame, 0, mirrored)) {
                perWrite.push_back(threadCpuMs() - start);
                ++delivered;
            }
            const double readerNow = cpuSeconds(reader->processId());
            if (readerNow >= 0)
                readerAfter = readerNow;
        }
        reader->waitForFinished(2);
    }
    const double processMs = (cpuSeconds(-1) - processBefore) * 1e3;
    std::printf("%-14s write() median %5.2f ms CPU; process %5.2f ms CPU per frame; reader %5.2f ms (%d frames)\n",
        qPrintable(format + (mirrored ? " mirrored" : "")), median(perWrite), processMs / std::max(1, delivered),
        (readerAfter - readerBefore) * 1e3 / std::max(1, delivered), delivered);
    session.stopClient(reader);
}

// One frame at a time, each written once the last one arrived whole: the time from
// write() to the reader's first byte of it on its standard output and to the last.
void latency(PipeWireSession& session, PipeWireCamera& camera, const FrameBuffer& frame)
{
    const int frames = 60;
    auto* reader = new QProcess;
    reader->setProgram("gst-launch-1.0");
    reader->setArguments(readerArguments("BGRx", frames, "fdsink"));
    reader->setProcessEnvironment(session.environment());
    reader->setStandardErrorFile(QProcess::nullDevice());
    reader->start();
    if (!reader->waitForStarted(5000) || !waitForWatch(camera, reader)) {
        std::printf("latency: the reader did not connect\n");
        delete reader;
        return;
    }
    std::vector<double> firstByte;
    std::vector<double> wholeFrame;
    for (int i = 0; i < frames && reader->state() == QProcess::Running; ++i) {
        QElapsedTimer timer;
        timer.start();
        while (!camera.write(frame, 0, false) && timer.elapsed() < 1000)
            reader->waitForReadyRead(1);
        timer.start();
        qint64 received = 0;
        double first = -1;
        while (received < BGRX_BYTES && timer.elapsed() < 2000) {
            if (reader->bytesAvailable() == 0)
                reader->waitForReadyRead(5);
            const qint64 got = reader->read(BGRX_BYTES - received).size();
            if (got > 0 && first < 0)
                first = timer.nsecsElapsed() / 1e6;
            received += got;
        }
        if (received == BGRX_BYTES) {
            firstByte.push_back(first);
            wholeFrame.push_back(timer.nsecsElapsed() / 1e6);
        }
        waitUntil([] { return false; }, 20);
    }
    std::printf("write() to the reader's first byte: median %.2f ms; to the whole frame: %.2f ms (%zu frames)\n",
        median(firstByte), median(wholeFrame), firstByte.size());
    reader->waitForFinished(3000);
    if (reader->state() != QProcess::NotRunning) {
        reader->kill();
        reader->waitForFinished(1000);
    }
    delete reader;
}

// Published, nobody reading, and the camera asked whether it is watched 30 times a
// second as the camera thread would: the process's CPU over 5 s. The main thread
// only sleeps meanwhile, so the figure is the camera's own threads.
void idleCpu(PipeWireCamera& camera)
{
    waitUntil([&] { return !camera.watched(); }, 2000);
    const double seconds = 5;
    const double before = cpuSeconds(-1);
    QElapsedTimer timer;
    timer.start();
    int asked = 0;
    while (timer.elapsed() < seconds * 1000) {
        asked += camera.watched() ? 1 : 0;
        QThread::msleep(33);
    }
    const double used = cpuSeconds(-1) - before;
    std::printf(
        "published, nobody watching, over %.0f s: %.1f ms CPU = %.3f %% of one core (watched in %d of the checks)\n",
        seconds, used * 1e3, 100 * used / seconds, asked);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    PipeWireSession session;
    QString error;
    if (!session.start(&error)) {
        std::fprintf(stderr, "bench_pipewire_camera: %s\n", qPrintable(error));
        return 1;
    }
    PipeWireCamera camera(session.socketPath());
    if (!waitUntil([&] { return camera.published(); }, 5000)) {
        std::fprintf(stderr, "bench_pipewire_camera: the camera was not published\n");
        return 1;
    }
    const FrameBuffer frame = picture();
    std::printf("PipeWire camera, 1920 x 1080, private PipeWire session, reader gst-launch-1.0 pipewiresrc\n");
    idleCpu(camera);
    deliveredRate(session, camera, frame);
    cpuPerFrame(session, camera, frame, "BGRx", false);
    cpuPerFrame(session, camera, frame, "BGRx", true);
    cpuPerFrame(session, camera, frame, "YUY2", false);
    cpuPerFrame(session, camera, frame, "I420", false);
    latency(session, camera, frame);
    return 0;
}
