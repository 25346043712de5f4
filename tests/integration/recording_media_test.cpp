// The recorder's media on real files, read back by ffprobe: the movie writer, a writer
// killed mid-recording, the microphone on a private PulseAudio server, and the merge.
#include "platform/ffmpeg/ffmpeg_audio_file.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/pulse/pulse_audio_devices.h"
#include "tests/support/pulseaudio_session.h"
#include "tests/support/synthetic_frames.h"
#include "tests/support/test_files.h"
#include "tests/support/wait_until.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <atomic>
#include <cmath>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace vistrale;

namespace {

// What ffprobe reads in a file: its format and streams, with frames counted.
QJsonObject probe(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-count_frames", "-show_format", "-show_streams", "-of", "json", path});
    if (!ffprobe.waitForFinished(30000))
        return {};
    return QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
}

QJsonObject stream(const QJsonObject& probed, const QString& type)
{
    for (const auto& s : probed["streams"].toArray()) {
        if (s.toObject()["codec_type"].toString() == type)
            return s.toObject();
    }
    return {};
}

double number(const QJsonObject& object, const char* key)
{
    return object[key].toString().toDouble();
}

// The mean loudness of a file's sound from `from` seconds on, in dB.
double meanVolume(const QString& path, double from = 0)
{
    QProcess ffmpeg;
    ffmpeg.start(
        "ffmpeg", {"-nostdin", "-ss", QString::number(from), "-i", path, "-af", "volumedetect", "-f", "null", "-"});
    if (!ffmpeg.waitForFinished(30000))
        return -1000;
    const auto match
        = QRegularExpression("mean_volume: (-?[0-9.]+) dB").match(QString::fromUtf8(ffmpeg.readAllStandardError()));
    return match.hasMatch() ? match.captured(1).toDouble() : -1000;
}

// The file's top-level boxes, in order.
QStringList topLevelBoxes(const QString& path)
{
    QFile file(path);
    QStringList boxes;
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        file.seek(at);
        const QByteArray header = file.read(16);
        quint64 size = qFromBigEndian<quint32>(header.constData());
        if (size == 1 && header.size() == 16)
            size = qFromBigEndian<quint64>(header.constData() + 8);
        boxes << QString::fromLatin1(header.mid(4, 4));
        if (size < 8)
            break;
        at += static_cast<qint64>(size);
    }
    return boxes;
}

// Writes frames i / 30 s apart as fast as the writer takes them; true when complete.
bool writeFrames(VideoWriter& writer, int count, QSize otherSizeFrom = {}, int otherSizeCount = 0, bool noisy = false)
{
    for (int i = 0; i < count; ++i) {
        const bool other = otherSizeCount > 0 && i >= 30 && i < 30 + otherSizeCount;
        const FrameRef frame = test::syntheticFrame(i, other ? otherSizeFrom : QSize(1920, 1080), noisy);
        while (!writer.append(frame, i / 30.0))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::promise<bool> closed;
    writer.finish([&closed](bool complete) { closed.set_value(complete); });
    return closed.get_future().get();
}

bool writeMovie(const QString& path, int frames, bool mov = false)
{
    FfmpegMedia media;
    VideoWriterSettings settings;
    settings.path = path;
    settings.mov = mov;
    QString error;
    auto writer = media.createVideoWriter(settings, nullptr, &error);
    return writer && writeFrames(*writer, frames);
}

bool writeTone(const QString& path, double seconds)
{
    AacFileWriter file;
    QString error;
    if (!file.open(path, &error))
        return false;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * AacFileWriter::SAMPLE_RATE) * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440.0 * static_cast<double>(i / 2) / 44100));
    return file.write(samples.data(), static_cast<int>(samples.size() / 2), &error) && file.close(&error);
}

} // namespace

TEST(RecordingMedia, WritesH264MoviesOfTheOutputSizeInBothContainers)
{
    for (bool mov : {false, true}) {
        QTemporaryDir folder;
        const QString path = folder.filePath(mov ? "movie.mov" : "movie.mp4");
        FfmpegMedia media;
        VideoWriterSettings settings;
        settings.path = path;
        settings.mov = mov;
        settings.limitBitRate = !mov;
        QString error;
        auto writer = media.createVideoWriter(settings, nullptr, &error);
        ASSERT_TRUE(writer) << qPrintable(error);
        // A second of the frames comes at another size, as after a resolution change.
        // The noise would take several megabits a second at constant quality.
        ASSERT_TRUE(writeFrames(*writer, 90, QSize(1280, 720), 30, true));
        EXPECT_EQ(writer->counts().written, 90u);

        const QJsonObject probed = probe(path);
        const QJsonObject video = stream(probed, "video");
        EXPECT_EQ(video["codec_name"].toString(), "h264") << mov;
        EXPECT_EQ(video["width"].toInt(), 1920);
        EXPECT_EQ(video["height"].toInt(), 1080);
        EXPECT_EQ(video["time_base"].toString(), "1/600");
        EXPECT_EQ(video["color_space"].toString(), "smpte170m");
        EXPECT_EQ(video["nb_read_frames"].toString(), "90");
        EXPECT_NEAR(number(probed["format"].toObject(), "duration"), 3.0, 0.3);
        if (mov)
            EXPECT_GT(number(video, "bit_rate"), 3000000);
        else
            EXPECT_LT(number(video, "bit_rate"), 1300000 * 1.15);
        const QString brand = probed["format"].toObject()["tags"].toObject()["major_brand"].toString();
        EXPECT_TRUE(mov ? brand.startsWith("qt") : brand.startsWith("iso")) << qPrintable(brand);
    }
}

