// Live captions on the real stack: flite speech played into a private PulseAudio
// server's default input is recognised by PocketSphinx inside the running application
// and shows in the output's caption box; a recording's transcript becomes a subtitle
// track that ffprobe lists.
#include "platform/ffmpeg/ffmpeg_media.h"
#include "tests/support/pulseaudio_session.h"
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

// Speech of the text, from flite's "slt" voice, as a WAV file.
bool speak(const QString& text, const QString& path)
{
    return QProcess::execute("flite", {"-voice", "slt", "-t", text, "-o", path}) == 0;
}

// The caption box's text as the diagnostics interface answers it, in plain words.
QString captionWords(VistraleProcess& app)
{
    const QString reply = app.diagnostics("CaptionText");
    const int start = reply.indexOf("string \"");
    QString text = start < 0 ? QString() : reply.mid(start + 8);
    return text.toLower().replace(QRegularExpression("[^a-z ]"), " ").simplified();
}

} // namespace

TEST(LiveCaptions, FliteSpeechReachesTheCaptionBoxAcrossAFinalResultAndARestart)
{
    PulseAudioSession sound;
    QString error;
    ASSERT_TRUE(sound.start(&error)) << error.toStdString();
    VirtualDesktop desktop;
    ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
    VistraleProcess app(desktop);
    app.setEnvironment("PULSE_SERVER", sound.serverAddress());
    app.writeSettings({"already-shown=true", "locale=en-US"});
    ASSERT_TRUE(app.start(&error)) << error.toStdString();

    // The caption button at the preview's top right.
    const std::optional<quint32> preview = app.previewWindow();
    ASSERT_TRUE(preview);
    const std::optional<QRect> geometry = app.windowGeometry(*preview);
    ASSERT_TRUE(geometry);
    desktop.run("xdotool",
        {"mousemove", "--sync", QString::number(geometry->right() - 52 + 12), QString::number(geometry->top() + 12),
            "click", "1"});
    ASSERT_TRUE(app.waitForLine("recognizer.supportsOnDeviceRecognition=", 10000)) << app.output().toStdString();

    QTemporaryDir dir;
    const QString first = dir.filePath("first.wav");
    const QString second = dir.filePath("second.wav");
    ASSERT_TRUE(speak("Let me share my screen and walk you through the details.", first));
    ASSERT_TRUE(speak("Thank you for joining the meeting this Monday morning.", second));

    // The model loads on the recogniser's thread while the input is buffered.
    ASSERT_TRUE(sound.playFile(first, 500));
    ASSERT_TRUE(waitUntil([&] { return app.output().contains("final so calling stopspeechnow"); }, 60000))
        << app.output().toStdString();
    EXPECT_TRUE(waitUntil([&] { return app.output().count("recognizer.supportsOnDeviceRecognition=") == 2; }, 5000))
        << "the next task started";
    ASSERT_TRUE(sound.playFile(second, 500));
    QString shown;
    waitUntil(
        [&] {
            shown = captionWords(app);
            return shown.contains("monday morning");
        },
        60000);
    EXPECT_TRUE(shown.contains("let me share my screen")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("thank you for joining the meeting this monday morning")) << shown.toStdString();

    // The box: 1152 wide at x 384, 9 above the bottom edge; white text and the
    // weekday in yellow on the darkened backdrop; nothing of it outside.
    QImage picture;
    ASSERT_TRUE(waitUntil([&] { return !(picture = app.outputPicture()).isNull(); }, 10000));
    int white = 0;
    int yellow = 0;
    for (int y = 1080 - 9 - 150; y < 1080 - 9; ++y)
        for (int x = 384; x < 384 + 1152; ++x) {
            const QColor c = picture.pixelColor(x, y);
            white += c.red() > 235 && c.green() > 235 && c.blue() > 235;
            yellow += c.red() > 200 && c.green() > 200 && c.blue() < 80;
        }
    EXPECT_GT(white, 1000);
    EXPECT_GT(yellow, 200);
    const QColor outside = picture.pixelColor(200, 1080 - 40);
    const QColor inside = picture.pixelColor(390, 1080 - 12);
    EXPECT_LT(inside.blue(), outside.blue() * 0.6) << "black at 0.6 over the backdrop";

    // The sound server goes away under the recogniser: one line, and the application
    // goes on.
    sound.stopDaemon();
    EXPECT_TRUE(app.waitForLine("error so calling stopSpeechNow", 10000)) << app.output().toStdString();
    EXPECT_FALSE(app.outputPicture().isNull());
}

TEST(LiveCaptions, ARecordingsTranscriptBecomesASubtitleTrack)
{
    QTemporaryDir dir;
    const QString video = dir.filePath("video.mp4");
    ASSERT_EQ(QProcess::execute("ffmpeg",
                  {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=30", "-t", "3", "-c:v", "libx264",
                      "-pix_fmt", "yuv420p", video}),
        0);
    const QString subRip = "1\n00:00:00,500 --> 00:00:01,750\nhello\n\n2\n00:00:02,000 --> 00:00:02,600\nworld.";
    FfmpegMedia media;
    for (const bool mov : {false, true}) {
        const QString output = dir.filePath(mov ? "movie.mov" : "movie.mp4");
        QString error;
        ASSERT_TRUE(media.merge({video, QString(), output, mov, subRip}, &error)) << error.toStdString();

        QProcess ffprobe;
        ffprobe.start("ffprobe", {"-v", "error", "-show_streams", "-of", "json", output});
        ASSERT_TRUE(ffprobe.waitForFinished(30000));
        QStringList codecs;
        QString language;
        for (const auto& s : QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object()["streams"].toArray()) {
            codecs << s.toObject()["codec_name"].toString();
            if (s.toObject()["codec_type"].toString() == "subtitle")
                language = s.toObject()["tags"].toObject()["language"].toString();
        }
        EXPECT_EQ(codecs, (QStringList{"h264", "mov_text"})) << mov;
        EXPECT_EQ(language, "eng");

        // A player reads the same entries back.
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-v", "error", "-i", output, "-map", "0:s", "-f", "srt", "-"});
        ASSERT_TRUE(ffmpeg.waitForFinished(30000));
        const QString read = QString::fromUtf8(ffmpeg.readAllStandardOutput()).replace("\r\n", "\n").trimmed();
        EXPECT_EQ(read, subRip) << mov;
    }
}
