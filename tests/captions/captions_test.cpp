// Live captions through the fakes: the caption box in the scene, the recogniser's
// restart loop and time line, the commands and alerts, and a recording's transcript.
#include "app/settings/settings_keys.h"
#include "captions/caption_box.h"
#include "captions/captions.h"
#include "platform/notification_center.h"
#include "captions/recording_transcript.h"
#include "documents/web_pages.h"
#include "preview/view_tags.h"
#include "recording/recording_controller.h"
#include "recording/video_recorder.h"
#include "tests/preview/controller_harness.h"
#include "tests/support/test_files.h"
#include "tests/support/wait_until.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

struct CaptionHarness : CaptureHarness {
    CaptionHarness()
        : CaptureHarness([](FakePlatform&) {})
    {
        settings->setText(keys::LOCALE, "en-US");
    }
    Captions& captions() { return *vc->captions(); }
    FakeSpeechRecognition& engine() { return *fake.speech; }
    // Delivers a result to the running task and lets the main thread take it.
    void hear(const SpeechResult& result)
    {
        ASSERT_NE(engine().running(), nullptr);
        engine().running()->deliver(result);
        fake.clock->runPending();
    }
    QString boxText() { return captions().lastSpeechString(); }
};

SpeechResult partial(const QString& text)
{
    return {text, false, {}};
}

SpeechResult final(const QString& text, std::vector<SpeechSegment> segments)
{
    return {text, true, std::move(segments)};
}

// A two-second recording with audio and captions on, in which "hello" is heard.
RecordingResult recordHello(CaptionHarness& h, const QString& n)
{
    h.fake.clock->advance(10);
    h.vc->ccToggled();
    RecordingResult result;
    result.files = {h.dir.filePath("tmp-" + n + ".mp4"), h.dir.filePath("tmp-" + n + ".m4a"),
        h.dir.filePath("vistrale-" + n + ".mp4")};
    result.withAudio = true;
    result.startDate = h.fake.clock->now();
    h.captions().recordingStarted();
    h.hear(final("hello", {{0.5, 1.25, "hello"}}));
    h.fake.clock->advance(2);
    result.endDate = h.fake.clock->now();
    h.captions().recordingStopped();
    return result;
}

int yellowPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.alpha() > 200 && c.red() > 200 && c.green() > 200 && c.blue() < 60;
        }
    return count;
}

} // namespace

TEST(CaptionBox, SixtyPercentOfTheOutputNearTheBottomWithTheNewestLines)
{
    CaptionHarness h;
    const auto& box = h.vc->speechScrollView;
    ASSERT_EQ(box, h.captions().speechScrollView());
    EXPECT_EQ(box->tag(), SPEECH_OVERLAY_TAG);
    EXPECT_TRUE(box->isHidden());
    const double line = captionLineHeight();
    EXPECT_EQ(box->frame(), QRectF(384, 9, 1152, 16 + 3 * line));
    EXPECT_EQ(box->backgroundColor(), QColor(0, 0, 0, 153));
    EXPECT_EQ(h.captions().speechLayer()->frame(), QRectF(16, 8, 1120, 3 * line));

    // Six lines' worth of text: the picture shows the last lines, the last word at its
    // bottom; a weekday is yellow, other words white.
    QString text;
    for (int i = 0; i < 12; ++i)
        text += "quite ordinary words here ";
    text += "until Monday";
    const QImage picture = renderCaptionPicture(text, QSize(1120, static_cast<int>(line)));
    EXPECT_GT(yellowPixels(picture), 100);
    EXPECT_EQ(yellowPixels(renderCaptionPicture("until Mondays", QSize(1120, static_cast<int>(line)))), 0);
    EXPECT_EQ(yellowPixels(renderCaptionPicture(text.left(text.size() - 7), QSize(1120, static_cast<int>(line)))), 0)
        << "the last line alone shows";
}

