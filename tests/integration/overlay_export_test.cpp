// Edited captions burnt into a real recording: the recorder's own writer and merge make
// the movie, the export runs on FFmpeg, and ffmpeg/ffprobe read the result back.
#include "captions/caption_box.h"
#include "captions/caption_export.h"
#include "platform/ffmpeg/ffmpeg_audio_file.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/notification_center.h"
#include "platform/qt/qt_clock.h"
#include "recording/video_overlay_processor.h"
#include "tests/support/synthetic_frames.h"
#include "tests/support/test_files.h"
#include "tests/support/wait_until.h"

#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

using namespace vistrale;

namespace {

const QSize MOVIE(1280, 720);

QByteArray run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return {};
    return process.readAllStandardOutput();
}

// A recording as the recorder leaves it: 3 s of 30 pictures a second at MOVIE and,
// unless `silent`, a tone, merged into one movie.
bool makeRecording(const QTemporaryDir& folder, const QString& movie, bool silent)
{
    FfmpegMedia media;
    VideoWriterSettings settings;
    settings.path = folder.filePath("tmp.mp4");
    settings.size = MOVIE;
    QString error;
    auto writer = media.createVideoWriter(settings, nullptr, &error);
    if (!writer)
        return false;
    for (int i = 0; i < 90; ++i)
        while (!writer->append(test::syntheticFrame(i, MOVIE), i / 30.0))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::promise<bool> closed;
    writer->finish([&closed](bool complete) { closed.set_value(complete); });
    if (!closed.get_future().get())
        return false;
    MergeRequest merge{settings.path, QString(), movie, false, QString()};
    if (!silent) {
        AacFileWriter tone;
        std::vector<std::int16_t> samples(3 * AacFileWriter::SAMPLE_RATE * 2);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440.0 * double(i / 2) / 44100));
        merge.audioPath = folder.filePath("tmp.m4a");
        if (!tone.open(merge.audioPath, &error) || !tone.write(samples.data(), int(samples.size() / 2), &error)
            || !tone.close(&error))
            return false;
    }
    return media.merge(merge, &error);
}

// The picture at `seconds`, as RGB.
QImage pictureAt(const QString& movie, double seconds)
{
    const QByteArray raw = run("ffmpeg", {"-v", "error", "-ss", QString::number(seconds), "-i", movie, "-frames:v",
                                             "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    if (raw.size() != MOVIE.width() * MOVIE.height() * 3)
        return {};
    return QImage(reinterpret_cast<const uchar*>(raw.constData()), MOVIE.width(), MOVIE.height(),
        MOVIE.width() * 3, QImage::Format_RGB888)
        .copy();
}

// Mean absolute difference of two pictures' colour samples inside `area`.
double difference(const QImage& a, const QImage& b, QRect area)
{
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * area.width() * area.height());
}

QByteArray audioDigest(const QString& movie)
{
    return run("ffmpeg", {"-v", "error", "-i", movie, "-map", "0:a:0", "-c", "copy", "-f", "md5", "-"});
}

struct Export {
    VideoOverlayProcessor::Outcome outcome = VideoOverlayProcessor::Outcome::Failed;
    std::vector<double> progress;
};

// Runs the processor to its end, collecting the progress it posts.
Export runExport(VideoOverlayProcessor& processor, const std::function<void()>& whileRunning = {})
{
    Export result;
    const int observer = NotificationCenter::defaultCenter().addObserver("ProgressBarPercentage",
        [&](const QVariantMap& info) { result.progress.push_back(info.value("progress").toDouble()); });
    std::optional<VideoOverlayProcessor::Outcome> outcome;
    processor.process([&](VideoOverlayProcessor::Outcome o, const QString&) { outcome = o; });
    if (whileRunning)
        whileRunning();
    test::waitUntil([&] { return outcome.has_value(); }, 120000);
    NotificationCenter::defaultCenter().removeObserver(observer);
    result.outcome = outcome.value_or(VideoOverlayProcessor::Outcome::Failed);
    return result;
}

class OverlayExport : public ::testing::Test {
protected:
    QTemporaryDir folder;
    FfmpegMedia media;
    QtClock clock;
    const QRectF box = captionBoxFrame(MOVIE.width(), 2);
    // The box in the movie's pixels (top-left origin).
    QRect boxPixels() const
    {
        return QRect(int(box.x()), MOVIE.height() - int(box.y() + box.height()), int(box.width()), int(box.height()));
    }
    // The input picture with the caption box showing `text` drawn over it.
    QImage expected(const QImage& input, const QString& text) const
    {
        QImage picture = input.convertToFormat(QImage::Format_RGB32);
        QPainter(&picture).drawImage(boxPixels().topLeft(), renderCaptionBoxPicture(text, box.size().toSize()));
        return picture;
    }
};

} // namespace