TEST(RecordingMedia, AWriterDropsAndCountsFramesItCannotTakeWithoutWaiting)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("queue.mp4");
    FfmpegMedia media;
    VideoWriterSettings settings;
    settings.path = path;
    settings.queueCapacity = 2;
    QString error;
    auto writer = media.createVideoWriter(settings, nullptr, &error);
    ASSERT_TRUE(writer) << qPrintable(error);
    // Offered far faster than any encoder takes them; a frame not later than the
    // previous one is refused too.
    const FrameRef frame = test::syntheticFrame(0);
    int queued = 0;
    for (int i = 0; i < 60; ++i)
        queued += writer->append(frame, i / 30.0) ? 1 : 0;
    EXPECT_FALSE(writer->append(frame, 1.0));
    std::promise<bool> closed;
    writer->finish([&closed](bool complete) { closed.set_value(complete); });
    ASSERT_TRUE(closed.get_future().get());
    const VideoWriterCounts counts = writer->counts();
    EXPECT_EQ(counts.offered, 61u);
    EXPECT_LT(queued, 60);
    EXPECT_EQ(counts.written, static_cast<std::uint64_t>(queued));
    EXPECT_EQ(counts.written + counts.dropped, counts.offered);
    EXPECT_EQ(stream(probe(path), "video")["nb_read_frames"].toString().toULongLong(), counts.written);
}

TEST(RecordingMedia, AKilledWriterLeavesAPlayableMovie)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("killed.mp4");
    QProcess helper;
    helper.start(VISTRALE_VIDEO_WRITER_HELPER, {path});
    ASSERT_TRUE(helper.waitForStarted());
    // Killed once it wrote 70 frames: the fragments up to the key frame at frame 60.
    std::uint64_t written = 0;
    test::waitUntil(
        [&] {
            while (helper.canReadLine()) {
                const QString line = QString::fromUtf8(helper.readLine()).trimmed();
                written = line.section(' ', 1).toULongLong();
            }
            helper.waitForReadyRead(50);
            return written >= 70 || helper.state() != QProcess::Running;
        },
        30000);
    ::kill(static_cast<pid_t>(helper.processId()), SIGKILL);
    helper.waitForFinished();
    ASSERT_GE(written, 70u) << qPrintable(helper.readAllStandardError());

    const QJsonObject probed = probe(path);
    const QJsonObject video = stream(probed, "video");
    EXPECT_EQ(video["codec_name"].toString(), "h264");
    EXPECT_GE(number(probed["format"].toObject(), "duration"), 2.0);
    EXPECT_GE(video["nb_read_frames"].toString().toInt(), 30);
}

TEST(RecordingMedia, AWriterOnAFullDiskReportsOnceAndKeepsWhatItWrote)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("full.mp4");
    // The file may grow to 300 kB, well short of this movie.
    QProcess helper;
    helper.start(VISTRALE_VIDEO_WRITER_HELPER, {path, "300000"});
    ASSERT_TRUE(helper.waitForFinished(60000));
    const QStringList report = QString::fromUtf8(helper.readAllStandardOutput()).split(' ');
    ASSERT_EQ(report.size(), 6) << qPrintable(helper.readAllStandardError());
    EXPECT_EQ(report[1], "1") << "failures";
    EXPECT_EQ(report[3], "0") << "complete";
    const QJsonObject probed = probe(path);
    EXPECT_EQ(stream(probed, "video")["codec_name"].toString(), "h264");
    EXPECT_GT(stream(probed, "video")["nb_read_frames"].toString().toInt(), 0);

    // Nothing at all can be written: no writer, and the reason.
    QString error;
    VideoWriterSettings settings;
    settings.path = "/dev/full";
    EXPECT_FALSE(FfmpegMedia().createVideoWriter(settings, nullptr, &error));
    EXPECT_TRUE(error.contains("No space left on device")) << qPrintable(error);
}

