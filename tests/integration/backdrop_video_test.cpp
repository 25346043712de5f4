// Backdrops on the real decoder and the real network stack: a looping H.264 video made
// by ffmpeg, and pictures served over HTTP from this process, shown by a controller on
// the in-memory desktop and read back from its output frames.

#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "platform/fake/fake_platform.h"
#include "platform/ffmpeg/ffmpeg_video_file.h"
#include "preview/vistrale_view_controller.h"
#include "tests/support/local_http_server.h"
#include "tests/support/test_files.h"
#include "tests/support/virtual_desktop.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"
#include "webcam/backdrops.h"
#include "webcam/documents_directory.h"
#include "webcam/video_player_looped.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <set>

using namespace vistrale;
using namespace vistrale::test;

namespace {

enum class Colour { Red, Blue, Green, Other };

Colour classify(QRgb pixel)
{
    const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
    if (r > 180 && g < 80 && b < 80)
        return Colour::Red;
    if (b > 180 && r < 80 && g < 80)
        return Colour::Blue;
    if (g > 180 && r < 80 && b < 80)
        return Colour::Green;
    return Colour::Other;
}

// One second of H.264: half red, half blue, with a sound track that must be ignored.
::testing::AssertionResult makeTwoColourClip(const QString& clip)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "color=c=red:size=320x240:rate=30:d=0.5",
            "-f", "lavfi", "-i", "color=c=blue:size=320x240:rate=30:d=0.5", "-f", "lavfi", "-i",
            "sine=frequency=440:d=1", "-filter_complex", "[0:v][1:v]concat=n=2:v=1[v]", "-map", "[v]", "-map", "2:a",
            "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", clip});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return ::testing::AssertionFailure() << ffmpeg.readAllStandardError().toStdString();
    return ::testing::AssertionSuccess();
}

// A controller on the fakes, with FFmpeg reading its videos and its data folder in a
// temporary folder.
class BackdropStack : public ::testing::Test {
protected:
    BackdropStack()
    {
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        platform = fake.take();
        platform.videoFiles = std::make_unique<FFmpegVideoFiles>();
        settings = Settings::atPath(dir.filePath("Vistrale.conf"));
        vc = std::make_unique<VistraleViewController>(platform, *settings, nullptr);
        vc->view();
        folder = documentsDirectory();
    }
    ~BackdropStack() override
    {
        vc.reset();
        qunsetenv("XDG_DATA_HOME");
    }

    // The colour in the middle of the next output frame.
    Colour outputColour()
    {
        const quint64 before = vc->compositor().framesDrawn();
        fake.clock->advance(1.0 / 30);
        waitUntil([&] { return vc->compositor().framesDrawn() != before; }, 200);
        const FrameRef frame = vc->lastCapturedFrame().surface;
        return frame ? classify(frame->image.pixel(frame->image.width() / 2, frame->image.height() / 2))
                     : Colour::Other;
    }
    std::optional<QString> stored() const { return settings->text(keys::BACKGROUND); }

    QTemporaryDir dir;
    QTemporaryDir dataHome;
    FakePlatform fake;
    Platform platform;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<VistraleViewController> vc;
    QString folder;
};

} // namespace

TEST_F(BackdropStack, AnH264VideoLoopsAsTheBackdropWithoutEnd)
{
    const QString clip = dir.filePath("two colours.mp4");
    ASSERT_TRUE(makeTwoColourClip(clip));

    vc->handleDroppedFile(clip);
    ASSERT_TRUE(waitUntil([&] { return vc->backdrops()->videoPlayerLooped() != nullptr; }, 5000));
    EXPECT_EQ(stored(), QUrl::fromLocalFile(QDir(folder).filePath("background.mp4")).toString());

    // The output goes red, blue, red again (the second pass), and blue once more.
    const std::vector<Colour> expected{Colour::Red, Colour::Blue, Colour::Red, Colour::Blue};
    std::size_t reached = 0;
    for (int i = 0; i < 400 && reached < expected.size(); ++i)
        if (outputColour() == expected[reached])
            ++reached;
    EXPECT_EQ(reached, expected.size());
    EXPECT_GE(vc->backdrops()->videoPlayerLooped()->loops(), 1u);
    EXPECT_TRUE(vc->desktopView->isHidden());

    // A picture replaces the video and ends its player.
    QImage green(32, 32, QImage::Format_RGB32);
    green.fill(Qt::green);
    const QString picture = dir.filePath("green.png");
    green.save(picture);
    vc->handleDroppedFile(picture);
    EXPECT_TRUE(waitUntil([&] { return vc->backdrops()->videoPlayerLooped() == nullptr; }, 2000));
    EXPECT_TRUE(waitUntil([&] { return outputColour() == Colour::Green; }, 2000));
}

TEST_F(BackdropStack, ARemotePictureIsDownloadedAndFailedDownloadsChangeNothing)
{
    QImage green(40, 30, QImage::Format_RGB32);
    green.fill(Qt::green);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    green.save(&buffer, "PNG");

    LocalHttpServer http("no", "text/plain");
    http.responses["/picture.png"] = {"200 OK", "image/png", png};
    http.responses["/garbage.png"] = {"200 OK", "image/png", "<html>not a picture</html>"};
    http.responses["/garbage.mp4"] = {"200 OK", "video/mp4", QByteArray(4096, 'x')};
    http.responses["/circle.png"] = {"302 Found", "text/plain", {}, "/circle.png"};
    http.responses["/missing.png"] = {"404 Not Found", "text/plain", "no"};

    vc->setBackground(http.address("/picture.png"));
    ASSERT_TRUE(waitUntil([&] { return outputColour() == Colour::Green; }, 10000));
    const QString downloaded = QDir(folder).filePath("downloaded.png");
    EXPECT_EQ(stored(), QUrl::fromLocalFile(downloaded).toString());
    const QByteArray kept = readFile(downloaded);
    ASSERT_FALSE(kept.isEmpty());

    for (const char* path : {"/garbage.png", "/garbage.mp4", "/missing.png", "/circle.png"}) {
        SCOPED_TRACE(path);
        vc->fetchBackground(http.address(path), QString(path).endsWith(".mp4"));
        EXPECT_TRUE(vc->backdrops()->downloading());
        ASSERT_TRUE(waitUntil([&] { return !vc->backdrops()->downloading(); }, 20000));
        EXPECT_EQ(outputColour(), Colour::Green);
        EXPECT_EQ(stored(), QUrl::fromLocalFile(downloaded).toString());
        EXPECT_EQ(readFile(downloaded), kept);
        EXPECT_FALSE(QFile::exists(QDir(folder).filePath("downloaded.mp4")));
    }
}

TEST(BackdropInTheApplication, AStoredVideoBackdropPlaysAgainAtStart)
{
    QTemporaryDir dir;
    const QString clip = dir.filePath("loop.mp4");
    ASSERT_TRUE(makeTwoColourClip(clip));
    VirtualDesktop desktop;
    QString error;
    ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
    VistraleProcess app(desktop);
    app.writeSettings({"already-shown=true", "background=" + QUrl::fromLocalFile(clip).toString()});
    ASSERT_TRUE(app.start(&error)) << error.toStdString();

    // The output shows the video's red and its blue, in turn.
    std::set<Colour> seen;
    waitUntil(
        [&] {
            const QImage picture = app.outputPicture();
            if (!picture.isNull())
                seen.insert(classify(picture.pixel(960, 540)));
            return seen.count(Colour::Red) && seen.count(Colour::Blue);
        },
        20000);
    EXPECT_TRUE(seen.count(Colour::Red));
    EXPECT_TRUE(seen.count(Colour::Blue));
}
