// A whole recording through the running application: a live window shared with the
// shortcut, "Start Recording..." with the microphone of a private PulseAudio server
// playing a tone, stopped after five seconds, saved where the save panel is told, and
// the movie read back by ffprobe and ffmpeg.
#include "tests/support/pulseaudio_session.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vistrale::test;

namespace {

constexpr int RECORD_TAG = 200;

QJsonObject probeStream(const QString& path, const QString& type, double* duration)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-show_format", "-show_streams", "-of", "json", path});
    if (!ffprobe.waitForFinished(30000))
        return {};
    const QJsonObject probed = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    *duration = probed["format"].toObject()["duration"].toString().toDouble();
    for (const auto& s : probed["streams"].toArray())
        if (s.toObject()["codec_type"].toString() == type)
            return s.toObject();
    return {};
}

// The share of clearly red pixels inside `rect`, leaving out the title bar.
double redShare(const QImage& picture, const QRect& rect)
{
    int red = 0, all = 0;
    for (int y = rect.top() + 40; y < rect.bottom() - 10; y += 5)
        for (int x = rect.left() + 10; x < rect.right() - 10; x += 5) {
            const QColor c = picture.pixelColor(x, y);
            ++all;
            red += c.red() > 200 && c.green() < 60 && c.blue() < 60 ? 1 : 0;
        }
    return all ? double(red) / all : 0;
}

} // namespace

TEST(RecordingFlow, RecordsASharedWindowWithTheMicrophoneAndSavesTheMovie)
{
    VirtualDesktop desktop;
    QString error;
    ASSERT_TRUE(desktop.start(&error)) << qPrintable(error);
    PulseAudioSession pulse;
    ASSERT_TRUE(pulse.start(&error)) << qPrintable(error);
    VistraleProcess app(desktop);
    app.writeSettings({"already-shown=true"});
    app.setEnvironment("PULSE_SERVER", pulse.serverAddress());
    ASSERT_TRUE(app.start(&error)) << qPrintable(error);

    // A live window: red, with a new line of text twenty times a second.
    ASSERT_GT(desktop.startClient("xterm",
                  {"-geometry", "60x20+300+200", "-bg", "red", "-fg", "yellow", "-e", "sh", "-c",
                      "while :; do date +%s.%N; sleep 0.05; done"}),
        0);
    const std::optional<quint32> id = desktop.waitForWindow("xterm");
    ASSERT_TRUE(id.has_value());
    QString info;
    desktop.run("xwininfo", {"-id", QString::number(*id)}, &info);
    auto number = [&](const char* label) {
        return QRegularExpression(QString(label) + R"(:\s+(-?\d+))").match(info).captured(1).toInt();
    };
    // The client area on a screen of the output's size: where the output shows it.
    const QRect window(
        number("Absolute upper-left X"), number("Absolute upper-left Y") - 40, number("Width"), number("Height") + 40);
    ASSERT_GT(window.width(), 100) << qPrintable(info);
    desktop.run("xdotool", {"mousemove", QString::number(window.center().x()), QString::number(window.center().y())});
    desktop.run("xdotool", {"key", "super+F1"});
    ASSERT_TRUE(waitUntil([&] { return app.statistics()["shared"].toInt() == 1; }, 8000)) << qPrintable(app.output());

    QTemporaryDir saved;
    const QString movie = saved.filePath("movie.mp4");
    app.diagnostics("AnswerDialog", {"string:Recording Options", "string:Audio"});
    app.diagnostics("AnswerDialog", {"string:Vistrale", "string:" + movie});
    app.diagnostics("AnswerDialog", {"string:Vistrale Recording", "string:Cancel"});
    ASSERT_TRUE(pulse.playTone(440, 30));

    ASSERT_TRUE(app.triggerMenuItem(RECORD_TAG));
    QElapsedTimer wall;
    wall.start();
    waitUntil([] { return false; }, 5000);
    ASSERT_TRUE(app.triggerMenuItem(RECORD_TAG));
    const double seconds = wall.elapsed() / 1000.0;
    ASSERT_TRUE(waitUntil(
        [&] { return QFile::exists(movie) && app.output().contains("scripted answer Vistrale Recording"); }, 30000))
        << qPrintable(app.output());
    EXPECT_TRUE(app.output().contains("Your video was saved as " + movie)) << qPrintable(app.output());

    double duration = 0;
    const QJsonObject video = probeStream(movie, "video", &duration);
    EXPECT_EQ(video["codec_name"].toString(), "h264");
    EXPECT_EQ(video["width"].toInt(), 1920);
    EXPECT_EQ(video["height"].toInt(), 1080);
    EXPECT_NEAR(duration, seconds, 0.3);
    const QJsonObject audio = probeStream(movie, "audio", &duration);
    EXPECT_EQ(audio["codec_name"].toString(), "aac");
    EXPECT_EQ(audio["sample_rate"].toString(), "44100");
    EXPECT_EQ(audio["channels"].toInt(), 2);
    EXPECT_NEAR(audio["duration"].toString().toDouble(), seconds, 0.3);

    // A frame from the middle shows the shared window where the output had it.
    const QString still = saved.filePath("frame.png");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-ss", "2.5", "-i", movie, "-frames:v", "1", still});
    ASSERT_TRUE(ffmpeg.waitForFinished(30000));
    const QImage frame(still);
    ASSERT_EQ(frame.size(), QSize(1920, 1080));
    EXPECT_GT(redShare(frame, window), 0.5);
    EXPECT_LT(redShare(frame, QRect(1000, 600, 400, 300)), 0.05);
}
