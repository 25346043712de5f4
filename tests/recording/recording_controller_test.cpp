#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_media.h"
#include "platform/fake/fake_services.h"
#include "recording/recording_controller.h"
#include "recording/recording_time.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vistrale;

namespace {

constexpr qint64 STAMP = 786000000123;

// The recording controller on the fakes, with the files of its recording in a folder
// of its own and the status display and borders recorded.
struct Flow {
    Flow()
        : controller(
            {media, clock, dialogs, actions, audio, cache.path(), downloads.path(), [] { return STAMP; }}, hooks())
    {
        audio.inputName = "Monitor of Test-Sink";
    }

    RecordingController::Hooks hooks()
    {
        RecordingController::Hooks h;
        h.options = [this] { return RecordingOptions{mov, true, {1920, 1080}}; };
        h.markBorders = [this](bool on) { borders.push_back(on); };
        h.setRecordingState = [this](bool on, bool mic) {
            display.push_back(on ? recordingStatusTitle("00:00", mic) : QString("Saving..."));
        };
        h.showRecordingTime
            = [this](const QString& text, bool mic) { display.push_back(recordingStatusTitle(text, mic)); };
        h.resetStatusItem = [this] { display.push_back("reset"); };
        h.handOverTranscript = [this](const RecordingResult&) { return transcriptTakesOver; };
        return h;
    }

    QString file(const QString& name) const { return cache.filePath(name); }
    QString video() const { return file(QString("tmp-%1.%2").arg(STAMP).arg(mov ? "mov" : "mp4")); }
    QString audioFile() const { return file(QString("tmp-%1.m4a").arg(STAMP)); }
    QString movie() const { return file(QString("vistrale-%1.%2").arg(STAMP).arg(mov ? "mov" : "mp4")); }

    static void write(const QString& path, const QByteArray& content)
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(content);
    }

    // Answers "Recording Options" with `choice`, records for a few seconds and stops;
    // the files complete and the merge runs, as the real media would.
    void record(int choice = 0)
    {
        dialogs.choices.push_back(choice);
        controller.toggleRecording();
        clock.advance(3);
        controller.toggleRecording();
        write(video(), "video");
        write(audioFile(), "audio");
        write(movie(), "movie");
        if (!media.writers.empty())
            media.writers.back()->complete(true);
        if (!media.microphones.empty() && !media.microphones.back()->destroyed)
            media.microphones.back()->finished(true);
        settle();
    }

    void settle()
    {
        clock.runPending();
        controller.videoRecorder().waitForMerges();
        clock.runPending();
    }

    QStringList messages() const
    {
        QStringList shown;
        for (const AlertSpec& alert : dialogs.shown)
            shown << alert.message;
        return shown;
    }

    FakeClock clock;
    FakeMedia media;
    FakeDialogs dialogs;
    FakeSystemActions actions;
    FakeAudioDevices audio;
    QTemporaryDir cache;
    QTemporaryDir downloads;
    bool mov = false;
    bool transcriptTakesOver = false;
    std::vector<bool> borders;
    QStringList display;
    RecordingController controller;
};

} // namespace

TEST(RecordingFlow, TheWarningAndTheOptionsDecideWhatIsRecorded)
{
    struct Case {
        bool sharing;
        std::deque<bool> warningAnswer;
        int option; // "Audio", "No Audio", "Cancel"
        QStringList asked;
        bool records;
        bool withAudio;
    } cases[] = {
        {true, {}, 0, {"Recording Options"}, true, true},
        {true, {}, 1, {"Recording Options"}, true, false},
        {true, {}, 2, {"Recording Options"}, false, false},
        {false, {true}, 0, {"Warning", "Recording Options"}, true, true},
        {false, {false}, 0, {"Warning"}, false, false},
    };
    for (const Case& c : cases) {
        Flow flow;
        flow.dialogs.answers = c.warningAnswer;
        flow.dialogs.choices = {c.option};
        flow.controller.menuToggleRecording(c.sharing);
        EXPECT_EQ(flow.messages(), c.asked) << c.sharing << c.option;
        EXPECT_EQ(flow.controller.recording(), c.records);
        EXPECT_EQ(flow.media.microphones.size(), c.withAudio ? 1u : 0u);
        if (!c.records)
            continue;
        EXPECT_EQ(flow.borders, std::vector<bool>{true});
        const AlertSpec& options = flow.dialogs.shown.back();
        EXPECT_EQ(options.defaultButton, "Audio");
        EXPECT_EQ(options.secondButton, "No Audio");
        EXPECT_EQ(options.moreButtons, QStringList{"Cancel"});
        if (!c.sharing) {
            EXPECT_EQ(flow.dialogs.shown[0].informative, "You are not sharing any window, start recording anyway?");
            EXPECT_EQ(flow.dialogs.shown[0].secondButton, "Cancel");
        }
        flow.clock.advance(1);
        EXPECT_EQ(flow.display.back(), c.withAudio ? "■ 00:01 (mic)" : "■ 00:01");

        // While recording the menu stops without a question.
        flow.controller.menuToggleRecording(false);
        EXPECT_FALSE(flow.controller.recording());
        EXPECT_EQ(flow.messages(), c.asked);
        EXPECT_EQ(flow.borders, (std::vector<bool>{true, false}));
        EXPECT_EQ(flow.display.back(), "Saving...");
    }
}

