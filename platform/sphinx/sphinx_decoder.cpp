#include "platform/sphinx/sphinx_decoder.h"

#include "platform/log.h"
#include "platform/sphinx/letter_to_sound.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>
#include <cmath>
#include <mutex>

#include <pocketsphinx.h>
#include <sphinxbase/ngram_model.h>

namespace vistrale {
namespace {

constexpr double FRAMES_PER_SECOND = 100.0;
constexpr int SAMPLES_PER_FRAME = SphinxDecoder::SAMPLE_RATE / 100;

// "en-us" → "en-US".
QString identifierOf(const QString& folder)
{
    const QStringList parts = folder.split('-');
    if (parts.size() != 2)
        return folder;
    return parts[0].toLower() + "-" + parts[1].toUpper();
}

// "en-US" → "English (United States)".
QString displayName(const QString& identifier)
{
    const QLocale locale(QString(identifier).replace('-', '_'));
    if (locale.language() == QLocale::C)
        return {};
    QString name = QLocale::languageToString(locale.language());
    if (identifier.contains('-') && locale.territory() != QLocale::AnyTerritory)
        name += " (" + QLocale::territoryToString(locale.territory()) + ")";
    return name;
}

// A word of the recogniser's output without its pronunciation variant ("the(2)").
QString plainWord(const char* word)
{
    QString text = QString::fromUtf8(word);
    const int variant = text.indexOf('(');
    if (variant > 0)
        text.truncate(variant);
    return text;
}

bool isFiller(const QString& word)
{
    return word.isEmpty() || word.startsWith('<') || word.startsWith('[') || word == "(NULL)";
}

// Words already reported as impossible to add: each is logged once per run.
bool firstReport(const QString& word)
{
    static std::mutex lock;
    static QSet<QString> reported;
    std::lock_guard guard(lock);
    if (reported.contains(word))
        return false;
    reported.insert(word);
    return true;
}

} // namespace

QString sphinxModelRoot()
{
    const QString forced = qEnvironmentVariable("VISTRALE_SPEECH_MODELS");
    return forced.isEmpty() ? QStringLiteral("/usr/share/pocketsphinx/model") : forced;
}

std::vector<SphinxModel> findSphinxModels(const QString& root)
{
    std::vector<SphinxModel> models;
    const QDir base(root);
    for (const QString& folder : base.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir dir(base.filePath(folder));
        SphinxModel model;
        model.identifier = identifierOf(folder);
        model.name = displayName(model.identifier);
        model.acousticModel = dir.filePath(folder);
        for (const QString& name : {folder + ".lm.bin", folder + ".lm", folder + ".lm.DMP"})
            if (QFileInfo::exists(dir.filePath(name))) {
                model.languageModel = dir.filePath(name);
                break;
            }
        const QStringList dictionaries = dir.entryList({"*.dict", "*.dic"}, QDir::Files, QDir::Name);
        if (!dictionaries.isEmpty())
            model.dictionary = dir.filePath(dictionaries.first());
        if (model.name.isEmpty() || model.languageModel.isEmpty() || model.dictionary.isEmpty()
            || !QFileInfo::exists(QDir(model.acousticModel).filePath("mdef")))
            continue;
        models.push_back(model);
    }
    std::sort(models.begin(), models.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return models;
}

QStringList customVocabulary(const QStringList& contextualStrings, int limit)
{
    static const QRegularExpression blanks("\\s+");
    QStringList words;
    QSet<QString> seen;
    for (const QString& entry : contextualStrings)
        for (const QString& word : entry.split(blanks, Qt::SkipEmptyParts)) {
            if (seen.contains(word.toLower()))
                continue;
            if (words.size() >= limit) {
                logLine("too many custom words, using the first", limit);
                return words;
            }
            seen.insert(word.toLower());
            words << word;
        }
    return words;
}

std::unique_ptr<SphinxDecoder> SphinxDecoder::load(
    const SphinxModel& model, const QStringList& customWords, const SphinxTuning& tuning, QString* error)
{
    QList<QByteArray> arguments{"-hmm", QFile::encodeName(model.acousticModel), "-lm",
        QFile::encodeName(model.languageModel), "-dict", QFile::encodeName(model.dictionary), "-logfn", "/dev/null",
        "-vad_postspeech", QByteArray::number(tuning.silenceFrames)};
    if (tuning.languageWeight > 0)
        arguments << "-lw" << QByteArray::number(tuning.languageWeight);
    if (tuning.wordPenalty > 0)
        arguments << "-wip" << QByteArray::number(tuning.wordPenalty);
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    cmd_ln_t* config = cmd_ln_parse_r(nullptr, ps_args(), static_cast<int>(argv.size()), argv.data(), TRUE);
    if (!config) {
        *error = "bad recogniser settings";
        return nullptr;
    }
    std::unique_ptr<SphinxDecoder> result(new SphinxDecoder);
    result->decoder = ps_init(config);
    if (!result->decoder) {
        cmd_ln_free_r(config);
        *error = "cannot load the speech model " + model.acousticModel;
        return nullptr;
    }
    ps_decoder_t* ps = result->decoder;

    // Unknown words join the dictionary; every custom word goes to a small language
    // model of its own that is mixed with the generic one, so that they are favoured.
    QStringList favoured;
    std::vector<std::pair<QByteArray, QByteArray>> additions;
    for (const QString& word : customWords) {
        const QByteArray lower = word.toLower().toUtf8();
        if (char* known = ps_lookup_word(ps, lower.constData())) {
            free(known);
            favoured << word.toLower();
            continue;
        }
        const std::optional<QString> phones = englishPronunciation(word);
        if (!phones) {
            if (firstReport(word))
                logLine("custom word cannot be added", printableText(word, 80));
            continue;
        }
        additions.emplace_back(word.toUtf8(), phones->toLatin1());
    }
    for (std::size_t i = 0; i < additions.size(); ++i) {
        const bool last = i + 1 == additions.size();
        if (ps_add_word(ps, additions[i].first.constData(), additions[i].second.constData(), last ? TRUE : FALSE) < 0) {
            if (firstReport(QString::fromUtf8(additions[i].first)))
                logLine("custom word cannot be added", printableText(QString::fromUtf8(additions[i].first), 80));
            continue;
        }
        favoured << QString::fromUtf8(additions[i].first);
        result->added << QString::fromUtf8(additions[i].first);
    }

    std::vector<ngram_model_t*> models;
    std::vector<QByteArray> names;
    std::vector<float32> weights;
    ngram_model_t* generic = ps_get_lm(ps, ps_get_search(ps));
    logmath_t* logMath = ps_get_logmath(ps);
    double genericWeight = 1.0;
    if (!tuning.extraLanguageModel.isEmpty()) {
        if (ngram_model_t* extra
            = ngram_model_read(config, QFile::encodeName(tuning.extraLanguageModel).constData(), NGRAM_AUTO, logMath)) {
            models.push_back(extra);
            names.push_back("extra");
            weights.push_back(static_cast<float32>(tuning.extraWeight));
            genericWeight -= tuning.extraWeight;
        } else {
            logLine("cannot read the language model", printableText(tuning.extraLanguageModel));
        }
    }
    if (!favoured.isEmpty() && tuning.customWeight > 0) {
        QTemporaryFile arpa;
        if (arpa.open()) {
            const double probability = std::log10(1.0 / (favoured.size() + 2));
            QByteArray text = "\\data\\\nngram 1=" + QByteArray::number(favoured.size() + 2) + "\n\n\\1-grams:\n";
            for (const QString& word : QStringList{"<s>", "</s>"} + favoured)
                text += QByteArray::number(probability, 'f', 4) + " " + word.toUtf8() + "\n";
            text += "\n\\end\\\n";
            arpa.write(text);
            arpa.flush();
            if (ngram_model_t* custom
                = ngram_model_read(config, QFile::encodeName(arpa.fileName()).constData(), NGRAM_ARPA, logMath)) {
                models.push_back(custom);
                names.push_back("custom");
                weights.push_back(static_cast<float32>(tuning.customWeight));
                genericWeight -= tuning.customWeight;
            }
        }
    }
    if (generic && !models.empty() && genericWeight > 0) {
        models.insert(models.begin(), ngram_model_retain(generic));
        names.insert(names.begin(), "generic");
        weights.insert(weights.begin(), static_cast<float32>(genericWeight));
        std::vector<char*> nameList;
        for (QByteArray& name : names)
            nameList.push_back(name.data());
        ngram_model_t* mixed = ngram_model_set_init(
            config, models.data(), nameList.data(), weights.data(), static_cast<int32>(models.size()));
        if (mixed && ps_set_lm(ps, "mixed", mixed) == 0 && ps_set_search(ps, "mixed") == 0)
            ngram_model_free(mixed); // the search holds its own reference
        else
            logLine("cannot mix the language models");
    } else {
        for (ngram_model_t* unused : models)
            ngram_model_free(unused);
    }
    cmd_ln_free_r(config);
    return result;
}

SphinxDecoder::~SphinxDecoder()
{
    if (decoder)
        ps_free(decoder);
}

void SphinxDecoder::start()
{
    ps_start_utt(decoder);
    open = true;
    fed = 0;
    totalAtStart = total;
    speaking = false;
    utteranceStart = 0;
    silenceSince = 0;
    lastPartial.clear();
}

std::optional<SpeechResult> SphinxDecoder::process(const std::int16_t* samples, std::size_t count)
{
    if (!open)
        return std::nullopt;
    ps_process_raw(decoder, samples, count, FALSE, FALSE);
    fed += count;
    total += count;
    const bool now = ps_get_in_speech(decoder) != 0;
    if (now && !speaking) {
        // Silence is not decoded: the utterance's frames so far (the frames just
        // before speech began, and speech) end here.
        speaking = true;
        const std::uint64_t frames = static_cast<std::uint64_t>(std::max(0, ps_get_n_frames(decoder)));
        utteranceStart = fed > frames * SAMPLES_PER_FRAME ? fed - frames * SAMPLES_PER_FRAME : 0;
    }
    if (!now && speaking)
        return finalResult();
    if (!speaking)
        return std::nullopt;
    const char* hypothesis = ps_get_hyp(decoder, nullptr);
    const QString text = hypothesis ? QString::fromUtf8(hypothesis) : QString();
    if (text == lastPartial)
        return std::nullopt;
    lastPartial = text;
    SpeechResult partial;
    partial.text = text;
    return partial;
}

void SphinxDecoder::discardSilence()
{
    if (!open || speaking)
        return;
    ps_end_utt(decoder);
    ps_start_utt(decoder);
    silenceSince = position();
}

SpeechResult SphinxDecoder::finish()
{
    return finalResult();
}

SpeechResult SphinxDecoder::finalResult()
{
    SpeechResult result;
    result.isFinal = true;
    if (!open)
        return result;
    ps_end_utt(decoder);
    open = false;
    // Frame numbers count from the decoder's making, across utterances and tasks.
    const double base = -static_cast<double>(totalAtStart) / SAMPLE_RATE;
    QStringList words;
    for (ps_seg_t* segment = ps_seg_iter(decoder); segment; segment = ps_seg_next(segment)) {
        const QString word = plainWord(ps_seg_word(segment));
        if (isFiller(word))
            continue;
        int first = 0;
        int last = 0;
        ps_seg_frames(segment, &first, &last);
        result.segments.push_back(
            {std::max(0.0, base + first / FRAMES_PER_SECOND), (last - first + 1) / FRAMES_PER_SECOND, word});
        words << word;
    }
    result.text = words.join(' ');
    speaking = false;
    silenceSince = position();
    lastPartial.clear();
    return result;
}

} // namespace vistrale
