// CPU of a looping 1080p30 H.264 backdrop video, as a share of one core: the player
// alone (decoding, scaling, hand-off to the main thread), then the player showing in
// the share window's scene with the compositor drawing every output frame, and the
// peer figure: the ffmpeg program decoding the same clip in a loop at its own rate,
// with no conversion. Medians of several two-second windows, in one run.

#include "platform/ffmpeg/ffmpeg_video_file.h"
#include "platform/qt/qt_clock.h"
#include "preview/compositor.h"
#include "preview/scene.h"
#include "preview/view_tags.h"
#include "tests/support/process_cpu.h"
#include "webcam/video_player_looped.h"

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vistrale;

namespace {

constexpr int WINDOWS = 5;
constexpr int WINDOW_MS = 2000;

struct Figure {
    double cpuPercent;
    double picturesPerSecond;
};

// Runs the event loop for the windows; the median share of a core and picture rate.
Figure measure(const VideoPlayerLooped& player)
{
    std::vector<double> cpu, rate;
    for (int i = 0; i < WINDOWS; ++i) {
        const double before = test::cpuSeconds(0);
        const quint64 shown = player.picturesShown();
        QEventLoop loop;
        QTimer::singleShot(WINDOW_MS, &loop, &QEventLoop::quit);
        loop.exec();
        cpu.push_back((test::cpuSeconds(0) - before) / (WINDOW_MS / 1000.0) * 100);
        rate.push_back((player.picturesShown() - shown) / (WINDOW_MS / 1000.0));
    }
    std::sort(cpu.begin(), cpu.end());
    std::sort(rate.begin(), rate.end());
    return {cpu[WINDOWS / 2], rate[WINDOWS / 2]};
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir dir;
    const QString clip = dir.filePath("backdrop.mp4");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30", "-t", "4",
            "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", clip});
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg could not make the clip\n");
        return 1;
    }
    const QSize output(1920, 1080);
    FFmpegVideoFiles files;
    QString error;

    Figure alone;
    {
        auto file = files.open(clip, output, error);
        if (!file) {
            std::fprintf(stderr, "cannot open the clip: %s\n", qPrintable(error));
            return 1;
        }
        VideoPlayerLooped player(std::move(file), [](const VideoPicture&) {});
        alone = measure(player);
    }

    Figure shown;
    {
        QtClock clock;
        Scene scene(clock, output);
        Compositor compositor(clock);
        compositor.setFrameHandler([](FrameRef) {});
        scene.setSnapshotHandler([&](DrawListRef list) { compositor.submit(std::move(list)); });
        auto view = std::make_shared<SceneLayer>("videoDesktopView");
        view->setTag(DESKTOP_TAG);
        view->setFrame(QRectF(QPointF(0, 0), QSizeF(output)));
        scene.root().addChild(view);
        VideoPlayerLooped player(
            files.open(clip, output, error), [&](const VideoPicture& picture) {
                view->setContents(picture.image);
                view->setPlanarContents(picture.planar);
            });
        const QMap<QString, double> before = test::threadCpuSeconds();
        shown = measure(player);
        // Where the time goes, by thread (threads that ended meanwhile are not counted).
        const QMap<QString, double> after = test::threadCpuSeconds();
        const double span = WINDOWS * WINDOW_MS / 1000.0;
        for (auto it = after.begin(); it != after.end(); ++it)
            if (it.value() - before.value(it.key()) >= 0.005 * span)
                std::printf("  thread %-20s %5.1f %% of a core\n", qPrintable(it.key()),
                    (it.value() - before.value(it.key())) / span * 100);
        std::printf("compositor frames drawn: %llu\n", static_cast<unsigned long long>(compositor.framesDrawn()));
    }

    // The peer: ffmpeg decodes the clip in a loop at real time into nothing.
    QProcess peer;
    peer.start("ffmpeg",
        {"-hide_banner", "-loglevel", "error", "-threads", "2", "-re", "-stream_loop", "-1", "-i", clip, "-an", "-f",
            "null", "-"});
    std::vector<double> peerCpu;
    if (peer.waitForStarted()) {
        QThread::msleep(1000);
        for (int i = 0; i < WINDOWS; ++i) {
            const double before = test::cpuSeconds(peer.processId());
            QThread::msleep(WINDOW_MS);
            peerCpu.push_back((test::cpuSeconds(peer.processId()) - before) / (WINDOW_MS / 1000.0) * 100);
        }
        peer.kill();
        peer.waitForFinished();
    }
    std::sort(peerCpu.begin(), peerCpu.end());
    const double peerPercent = peerCpu.empty() ? -1 : peerCpu[WINDOWS / 2];

    std::printf("looping backdrop video, 1920 x 1080 H.264 at 30 fps, median of %d x %d ms\n", WINDOWS, WINDOW_MS);
    std::printf(
        "  player alone:            %5.1f %% of a core, %4.1f pictures/s\n", alone.cpuPercent, alone.picturesPerSecond);
    std::printf("  player + scene + output: %5.1f %% of a core, %4.1f pictures/s (goal: at most 15 %%)\n",
        shown.cpuPercent, shown.picturesPerSecond);
    std::printf("  peer: ffmpeg decoding only: %5.1f %% of a core (player alone / peer: %.2f)\n", peerPercent,
        peerPercent > 0 ? alone.cpuPercent / peerPercent : 0.0);
    return 0;
}