TEST(RecordingFlow, WithoutAMicrophoneItOffersToRecordWithoutAudio)
{
    for (int answer : {0, 1, 2}) {
        Flow flow;
        flow.audio.inputName.clear();
        flow.dialogs.choices = {0, answer};
        flow.controller.toggleRecording();
        ASSERT_EQ(flow.messages(), (QStringList{"Recording Options", "Vistrale Recording"})) << answer;
        EXPECT_EQ(flow.dialogs.shown[1].defaultButton, "Record without Audio");
        EXPECT_EQ(flow.dialogs.shown[1].secondButton, "Open Audio Preferences");
        EXPECT_EQ(flow.controller.recording(), answer == 0);
        EXPECT_TRUE(flow.media.microphones.empty());
        EXPECT_EQ(flow.actions.settingsPages.size(), answer == 0 ? 0u : 1u);
    }
}

TEST(RecordingFlow, SavesTheMovieWhereTheUserSaysAndCleansUp)
{
    for (bool mov : {false, true}) {
        Flow flow;
        flow.mov = mov;
        const QString target = flow.downloads.filePath(mov ? "talk.mov" : "talk.mp4");
        flow.dialogs.savePath = target;
        flow.dialogs.answers = {true}; // "View Video"
        flow.record();

        ASSERT_EQ(flow.dialogs.savePanels.size(), 1u);
        const SavePanelSpec& panel = flow.dialogs.savePanels[0];
        EXPECT_EQ(panel.title, "Vistrale");
        EXPECT_EQ(panel.subtitle, "Save your video as...");
        EXPECT_EQ(panel.directory, flow.downloads.path());
        EXPECT_EQ(panel.proposedName, mov ? "vistrale.mov" : "vistrale.mp4");
        EXPECT_EQ(flow.media.mergeRequests()[0].audioPath, flow.audioFile());

        QFile saved(target);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), "movie");
        EXPECT_EQ(QDir(flow.cache.path()).entryList(QDir::Files), QStringList());
        EXPECT_FALSE(flow.controller.saving());
        EXPECT_EQ(flow.display.mid(flow.display.size() - 2), (QStringList{"Saving...", "reset"}));

        ASSERT_EQ(flow.messages(), (QStringList{"Recording Options", "Vistrale Recording"}));
        EXPECT_EQ(flow.dialogs.shown[1].informative, "Your video was saved as " + target);
        EXPECT_EQ(flow.dialogs.shown[1].defaultButton, "View Video");
        ASSERT_EQ(flow.actions.opened.size(), 1u);
        EXPECT_EQ(flow.actions.opened[0], QUrl::fromLocalFile(target));
    }
}

TEST(RecordingFlow, ACancelledSaveAsksAndOnlyDeletesWhenTheUserSaysSo)
{
    Flow flow;
    flow.dialogs.savePath.reset();
    // "Are you sure?": "Cancel" shows the panel again; then "Delete".
    flow.dialogs.answers = {false, true};
    flow.record(1);
    EXPECT_EQ(flow.dialogs.savePanels.size(), 2u);
    EXPECT_EQ(flow.messages(), (QStringList{"Recording Options", "Are you sure?", "Are you sure?"}));
    EXPECT_EQ(flow.dialogs.shown[1].informative, "This will not save your video");
    EXPECT_EQ(flow.dialogs.shown[1].defaultButton, "Delete");
    EXPECT_TRUE(flow.media.mergeRequests()[0].audioPath.isEmpty());
    EXPECT_EQ(QDir(flow.cache.path()).entryList(QDir::Files), QStringList());
}