TEST(Captions, PartialAndFinalResultsRestartTheTaskAndKeepTheTimeLine)
{
    CaptionHarness h;
    h.fake.clock->advance(100);
    h.vc->ccToggled();
    EXPECT_FALSE(h.vc->speechScrollView->isHidden());
    ASSERT_EQ(h.engine().tasks.size(), 1u);
    EXPECT_EQ(h.engine().tasks[0]->options.locale, "en-US");
    const double started = h.captions().recognizer().startedTime;

    h.hear(partial("hello"));
    EXPECT_EQ(h.boxText(), "hello");
    EXPECT_FALSE(h.captions().speechLayer()->contents().isNull());

    h.fake.clock->advance(2);
    h.hear(final("hello world", {{0.5, 0.4, "hello"}, {0.9, 0.5, "world"}}));
    EXPECT_EQ(h.boxText(), "hello world. ");
    ASSERT_EQ(h.engine().tasks.size(), 2u) << "a final result starts the next task";
    EXPECT_TRUE(h.engine().tasks[0]->stopped);
    EXPECT_DOUBLE_EQ(h.captions().recognizer().offsetTime, 2.0);

    // The second task's words are placed after the offset.
    h.captions().recordingStarted();
    h.hear(final("again", {{0.25, 0.5, "again"}}));
    ASSERT_EQ(h.captions().utterRecording.size(), 1u);
    EXPECT_DOUBLE_EQ(h.captions().utterRecording[0].timestamp, started + 2.0 + 0.25);
    EXPECT_EQ(h.boxText(), "hello world.  again. ");

    // Off: the box is cleared and hidden, the task stopped.
    h.vc->ccToggled();
    EXPECT_TRUE(h.vc->speechScrollView->isHidden());
    EXPECT_EQ(h.boxText(), "");
    EXPECT_EQ(h.engine().running(), nullptr);
}

TEST(Captions, MissingModelOrMicrophoneShowTheirAlerts)
{
    CaptionHarness h;
    h.settings->setText(keys::LOCALE, "xx-YY");
    h.vc->ccToggled();
    h.fake.clock->runPending();
    ASSERT_EQ(h.fake.dialogs->shown.size(), 1u);
    EXPECT_EQ(h.fake.dialogs->shown[0].message, "Vistrale");
    EXPECT_EQ(h.fake.dialogs->shown[0].informative, "Speech Recognizer could not start");
    EXPECT_FALSE(h.captions().running());
    EXPECT_TRUE(h.vc->speechScrollView->isHidden());

    h.settings->setText(keys::LOCALE, "en-US");
    h.engine().microphone = false;
    h.fake.dialogs->answers = {true};
    h.vc->ccToggled();
    ASSERT_EQ(h.fake.dialogs->shown.size(), 2u);
    EXPECT_EQ(h.fake.dialogs->shown[1].message, "Info");
    EXPECT_EQ(h.fake.dialogs->shown[1].informative, "Speech recognition needs microphone access");
    EXPECT_EQ(h.fake.dialogs->shown[1].defaultButton, "Open Audio Preferences");
    EXPECT_EQ(h.fake.systemActions->settingsPages,
        QStringList{"x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone"});
    EXPECT_FALSE(h.captions().running());
}

TEST(Captions, LanguageAndCustomWordsRestartARunningEngineAfterASecond)
{
    CaptionHarness h;
    h.engine().languages.push_back({"de-DE", "German (Germany)", true});
    h.vc->ccToggled();
    h.hear(partial("some words"));

    h.captions().selectLocale("de-DE");
    EXPECT_EQ(h.settings->text(keys::LOCALE).value_or(""), "de-DE");
    EXPECT_EQ(h.engine().running(), nullptr);
    h.fake.clock->advance(0.9);
    EXPECT_EQ(h.engine().tasks.size(), 1u);
    h.fake.clock->advance(0.2);
    ASSERT_EQ(h.engine().tasks.size(), 2u);
    EXPECT_EQ(h.engine().tasks[1]->options.locale, "de-DE");
    EXPECT_EQ(h.boxText(), "") << "the restart begins a new transcript";

    // Split at "," and nothing else.
    h.fake.dialogs->typedTexts = {"Vistrale, PocketSphinx"};
    h.captions().customWords();
    EXPECT_EQ(h.fake.dialogs->shown.back().message, "Closed Captions");
    EXPECT_EQ(h.fake.dialogs->shown.back().informative, "Enter words separated by ,");
    h.fake.clock->advance(1.0);
    ASSERT_EQ(h.engine().tasks.size(), 3u);
    EXPECT_EQ(h.engine().tasks[2]->options.contextualStrings, (QStringList{"Vistrale", " PocketSphinx"}));
}

