// Live captions' recogniser on recorded speech, fed in the live path's chunks: word
// error rate on flite speech and on the human read clips of pocketsphinx-testdata,
// CPU per second of speech, and the time from a word's start to its first appearance
// in a partial result. Each tuning lever runs on the same clips in the same run.
#include "platform/sphinx/sphinx_decoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace vistrale;

namespace {

struct Clip {
    QString name;
    QString reference;
    std::vector<std::int16_t> samples;
};

// The samples of a 16 kHz mono 16-bit WAV file; empty when it is not one.
std::vector<std::int16_t> readWav(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    if (data.size() < 44 || !data.startsWith("RIFF") || data.mid(8, 4) != "WAVE")
        return {};
    int at = 12;
    while (at + 8 <= data.size()) {
        const QByteArray id = data.mid(at, 4);
        const quint32 size = *reinterpret_cast<const quint32*>(data.constData() + at + 4);
        if (id == "fmt ") {
            const quint16 channels = *reinterpret_cast<const quint16*>(data.constData() + at + 10);
            const quint32 rate = *reinterpret_cast<const quint32*>(data.constData() + at + 12);
            if (channels != 1 || rate != SphinxDecoder::SAMPLE_RATE)
                return {};
        } else if (id == "data") {
            const int bytes = std::min<int>(static_cast<int>(size), static_cast<int>(data.size()) - at - 8);
            std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes / 2));
            memcpy(samples.data(), data.constData() + at + 8, samples.size() * 2);
            return samples;
        }
        at += 8 + static_cast<int>(size) + (size & 1);
    }
    return {};
}

QStringList words(const QString& text)
{
    QString cleaned = text.toLower();
    cleaned.replace(QRegularExpression("[^a-z' ]"), " ");
    return cleaned.split(' ', Qt::SkipEmptyParts);
}