TEST(RecordingFlow, FailuresAreToldOnceAndKeepTheFiles)
{
    // The merge fails: the error alert, no save panel, every file kept.
    {
        Flow flow;
        flow.media.mergeError = "broken";
        flow.record();
        EXPECT_EQ(flow.messages(), (QStringList{"Recording Options", "Vistrale Recording Error"}));
        EXPECT_EQ(flow.dialogs.shown[1].informative, "Vistrale failed to save your video");
        EXPECT_TRUE(flow.dialogs.savePanels.empty());
        EXPECT_EQ(QDir(flow.cache.path()).entryList(QDir::Files).size(), 3);
        EXPECT_EQ(flow.display.back(), "reset");
    }
    // The save target cannot be written: told where the movie stays, nothing deleted.
    {
        Flow flow;
        flow.dialogs.savePath = flow.downloads.filePath("no-such-folder/talk.mp4");
        flow.record();
        ASSERT_EQ(flow.messages(), (QStringList{"Recording Options", "Vistrale Recording Error"}));
        EXPECT_TRUE(flow.dialogs.shown[1].informative.endsWith("It is kept as " + flow.movie()));
        EXPECT_TRUE(QFile::exists(flow.movie()));
        EXPECT_TRUE(QFile::exists(flow.video()));
        EXPECT_FALSE(flow.controller.saving());
    }
    // The disk fills while recording: the recording stops by itself, one alert, and
    // the movie written so far is offered (the merge failed on the same disk).
    {
        Flow flow;
        flow.dialogs.choices = {1};
        flow.controller.toggleRecording();
        flow.media.writers[0]->failed("No space left on device");
        flow.settle();
        EXPECT_FALSE(flow.controller.recording());
        EXPECT_EQ(flow.borders, (std::vector<bool>{true, false}));
        Flow::write(flow.video(), "partial");
        flow.media.mergeError = "No space left on device";
        flow.dialogs.savePath = flow.downloads.filePath("partial.mp4");
        flow.dialogs.answers = {true, false};
        flow.media.writers[0]->complete(false);
        flow.settle();
        ASSERT_EQ(
            flow.messages(), (QStringList{"Recording Options", "Vistrale Recording Error", "Vistrale Recording"}));
        EXPECT_TRUE(flow.dialogs.shown[1].informative.contains("No space left on device"));
        QFile saved(flow.downloads.filePath("partial.mp4"));
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), "partial");
    }
}

TEST(RecordingFlow, TheTranscriptMayTakeARecordingWithAudioOver)
{
    Flow flow;
    flow.transcriptTakesOver = true;
    flow.record(0);
    EXPECT_TRUE(flow.dialogs.savePanels.empty());
    EXPECT_EQ(flow.display.back(), "reset");
    // The transcript continues with the save step and hears where the movie went.
    flow.dialogs.savePath = flow.downloads.filePath("talk.mp4");
    QString savedAt;
    flow.controller.saveStep(flow.movie(), [&](const QString& path) { savedAt = path; });
    EXPECT_EQ(savedAt, flow.dialogs.savePath);
    EXPECT_TRUE(QFile::exists(savedAt));
    // Without audio there is no transcript to hand over: straight to saving.
    Flow silent;
    silent.transcriptTakesOver = true;
    silent.dialogs.savePath = silent.downloads.filePath("a.mp4");
    silent.record(1);
    EXPECT_EQ(silent.dialogs.savePanels.size(), 1u);
}

TEST(RecordingFlow, MovesReplaceAnExistingFileAndFailuresLeaveBothFiles)
{
    QTemporaryDir folder;
    const QString from = folder.filePath("from.mp4");
    const QString to = folder.filePath("to.mp4");
    Flow::write(from, "new");
    Flow::write(to, "old");
    QString error;
    ASSERT_TRUE(moveFileReplacing(from, to, &error)) << qPrintable(error);
    QFile moved(to);
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), "new");
    EXPECT_FALSE(QFile::exists(from));
    // Across file systems (/dev/shm is its own) the copy replaces the target too.
    if (QDir("/dev/shm").exists()) {
        QTemporaryDir shm("/dev/shm/vistrale-move-XXXXXX");
        const QString other = shm.filePath("other.mp4");
        Flow::write(other, "old");
        ASSERT_TRUE(moveFileReplacing(to, other, &error)) << qPrintable(error);
        QFile copied(other);
        ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
        EXPECT_EQ(copied.readAll(), "new");
        EXPECT_FALSE(QFile::exists(to));
    }
    Flow::write(from, "kept");
    EXPECT_FALSE(moveFileReplacing(from, folder.filePath("missing/x.mp4"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFile::exists(from));
}
