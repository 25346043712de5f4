// The overlay export: a 60-second 1080p recording with sound (made here with ffmpeg's
// moving test picture, at 30 pictures a second) exported again with 20 caption entries
// burnt in. Prints the export's speed against real time and the process's peak memory
// before and after it, and the ffmpeg program's time for the same transcoding without
// overlays in the same run (these machines are shared and noisy: compare the ratio).
// Usage: bench_overlay_export [SECONDS of movie, default 60]
#include "captions/caption_box.h"
#include "captions/caption_export.h"
#include "platform/ffmpeg/ffmpeg_media.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace vistrale;

namespace {

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 60;
    QTemporaryDir folder;
    const QString recording = folder.filePath("recording.mp4");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                               QString("testsrc2=size=1920x1080:rate=30:duration=%1").arg(seconds), "-f", "lavfi",
                               "-i", QString("sine=frequency=440:duration=%1").arg(seconds), "-c:v", "libx264",
                               "-preset", "superfast", "-crf", "23", "-pix_fmt", "yuv420p", "-c:a", "aac", recording});
    if (!ffmpeg.waitForFinished(600000) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "cannot make the recording: %s\n", ffmpeg.readAllStandardError().constData());
        return 1;
    }

    QString captions;
    for (int i = 0; i < 20; ++i)
        captions += QString("%1caption number %2 of the talk with a few words___%3___%4")
                        .arg(i ? "###" : "")
                        .arg(i + 1)
                        .arg(i * seconds * 1000 / 20)
                        .arg((i + 1) * seconds * 1000 / 20 - 200);
    OverlayExportRequest request;
    request.inputPath = recording;
    request.outputPath = folder.filePath("exported.mp4");
    const QRectF box = captionBoxFrame(1920, 3);
    for (const BaseOverlay& overlay : captionOverlays(parseCaptionEntries(captions), box, 3))
        request.overlays.push_back(overlay.movieOverlay());

    const long before = peakKilobytes();
    FfmpegMedia media;
    ExportControl control;
    QString error;
    QElapsedTimer timer;
    timer.start();
    if (!media.exportWithOverlays(request, control, &error)) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
        return 1;
    }
    const double elapsed = timer.elapsed() / 1000.0;
    std::printf("overlay export of %d s of 1080p30 with 20 captions: %.1f s, %.2fx real time (goal >= 2x)\n", seconds,
        elapsed, seconds / elapsed);
    // The same decoding and encoding by the ffmpeg program, without overlays, in the same run.
    QProcess reference;
    timer.restart();
    reference.start("ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", recording, "-c:v", "libx264", "-preset", "veryfast",
                                  "-crf", "20", "-c:a", "copy", folder.filePath("reference.mp4")});
    if (reference.waitForFinished(600000) && reference.exitCode() == 0) {
        const double referenceSeconds = timer.elapsed() / 1000.0;
        std::printf("ffmpeg -preset veryfast -crf 20 on the same movie: %.1f s, %.2fx real time; export / ffmpeg time: %.2f\n",
            referenceSeconds, seconds / referenceSeconds, elapsed / referenceSeconds);
    }
    std::printf("peak memory: %.0f MB before the export, %.0f MB after it; exported movie %.1f MB\n", before / 1024.0,
        peakKilobytes() / 1024.0, QFileInfo(request.outputPath).size() / 1e6);
    return 0;
}
