// Word times of the real recogniser: a task's words are timed from the task's start on
// the host clock, for the first task (the model loads while an idle input delivers
// nothing) and for the next one on the same decoder.
#include "platform/clock.h"
#include "platform/sphinx/sphinx_speech.h"
#include "tests/support/pulseaudio_session.h"
#include "tests/support/wait_until.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <mutex>

using namespace vistrale;

TEST(SpeechTiming, WordsAreTimedFromTheirTasksStartAcrossTasks)
{
    test::PulseAudioSession sound;
    QString error;
    ASSERT_TRUE(sound.start(&error)) << error.toStdString();
    qputenv("PULSE_SERVER", sound.serverAddress().toUtf8());
    QTemporaryDir dir;
    const QString speech = dir.filePath("speech.wav");
    ASSERT_EQ(QProcess::execute("flite", {"-voice", "slt", "-t", "Thank you for joining the meeting.", "-o", speech}), 0);

    SphinxSpeechRecognition engine;
    SpeechTaskOptions options;
    options.locale = "en-US";
    std::mutex lock;
    std::vector<SpeechResult> finals;
    for (int task = 0; task < 2; ++task) {
        SCOPED_TRACE(task);
        const double start = hostClockNow();
        const auto running = engine.startTask(
            options,
            [&](const SpeechResult& result) {
                std::lock_guard guard(lock);
                if (result.isFinal && !result.segments.empty())
                    finals.push_back(result);
            },
            [](const QString&) {}, &error);
        ASSERT_TRUE(running) << error.toStdString();
        QThread::msleep(2000);
        const double played = hostClockNow() - start;
        ASSERT_TRUE(sound.playFile(speech, 20));
        ASSERT_TRUE(test::waitUntil(
            [&] {
                std::lock_guard guard(lock);
                return finals.size() > static_cast<std::size_t>(task);
            },
            30000));
        std::lock_guard guard(lock);
        EXPECT_NEAR(finals.back().segments.front().timestamp, played, 0.6) << finals.back().text.toStdString();
    }
    qunsetenv("PULSE_SERVER");
}
