#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_media.h"
#include "recording/recording_time.h"
#include "recording/video_recorder.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vistrale;

// --- The elapsed-time text ---

TEST(RecordingTime, ShowsMinutesAndSecondsUnderAnHourAndPlainHoursFromThen)
{
    const std::pair<qint64, const char*> cases[] = {{0, "00:00"}, {65, "01:05"}, {425, "07:05"}, {3599, "59:59"},
        {3600, "1:00:00"}, {3723, "1:02:03"}, {36000, "10:00:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(recordingTimeText(seconds), text) << seconds;
    EXPECT_EQ(recordingStatusTitle("07:05", true), "■ 07:05 (mic)");
    EXPECT_EQ(recordingStatusTitle("00:00", false), "■ 00:00");
}

// --- The recorder ---

namespace {

constexpr qint64 STAMP = 786000000123;

FrameRef frame()
{
    return std::make_shared<FrameBuffer>(FrameBuffer{QImage(1920, 1080, QImage::Format_ARGB32_Premultiplied), 0});
}

struct RecorderHarness {
    RecorderHarness()
        : recorder({media, clock, folder.path(), [] { return STAMP; }}, output())
    {
    }

    VideoRecorder::Output output()
    {
        VideoRecorder::Output out;
        out.setRecordingState = [this](bool on, bool mic) { states.push_back({on, mic}); };
        out.showRecordingTime
            = [this](const QString& text, bool mic) { times.push_back(recordingStatusTitle(text, mic)); };
        out.finishing = [this] { ++finishings; };
        out.merged = [this](const RecordingResult& result) { results.push_back(result); };
        return out;
    }

    // Lets the merge thread run and its result reach the main thread.
    void settle()
    {
        clock.runPending();
        recorder.waitForMerges();
        clock.runPending();
    }

    QString file(const QString& name) const { return folder.filePath(name); }

    FakeClock clock;
    FakeMedia media;
    QTemporaryDir folder;
    std::vector<std::pair<bool, bool>> states;
    std::vector<QString> times;
    int finishings = 0;
    std::vector<RecordingResult> results;
    VideoRecorder recorder;
};

} // namespace

TEST(VideoRecorder, RecordsWithoutAudioAndMergesOnceTheMovieIsComplete)
{
    RecorderHarness h;
    ASSERT_TRUE(h.recorder.start(false, {}, frame()));
    ASSERT_EQ(h.media.writers.size(), 1u);
    const auto& writer = *h.media.writers[0];
    EXPECT_EQ(writer.settings.path, h.file("tmp-786000000123.mp4"));
    EXPECT_EQ(writer.settings.size, QSize(1920, 1080));
    EXPECT_TRUE(h.media.microphones.empty());
    EXPECT_TRUE(h.recorder.audioFinished());
    // The last captured frame opens the movie; later frames carry the time since the start.
    h.clock.advance(2.5);
    h.recorder.appendFrame(frame());
    ASSERT_EQ(writer.frames.size(), 2u);
    EXPECT_EQ(writer.frames[0].second, 0);
    EXPECT_DOUBLE_EQ(writer.frames[1].second, 2.5);
    EXPECT_EQ(h.times, (std::vector<QString>{"■ 00:01", "■ 00:02"}));

    h.recorder.stop();
    h.recorder.appendFrame(frame());
    EXPECT_EQ(writer.frames.size(), 2u);
    EXPECT_EQ(h.states, (std::vector<std::pair<bool, bool>>{{true, false}, {false, false}}));
    EXPECT_TRUE(writer.finishCalled);
    h.settle();
    EXPECT_EQ(h.finishings, 0);
    writer.complete(true);
    h.settle();
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_TRUE(h.results[0].merged);
    EXPECT_EQ(h.results[0].files.outputUrl, h.file("vistrale-786000000123.mp4"));
    const auto merges = h.media.mergeRequests();
    ASSERT_EQ(merges.size(), 1u);
    EXPECT_TRUE(merges[0].audioPath.isEmpty());
    EXPECT_TRUE(writer.destroyed);
    h.clock.advance(3);
    EXPECT_EQ(h.times.size(), 2u);
}

TEST(VideoRecorder, WithAudioFinishesOnceAfterTheLaterOfMovieAndAudio)
{
    for (bool audioFirst : {false, true}) {
        RecorderHarness h;
        ASSERT_TRUE(h.recorder.start(true, {}));
        ASSERT_EQ(h.media.microphones.size(), 1u);
        const auto& mic = *h.media.microphones[0];
        EXPECT_EQ(mic.path, h.file("tmp-786000000123.m4a"));
        h.clock.advance(1);
        EXPECT_EQ(h.times, std::vector<QString>{"■ 00:01 (mic)"});
        h.recorder.stop();
        EXPECT_TRUE(mic.stopped);
        const auto& writer = *h.media.writers[0];
        if (audioFirst)
            mic.finished(true);
        else
            writer.complete(true);
        h.settle();
        EXPECT_EQ(h.finishings, 0) << audioFirst;
        if (audioFirst)
            writer.complete(true);
        else
            mic.finished(true);
        // A late duplicate report changes nothing.
        mic.finished(false);
        h.settle();
        EXPECT_EQ(h.finishings, 1) << audioFirst;
        const auto merges = h.media.mergeRequests();
        ASSERT_EQ(merges.size(), 1u);
        EXPECT_EQ(merges[0].audioPath, h.file("tmp-786000000123.m4a"));
        EXPECT_EQ(h.states.back(), std::make_pair(false, true));
    }
}

TEST(VideoRecorder, ContainerAndBitRateLimitFollowTheSettings)
{
    struct Case {
        bool mov, highVideoBitrate;
        const char* extension;
        bool limited;
    } cases[] = {{false, false, ".mp4", true}, {false, true, ".mp4", false}, {true, false, ".mov", false}};
    for (const Case& c : cases) {
        RecorderHarness h;
        ASSERT_TRUE(h.recorder.start(false, {c.mov, c.highVideoBitrate, QSize(1280, 720)}));
        const auto& settings = h.media.writers[0]->settings;
        EXPECT_EQ(settings.mov, c.mov);
        EXPECT_EQ(settings.limitBitRate, c.limited) << c.extension;
        EXPECT_EQ(settings.size, QSize(1280, 720));
        EXPECT_TRUE(settings.path.endsWith(QString("tmp-786000000123") + c.extension));
        EXPECT_TRUE(h.recorder.files().outputUrl.endsWith(QString("vistrale-786000000123") + c.extension));
    }
}

TEST(VideoRecorder, ARefusedWriterRecordsNothingAndARefusedMicrophoneRecordsSilently)
{
    RecorderHarness refused;
    refused.media.writerError = "disk gone";
    EXPECT_FALSE(refused.recorder.start(true, {}));
    EXPECT_FALSE(refused.recorder.recording());
    EXPECT_TRUE(refused.media.microphones.empty());
    EXPECT_TRUE(refused.states.empty());

    RecorderHarness silent;
    silent.media.microphoneError = "no sound server";
    ASSERT_TRUE(silent.recorder.start(true, {}));
    EXPECT_FALSE(silent.recorder.recordingWithAudio());
    EXPECT_EQ(silent.states.back(), std::make_pair(true, false));
    silent.recorder.stop();
    silent.media.writers[0]->complete(true);
    silent.settle();
    ASSERT_EQ(silent.results.size(), 1u);
    EXPECT_TRUE(silent.media.mergeRequests()[0].audioPath.isEmpty());
}

TEST(VideoRecorder, FailuresWhileRecording)
{
    // A write failure (disk full) ends the recording; what was written is merged.
    RecorderHarness h;
    ASSERT_TRUE(h.recorder.start(true, {}));
    const auto& writer = *h.media.writers[0];
    writer.failed("No space left on device");
    h.settle();
    EXPECT_FALSE(h.recorder.recording());
    EXPECT_TRUE(writer.finishCalled);
    EXPECT_TRUE(h.media.microphones[0]->stopped);
    // Not restarted while the files are still being completed.
    EXPECT_FALSE(h.recorder.start(false, {}));
    writer.complete(false);
    h.media.microphones[0]->finished(true);
    h.media.mergeError = "unreadable";
    h.settle();
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_FALSE(h.results[0].merged);
    EXPECT_EQ(h.results[0].error, "unreadable");
    EXPECT_EQ(h.results[0].writeError, "No space left on device");
    EXPECT_TRUE(h.recorder.start(false, {}));

    // A lost microphone leaves the video recording; the display drops " (mic)".
    RecorderHarness lost;
    ASSERT_TRUE(lost.recorder.start(true, {}));
    lost.media.microphones[0]->failed("server gone");
    lost.media.microphones[0]->finished(false);
    lost.clock.advance(1);
    EXPECT_TRUE(lost.recorder.recording());
    EXPECT_EQ(lost.times, std::vector<QString>{"■ 00:01"});
    lost.recorder.stop();
    lost.media.writers[0]->complete(true);
    lost.settle();
    ASSERT_EQ(lost.results.size(), 1u);
    EXPECT_EQ(lost.media.mergeRequests()[0].audioPath, lost.file("tmp-786000000123.m4a"));
}