TEST_F(OverlayExport, BurnsTheRunningCaptionsInAtTheirTimesAndCopiesTheSound)
{
    const QString recording = folder.filePath("recording.mp4");
    ASSERT_TRUE(makeRecording(folder, recording, false));
    const QString output = folder.filePath("output.mp4");
    VideoOverlayProcessor processor(recording, output, media, clock);
    processor.overlays = captionOverlays(parseCaptionEntries("hello___0___1000###world___1500___2500"), box, 2);
    processor.subtitles = "1\n00:00:00,000 --> 00:00:01,000\nhello\n\n2\n00:00:01,500 --> 00:00:02,500\nworld";
    const Export done = runExport(processor);
    ASSERT_EQ(done.outcome, VideoOverlayProcessor::Outcome::Completed);

    // From the first picture "hello" shows, "world" joins it from 1.5 s on; the rest
    // of the picture stays as recorded.
    const QRect outside(0, 0, MOVIE.width(), boxPixels().top() - 4);
    const std::pair<double, QString> shows[] = {{0, "hello "}, {1.0, "hello "}, {2.0, "hello world "}};
    for (const auto& [seconds, text] : shows) {
        SCOPED_TRACE(seconds);
        const QImage input = pictureAt(recording, seconds), exported = pictureAt(output, seconds);
        ASSERT_FALSE(input.isNull());
        ASSERT_FALSE(exported.isNull());
        const QString other = text == "hello " ? "hello world " : "hello ";
        const double right = difference(exported, expected(input, text), boxPixels());
        EXPECT_LT(right, 3.0);
        EXPECT_LT(right * 2, difference(exported, expected(input, other), boxPixels())) << "the other text shows";
        EXPECT_LT(difference(exported, input, outside), 2.0);
    }

    EXPECT_EQ(audioDigest(output), audioDigest(recording));
    EXPECT_FALSE(audioDigest(output).isEmpty());
    const QString streams = run("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", output});
    EXPECT_EQ(streams.split('\n', Qt::SkipEmptyParts), (QStringList{"h264", "aac", "mov_text"}));

    // Progress posts rise and stay below 0.99.
    ASSERT_FALSE(done.progress.empty());
    EXPECT_TRUE(std::is_sorted(done.progress.begin(), done.progress.end()));
    EXPECT_LT(done.progress.back(), 0.99);
}

TEST_F(OverlayExport, SilentTruncatedOrCancelledRecordingsNeverLoseTheInput)
{
    const QString recording = folder.filePath("recording.mp4");
    ASSERT_TRUE(makeRecording(folder, recording, true));
    const QByteArray original = test::readFile(recording);
    const auto overlays = captionOverlays(parseCaptionEntries("hi___0___500"), box, 2);

    // Video only in, video only out.
    {
        VideoOverlayProcessor processor(recording, folder.filePath("silent.mp4"), media, clock);
        processor.overlays = overlays;
        ASSERT_EQ(runExport(processor).outcome, VideoOverlayProcessor::Outcome::Completed);
        EXPECT_EQ(run("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0",
                                     folder.filePath("silent.mp4")})
                      .trimmed(),
            "video");
    }
    // Cut short as a killed recorder leaves it: completes with what can be read, or
    // fails without an output.
    {
        const QString cut = folder.filePath("cut.mp4");
        ASSERT_TRUE(test::writeFile(cut, original.left(original.size() * 2 / 3)));
        VideoOverlayProcessor processor(cut, folder.filePath("cut-out.mp4"), media, clock);
        processor.overlays = overlays;
        const auto outcome = runExport(processor).outcome;
        EXPECT_EQ(QFile::exists(folder.filePath("cut-out.mp4")), outcome == VideoOverlayProcessor::Outcome::Completed);
    }
    // Cancelled at once: no output.
    {
        VideoOverlayProcessor processor(recording, folder.filePath("cancelled.mp4"), media, clock);
        processor.overlays = overlays;
        EXPECT_EQ(runExport(processor, [&] { processor.cancel(); }).outcome, VideoOverlayProcessor::Outcome::Cancelled);
        EXPECT_FALSE(QFile::exists(folder.filePath("cancelled.mp4")));
    }
    // Not a movie: fails without an output.
    {
        ASSERT_TRUE(test::writeFile(folder.filePath("notes.mp4"), "not a movie"));
        VideoOverlayProcessor processor(folder.filePath("notes.mp4"), folder.filePath("none.mp4"), media, clock);
        EXPECT_EQ(runExport(processor).outcome, VideoOverlayProcessor::Outcome::Failed);
        EXPECT_FALSE(QFile::exists(folder.filePath("none.mp4")));
    }
    EXPECT_EQ(test::readFile(recording), original);
}