TEST(Captions, LineCountRebuildsTheBoxWithItsText)
{
    CaptionHarness h;
    h.vc->ccToggled();
    h.hear(partial("kept across the rebuild"));
    h.captions().setSpeechLines(1);
    EXPECT_EQ(h.settings->integer(keys::SPEECH_LINES), 1);
    EXPECT_EQ(h.vc->speechScrollView->frame().height(), 16 + captionLineHeight());
    EXPECT_FALSE(h.vc->speechScrollView->isHidden());
    EXPECT_EQ(h.boxText(), "kept across the rebuild");
    EXPECT_EQ(h.vc->speechScrollView->parent(), &h.vc->shareScene().root());
    int boxes = 0;
    for (const auto& child : h.vc->shareScene().root().children())
        boxes += child->tag() == SPEECH_OVERLAY_TAG;
    EXPECT_EQ(boxes, 1) << "the old box is gone";

    // A new output size lays the box out anew, text and all.
    h.vc->changeResolution(1280, 720);
    EXPECT_EQ(h.vc->speechScrollView->frame(), QRectF(256, 9, 768, 16 + captionLineHeight()));
    EXPECT_EQ(h.boxText(), "kept across the rebuild");
    EXPECT_FALSE(h.vc->speechScrollView->isHidden());
}

TEST(Captions, ARecordingsTranscriptWaitsForTheLastResult)
{
    CaptionHarness h;
    h.fake.clock->advance(50);
    h.vc->ccToggled();
    const double start = h.fake.clock->now();
    h.captions().recordingStarted();
    h.hear(final("first words", {{0.5, 0.5, "first"}, {1.0, 1.25, "words"}}));
    h.fake.clock->advance(3);
    const double end = h.fake.clock->now();
    h.captions().recordingStopped();
    EXPECT_TRUE(h.captions().waitingForLastTranscript);

    QString transcript = "none yet";
    h.captions().transcriptFor(start, end, [&](const QString& text) { transcript = text; });
    h.hear(final("late", {{0.1, 0.3, "late"}}));
    h.fake.clock->advance(6.9);
    EXPECT_EQ(transcript, "none yet");
    h.fake.clock->advance(0.2);
    EXPECT_FALSE(h.captions().waitingForLastTranscript);
    EXPECT_TRUE(transcript.startsWith("1\n00:00:00,500 --> 00:00:01,000\nfirst\n\n2\n00:00:01,000 --> "
                                      "00:00:02,250\nwords.\n\n3\n"))
        << transcript.toStdString();
    EXPECT_TRUE(transcript.endsWith("\nlate"));

    // Without captions and utterances the answer is at once (and empty).
    h.vc->ccToggled();
    h.captions().recordingStarted();
    h.captions().recordingStopped();
    transcript = "none yet";
    h.captions().transcriptFor(end, end + 1, [&](const QString& text) { transcript = text; });
    EXPECT_EQ(transcript, "");
}

TEST(Captions, AMergedRecordingGetsItsTranscriptAsASubtitleTrackBeforeItIsSaved)
{
    CaptionHarness h;
    const RecordingResult result = recordHello(h, "1");

    TranscriptHandOver transcript(h.captions(), *h.platform.media, *h.platform.clock);
    std::optional<std::pair<QString, QString>> saved;
    transcript.handOver(result, [&](const QString& movie, const QString& subRip) { saved = {movie, subRip}; });
    h.fake.clock->advance(7.0);
    transcript.waitForMerges();
    h.fake.clock->runPending();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->first, result.files.outputUrl);
    EXPECT_EQ(saved->second, "1\n00:00:00,500 --> 00:00:01,750\nhello");
    const std::vector<MergeRequest> merges = h.fake.media->mergeRequests();
    ASSERT_EQ(merges.size(), 1u);
    EXPECT_EQ(merges[0].videoPath, result.files.videoUrl);
    EXPECT_EQ(merges[0].audioPath, result.files.audioUrl);
    EXPECT_EQ(merges[0].subtitles, saved->second);
    EXPECT_NE(merges[0].outputPath, result.files.outputUrl) << "the merged movie stays whole until this one is done";

    // The .srt beside the saved movie.
    ASSERT_TRUE(writeSubRipBeside(h.dir.filePath("talk.mp4"), saved->second));
    QFile srt(h.dir.filePath("talk.srt"));
    ASSERT_TRUE(srt.open(QIODevice::ReadOnly));
    EXPECT_EQ(srt.readAll(), saved->second.toUtf8() + "\n");
}