int editDistance(const QStringList& a, const QStringList& b)
{
    std::vector<int> row(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

double threadCpu()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    int errors = 0;
    int referenceWords = 0;
    double cpu = 0;
    double audio = 0;
    std::vector<double> firstSeen;
};

// Decodes one clip as the live path does (1024-sample chunks, a task per utterance).
void decode(SphinxDecoder& decoder, const Clip& clip, Figures& figures, bool verbose)
{
    constexpr std::size_t CHUNK = 1024;
    QStringList heard;
    // The partial results of the running utterance: audio seconds, words.
    std::vector<std::pair<double, QStringList>> partials;
    double taskStart = 0;
    const double cpuBefore = threadCpu();
    decoder.start();
    auto final = [&](const SpeechResult& result) {
        // A word is seen at the first partial result, from its start on, that holds it
        // in its place.
        for (std::size_t i = 0; i < result.segments.size(); ++i) {
            const double start = taskStart + result.segments[i].timestamp;
            for (const auto& [at, partialWords] : partials)
                if (at >= start && static_cast<int>(i) < partialWords.size()
                    && partialWords[static_cast<int>(i)] == result.segments[i].substring.toLower()) {
                    figures.firstSeen.push_back(at - start);
                    break;
                }
        }
        heard << result.text;
        partials.clear();
        taskStart += decoder.position();
        decoder.start();
    };
    for (std::size_t at = 0; at < clip.samples.size(); at += CHUNK) {
        const std::size_t count = std::min(CHUNK, clip.samples.size() - at);
        std::optional<SpeechResult> result = decoder.process(clip.samples.data() + at, count);
        if (!result)
            continue;
        if (result->isFinal)
            final(*result);
        else
            partials.emplace_back(taskStart + decoder.position(), words(result->text));
    }
    // The clip ends in silence, as speech does before a pause.
    std::vector<std::int16_t> silence(SphinxDecoder::SAMPLE_RATE, 0);
    std::optional<SpeechResult> last = decoder.process(silence.data(), silence.size());
    final(last && last->isFinal ? *last : decoder.finish());
    figures.cpu += threadCpu() - cpuBefore;
    figures.audio += clip.samples.size() / double(SphinxDecoder::SAMPLE_RATE);
    const QStringList reference = words(clip.reference);
    figures.errors += editDistance(reference, words(heard.join(' ')));
    figures.referenceWords += static_cast<int>(reference.size());
    if (verbose)
        std::printf("  %s: %s\n", qPrintable(clip.name), qPrintable(heard.join(" | ")));
}

std::vector<Clip> fliteClips(QTemporaryDir& dir)
{
    const QStringList sentences = {
        "Welcome everyone to this short presentation about our new product.",
        "Today I want to show you three things that changed this quarter.",
        "First, the sales numbers grew by twelve percent in March.",
        "Second, our team shipped the new version two weeks early.",
        "Third, customers told us the application is much easier to use.",
        "Let me share my screen and walk you through the details.",
        "If you have any questions, please ask them at the end.",
        "Thank you all for joining the meeting this Monday morning.",
    };
    std::vector<Clip> clips;
    for (int i = 0; i < sentences.size(); ++i) {
        const QString path = dir.filePath(QString("flite-%1.wav").arg(i));
        if (QProcess::execute("flite", {"-voice", "slt", "-t", sentences[i], "-o", path}) != 0)
            continue;
        clips.push_back({QString("flite-%1").arg(i), sentences[i], readWav(path)});
    }
    return clips;
}

std::vector<Clip> humanClips()
{
    const QDir dir("/usr/share/pocketsphinx/test/data/librivox");
    QFile transcription(dir.filePath("transcription"));
    std::vector<Clip> clips;
    if (!transcription.open(QIODevice::ReadOnly))
        return clips;
    for (const QString& line : QString::fromUtf8(transcription.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const auto match = QRegularExpression("^(.*)\\(([^)]+)\\)\\s*$").match(line);
        if (!match.hasMatch())
            continue;
        QString reference = match.captured(1);
        reference.remove("<s>").remove("</s>");
        clips.push_back({match.captured(2), reference, readWav(dir.filePath(match.captured(2) + ".wav"))});
    }
    return clips;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::vector<SphinxModel> models = findSphinxModels(sphinxModelRoot());
    if (models.empty()) {
        std::printf("no PocketSphinx model installed\n");
        return 1;
    }
    // "-v" prints what was heard in each clip.
    const bool verbose = app.arguments().contains("-v");
    QTemporaryDir dir;
    const std::vector<Clip> flite = fliteClips(dir);
    const std::vector<Clip> human = humanClips();
    std::printf("%zu flite sentences, %zu human clips (pocketsphinx-testdata)\n", flite.size(), human.size());

    struct Lever {
        const char* name;
        SphinxTuning tuning;
        QStringList customWords;
    };
    SphinxTuning shortPause;
    shortPause.silenceFrames = 30;
    SphinxTuning longPause;
    longPause.silenceFrames = 100;
    SphinxTuning weighted;
    weighted.languageWeight = 8;
    SphinxTuning penalty;
    penalty.wordPenalty = 0.2;
    const std::vector<Lever> levers = {
        {"default", {}, {}},
        {"pause 0.3 s ends an utterance", shortPause, {}},
        {"pause 1.0 s ends an utterance", longPause, {}},
        {"language weight 8", weighted, {}},
        {"word insertion penalty 0.2", penalty, {}},
        {"custom words (names of the texts)", {}, {"Dashwood", "Norland", "presentation", "quarter"}},
        {"penalty 0.2 and the custom words", penalty, {"Dashwood", "Norland", "presentation", "quarter"}},
    };
    std::printf("%-36s %10s %10s %12s %14s\n", "lever", "WER flite", "WER human", "CPU x real", "first seen (s)");
    for (const Lever& lever : levers) {
        QString error;
        std::unique_ptr<SphinxDecoder> decoder
            = SphinxDecoder::load(models.front(), lever.customWords, lever.tuning, &error);
        if (!decoder) {
            std::printf("%-36s cannot load: %s\n", lever.name, qPrintable(error));
            continue;
        }
        Figures onFlite;
        Figures onHuman;
        for (const Clip& clip : flite)
            decode(*decoder, clip, onFlite, verbose);
        for (const Clip& clip : human)
            decode(*decoder, clip, onHuman, verbose);
        std::vector<double> seen = onFlite.firstSeen;
        seen.insert(seen.end(), onHuman.firstSeen.begin(), onHuman.firstSeen.end());
        const double cpu = (onFlite.cpu + onHuman.cpu) / std::max(1e-9, onFlite.audio + onHuman.audio);
        std::printf("%-36s %9.1f%% %9.1f%% %12.3f %14.2f\n", lever.name,
            100.0 * onFlite.errors / std::max(1, onFlite.referenceWords),
            100.0 * onHuman.errors / std::max(1, onHuman.referenceWords), cpu, median(seen));
        std::fflush(stdout);
    }
    return 0;
}