TEST(RecordingMedia, RecordsTheDefaultInputAndKeepsItsSoundWhenTheServerGoes)
{
    test::PulseAudioSession pulse;
    QString error;
    ASSERT_TRUE(pulse.start(&error)) << qPrintable(error);
    const QByteArray previous = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", pulse.serverAddress().toUtf8());
    EXPECT_EQ(PulseAudioDevices().defaultInputName(), "Monitor of Test-Sink");
    ASSERT_TRUE(pulse.playTone(440, 10));

    QTemporaryDir folder;
    FfmpegMedia media;
    for (bool serverGoes : {false, true}) {
        const QString path = folder.filePath(serverGoes ? "lost.m4a" : "mic.m4a");
        std::atomic<int> failures{0};
        std::promise<bool> ended;
        auto recorder = media.startMicrophone(
            path, [&failures](const QString&) { ++failures; }, [&ended](bool ok) { ended.set_value(ok); }, &error);
        ASSERT_TRUE(recorder) << qPrintable(error);
        QElapsedTimer elapsed;
        elapsed.start();
        test::waitUntil([] { return false; }, 3000);
        if (serverGoes)
            pulse.stopDaemon();
        else
            recorder->stop();
        EXPECT_EQ(ended.get_future().get(), !serverGoes);
        recorder.reset();
        EXPECT_EQ(failures, serverGoes ? 1 : 0);

        const QJsonObject audio = stream(probe(path), "audio");
        EXPECT_EQ(audio["codec_name"].toString(), "aac") << serverGoes;
        EXPECT_EQ(audio["sample_rate"].toString(), "44100");
        EXPECT_EQ(audio["channels"].toInt(), 2);
        // A private server's null sink, on a loaded machine, delivers less than real
        // time; what it delivered must be there, and no more than the time allows.
        EXPECT_GT(number(audio, "duration"), 0.5);
        EXPECT_LT(number(audio, "duration"), elapsed.elapsed() / 1000.0 + 0.5);
        EXPECT_GT(meanVolume(path), -40) << "the tone was not recorded";
    }

    // No server at all: no input, and no recorder.
    EXPECT_EQ(PulseAudioDevices().defaultInputName(), "");
    EXPECT_FALSE(media.startMicrophone(folder.filePath("none.m4a"), nullptr, nullptr, &error));
    if (previous.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", previous);
}

TEST(RecordingMedia, MergesVideoAndAnyReadableAudioIntoOneMovieWithItsIndexFirst)
{
    QTemporaryDir folder;
    const QString video = folder.filePath("video.mp4");
    ASSERT_TRUE(writeMovie(video, 90));
    struct Case {
        const char* name;
        double audioSeconds; // 0: no audio
        bool mov;
        bool unreadable = false; // an audio file that is none, left out of the movie
    } cases[] = {{"longer", 4.0, false}, {"shorter", 2.0, true}, {"none", 0, false}, {"unreadable", 0, false, true}};
    FfmpegMedia media;
    for (const Case& c : cases) {
        MergeRequest request{
            video, {}, folder.filePath(QString("%1.%2").arg(c.name, c.mov ? "mov" : "mp4")), c.mov, {}};
        if (c.audioSeconds > 0 || c.unreadable) {
            request.audioPath = folder.filePath(QString(c.name) + ".m4a");
            ASSERT_TRUE(c.unreadable ? test::writeFile(request.audioPath, "not an audio file")
                                     : writeTone(request.audioPath, c.audioSeconds));
        }
        QString error;
        ASSERT_TRUE(media.merge(request, &error)) << c.name << ": " << qPrintable(error);

        const QJsonObject probed = probe(request.outputPath);
        const QJsonObject v = stream(probed, "video");
        EXPECT_EQ(v["nb_read_frames"].toString(), "90") << c.name;
        EXPECT_NEAR(number(v, "duration"), 3.0, 0.05) << c.name;
        const QStringList boxes = topLevelBoxes(request.outputPath);
        EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat")) << c.name << ": " << qPrintable(boxes.join(' '));
        EXPECT_FALSE(boxes.contains("moof")) << c.name;
        const QJsonObject a = stream(probed, "audio");
        if (c.audioSeconds == 0) {
            EXPECT_TRUE(a.isEmpty());
            continue;
        }
        EXPECT_EQ(a["codec_name"].toString(), "aac") << c.name;
        EXPECT_NEAR(number(a, "duration"), number(v, "duration"), 0.05) << c.name;
        // A shorter audio is repeated to the end, not filled with silence.
        EXPECT_GT(meanVolume(request.outputPath, 2.5), -40) << c.name;
    }
}
