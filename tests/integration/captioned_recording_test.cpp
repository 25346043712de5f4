// The whole application: a recording made while live captions run goes through the
// caption editor, whose own Save burns the edited captions in; the saved movie
// carries them as a subtitle track and a .srt file beside it.
#include "tests/integration/vistrale_desktop_test.h"
#include "tests/support/pulseaudio_session.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

using CaptionedRecording = VistraleDesktopTest;

TEST_F(CaptionedRecording, EditedCaptionsAreBurntInAndKeptAsSubtitles)
{
    PulseAudioSession sound;
    QString error;
    ASSERT_TRUE(sound.start(&error)) << qPrintable(error);
    app->setEnvironment("PULSE_SERVER", sound.serverAddress());
    startWith({"already-shown=true", "locale=en-US"});
    VistraleProcess& app = *this->app;
    const std::optional<quint32> preview = app.previewWindow();
    ASSERT_TRUE(preview);
    const std::optional<QRect> geometry = app.windowGeometry(*preview);
    ASSERT_TRUE(geometry);
    xdotool({"mousemove", "--sync", QString::number(geometry->right() - 40), QString::number(geometry->top() + 12),
        "click", "1"});
    ASSERT_TRUE(app.waitForLine("recognizer.supportsOnDeviceRecognition=", 10000)) << qPrintable(app.output());

    QTemporaryDir dir;
    const QString speech = dir.filePath("speech.wav");
    ASSERT_EQ(QProcess::execute(
                  "flite", {"-voice", "slt", "-t", "Thank you for joining the meeting this Monday morning.", "-o", speech}),
        0);
    const QString movie = dir.filePath("talk.mp4");
    app.diagnostics("AnswerDialog", {"string:Warning", "string:Yes"});
    app.diagnostics("AnswerDialog", {"string:Recording Options", "string:Audio"});
    app.diagnostics("AnswerDialog", {"string:Vistrale", "string:" + movie});
    app.diagnostics("AnswerDialog", {"string:Vistrale Recording", "string:Cancel"});
    ASSERT_TRUE(app.triggerMenuItem(200));
    ASSERT_TRUE(sound.playFile(speech, 20));
    ASSERT_TRUE(waitUntil([&] { return app.diagnostics("CaptionText").toLower().contains("morning"); }, 60000));
    waitUntil([] { return false; }, 1000);
    ASSERT_TRUE(app.triggerMenuItem(200));

    // The editor opens on the transcript; its Save sends the edited first caption.
    const QString edit = "string:(function edit() {"
                         "  var text = document.querySelector('.entry textarea');"
                         "  if (!text) { setTimeout(edit, 100); return; }"
                         "  text.value = 'Thanks to all of you.';"
                         "  document.getElementById('save').click();"
                         "})()";
    ASSERT_TRUE(waitUntil([&] { return app.diagnostics("RunCaptionEditorScript", {edit}).contains("true"); }, 30000))
        << qPrintable(app.output());
    ASSERT_TRUE(waitUntil([&] { return app.output().contains("scripted answer Vistrale Recording"); }, 60000))
        << qPrintable(app.output());
    EXPECT_TRUE(app.output().contains("overlay export completed")) << qPrintable(app.output());

    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name:format=duration", "-of",
                                 "default=noprint_wrappers=1:nokey=1", movie});
    ASSERT_TRUE(ffprobe.waitForFinished(30000));
    const QStringList probed = QString::fromUtf8(ffprobe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(probed.size(), 4) << qPrintable(probed.join(' '));
    EXPECT_EQ(probed.mid(0, 3), (QStringList{"h264", "aac", "mov_text"}));
    const double duration = probed[3].toDouble();

    // The .srt holds the edit, timed where the words were spoken inside the movie.
    QFile srt(dir.filePath("talk.srt"));
    ASSERT_TRUE(srt.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(srt.readAll()).split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[2], "Thanks to all of you.");
    const QStringList first = lines[1].split(" --> ");
    ASSERT_EQ(first.size(), 2);
    const QTime start = QTime::fromString(first[0], "hh:mm:ss,zzz");
    ASSERT_TRUE(start.isValid()) << qPrintable(lines[1]);
    EXPECT_LT(start.msecsSinceStartOfDay() / 1000.0, std::min(2.0, duration)) << "the speech began at once";
}