TEST(Captions, TheCaptionEditorsCaptionsAreBurntIntoTheMovieAndSavedWithIt)
{
    using Outcome = VideoOverlayProcessor::Outcome;
    CaptionHarness h;
    const RecordingResult result = recordHello(h, "2");
    ASSERT_TRUE(writeFile(result.files.outputUrl, "recorded"));
    std::vector<double> posted;
    const int observer = NotificationCenter::defaultCenter().addObserver(
        "ProgressBarPercentage", [&](const QVariantMap& info) { posted.push_back(info["progress"].toDouble()); });
    const QRectF box = captionBoxFrame(1920, 3);
    const QString fixed = "1\n00:00:00,400 --> 00:00:01,750\nHello, world";

    // Runs one editor: `act` exports and ends the export; `finish` follows.
    auto edit = [&](const std::function<void(TranscriptEdit&, std::optional<Outcome>&)>& act) {
        TranscriptHandOver transcript(h.captions(), *h.platform.media, *h.platform.clock);
        std::optional<std::pair<QString, QString>> saved;
        std::shared_ptr<TranscriptEdit> editor;
        transcript.handOver(
            result, [&](const QString& movie, const QString& subRip) { saved = {movie, subRip}; },
            [&](const QString&, const QString&, const std::shared_ptr<TranscriptEdit>& e) { editor = e; });
        h.fake.clock->advance(7.0);
        EXPECT_TRUE(editor) << "the editor gets the captions first";
        std::optional<Outcome> outcome;
        act(*editor, outcome);
        editor->finish();
        transcript.waitForMerges();
        h.fake.clock->runPending();
        EXPECT_TRUE(saved);
        return std::make_pair(outcome, saved.value_or(std::make_pair(QString(), QString())));
    };
    auto exportNow = [&](TranscriptEdit& editor, std::optional<Outcome>& outcome) {
        editor.exportWithSubtitles("Hello, world___400___1750###bad___x___2", box, 3,
            [&](Outcome o) { outcome = o; });
        ASSERT_TRUE(h.fake.media->waitForExport(5));
    };
    auto settle = [&](std::optional<Outcome>& outcome) {
        ASSERT_TRUE(waitUntil(
            [&] {
                h.fake.clock->runPending();
                return outcome.has_value();
            },
            5000));
    };

    // Completed: the export is beside the movie, takes its place, carries the edited
    // captions as its subtitle track; progress is posted every 0.1 s below 0.99.
    const auto [completed, savedAfterExport] = edit([&](TranscriptEdit& editor, std::optional<Outcome>& outcome) {
        exportNow(editor, outcome);
        h.fake.media->setExportProgress(0.5);
        h.fake.clock->advance(0.1);
        h.fake.media->setExportProgress(0.995);
        h.fake.clock->advance(0.1);
        h.fake.media->endExport();
        settle(outcome);
        const FakeMedia::Export request = h.fake.media->exports().back();
        EXPECT_EQ(request.request.inputPath, result.files.outputUrl);
        EXPECT_EQ(QFileInfo(request.request.outputPath).dir(), QFileInfo(result.files.outputUrl).dir());
        EXPECT_EQ(request.request.subtitles, fixed);
        ASSERT_EQ(request.request.overlays.size(), 1u) << "the malformed entry is skipped";
        EXPECT_DOUBLE_EQ(request.request.overlays[0].start, 0.4);
        EXPECT_EQ(request.pictures[0].size(), box.size().toSize());
        EXPECT_FALSE(QFile::exists(request.request.outputPath));
    });
    EXPECT_EQ(completed, Outcome::Completed);
    EXPECT_EQ(posted, std::vector<double>{0.5});
    EXPECT_EQ(readFile(result.files.outputUrl), "exported");
    EXPECT_EQ(savedAfterExport, std::make_pair(result.files.outputUrl, fixed));
    const std::size_t mergesBefore = h.fake.media->mergeRequests().size();

    // Cancelled by closing the editor, or failed: the movie stays as it was and gets the
    // edited captions as its subtitle track.
    ASSERT_TRUE(writeFile(result.files.outputUrl, "recorded"));
    const auto [cancelled, savedAfterCancel]
        = edit([&](TranscriptEdit& editor, std::optional<Outcome>& outcome) { exportNow(editor, outcome); });
    EXPECT_EQ(cancelled, Outcome::Cancelled);
    h.fake.media->exportError = "disk full";
    const auto [failed, savedAfterFailure] = edit([&](TranscriptEdit& editor, std::optional<Outcome>& outcome) {
        exportNow(editor, outcome);
        h.fake.media->endExport();
        settle(outcome);
    });
    EXPECT_EQ(failed, Outcome::Failed);
    EXPECT_EQ(savedAfterFailure, savedAfterCancel);
    EXPECT_EQ(savedAfterCancel.second, fixed);
    const std::vector<MergeRequest> merges = h.fake.media->mergeRequests();
    ASSERT_EQ(merges.size(), mergesBefore + 2);
    EXPECT_EQ(merges.back().subtitles, fixed);
    NotificationCenter::defaultCenter().removeObserver(observer);
}

TEST(Captions, ARecordingWithCaptionsGoesThroughTheCaptionEditorToTheSavePanel)
{
    // The recording's files and the editor's page go to a cache folder of the test's own.
    QTemporaryDir cache;
    const QByteArray previousCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    {
        CaptionHarness h;
        h.fake.clock->advance(10);
        h.vc->ccToggled();
        h.fake.audio->inputName = "Test Mic";
        h.fake.dialogs->choices.push_back(0);
        h.vc->toggleRecording();
        h.hear(final("hello", {{0.5, 1.25, "hello"}}));
        h.fake.clock->advance(2);
        h.vc->toggleRecording();
        ASSERT_FALSE(h.fake.media->writers.empty());
        ASSERT_FALSE(h.fake.media->microphones.empty());
        h.fake.media->writers.back()->complete(true);
        h.fake.media->microphones.back()->finished(true);
        h.fake.clock->runPending();
        h.vc->recorder()->videoRecorder().waitForMerges();
        h.fake.clock->runPending();
        h.fake.clock->advance(7.0);

        ASSERT_TRUE(h.vc->webPages());
        WebViewWindowController* editor = h.vc->webPages()->transcriptEditor();
        ASSERT_TRUE(editor) << "the caption editor opens instead of the save panel";
        EXPECT_TRUE(h.fake.dialogs->savePanels.empty());
        EXPECT_EQ(editor->vtt, "1___00:00:00,500 --> 00:00:01,750___hello");
        EXPECT_EQ(editor->audioString, QUrl::fromLocalFile(h.fake.media->microphones.back()->path).toString());

        // Edited captions are kept; the window manager closes the editor; the save
        // panel follows and the .srt beside the saved movie holds the edit.
        // The export's completion closes the editor; the save panel follows.
        h.fake.dialogs->savePath = h.dir.filePath("kept.mp4");
        h.vc->saveTranscript("hello there___500___1750");
        ASSERT_TRUE(h.fake.media->waitForExport(5));
        h.fake.media->endExport();
        ASSERT_TRUE(vistrale::test::waitUntil(
            [&] {
                h.fake.clock->runPending();
                return !h.fake.dialogs->savePanels.empty();
            },
            10000));
        EXPECT_EQ(h.vc->webPages()->transcriptEditor(), nullptr);
        QFile srt(h.dir.filePath("kept.srt"));
        ASSERT_TRUE(srt.open(QIODevice::ReadOnly));
        EXPECT_EQ(srt.readAll(), "1\n00:00:00,500 --> 00:00:01,750\nhello there\n");
        EXPECT_EQ(readFile(h.dir.filePath("kept.mp4")), "exported");
    }
    if (previousCache.isNull())
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", previousCache);
}
