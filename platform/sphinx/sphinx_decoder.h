#pragma once

#include "platform/speech.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct ps_decoder_s;

namespace vistrale {

// One installed PocketSphinx language: its folder under the model root ("en-us")
// holds the acoustic model folder of the same name, a language model and a dictionary.
struct SphinxModel {
    QString identifier; // "en-US"
    QString name; // "English (United States)"
    QString acousticModel;
    QString languageModel;
    QString dictionary;
};

// The models installed under `root`, sorted by name.
std::vector<SphinxModel> findSphinxModels(const QString& root);
// Where Debian installs them, unless VISTRALE_SPEECH_MODELS names another folder.
QString sphinxModelRoot();

// The single words of the user's custom words: each entry split at blanks, empty
// pieces dropped, each word once (the first spelling kept), at most `limit` words.
QStringList customVocabulary(const QStringList& contextualStrings, int limit);

// Tuning levers of the decoder (the benchmark tries them).
struct SphinxTuning {
    // Weight of the custom words' own language model against the generic one.
    double customWeight = 0.1;
    // Another language model (ARPA or binary) interpolated with the generic one, and
    // its weight; none by default.
    QString extraLanguageModel;
    double extraWeight = 0.3;
    // Frames (10 ms) of silence that end an utterance.
    int silenceFrames = 50;
    // Language model weight and word insertion penalty; 0: the model's defaults.
    double languageWeight = 0;
    double wordPenalty = 0;
};

// Most custom words a decoder takes; more are left out with one log line.
constexpr int MAX_CUSTOM_WORDS = 500;

// A PocketSphinx decoder fed 16 kHz mono samples: partial results while speech goes
// on, a final result with word times once a pause ends the utterance. One thread at
// a time.
class SphinxDecoder {
public:
    // Loads the model (seconds) and adds the custom words: known ones are favoured
    // through a small language model of their own, unknown ones are added with a
    // pronunciation from letter-to-sound rules; a word that cannot be spelled is
    // logged once. Null with `error` when the model cannot be loaded.
    static std::unique_ptr<SphinxDecoder> load(
        const SphinxModel& model, const QStringList& customWords, const SphinxTuning& tuning, QString* error);
    ~SphinxDecoder();

    // Begins a new task: its audio starts at time 0.
    void start();
    // Feeds samples; a result when there is news (a changed partial text, or the final
    // result when a pause ended the utterance). After a final result, `start` again.
    std::optional<SpeechResult> process(const std::int16_t* samples, std::size_t count);
    // Ends the utterance now: the final result of what was heard (possibly empty).
    SpeechResult finish();
    // Seconds of audio fed since `start`, and whether speech goes on.
    double position() const { return static_cast<double>(fed) / SAMPLE_RATE; }
    bool inSpeech() const { return speaking; }
    // Seconds since the last speech ended (or since `start`).
    double silence() const { return position() - silenceSince; }
    // Seconds of the utterance that speech goes on in; 0 in silence.
    double speechLength() const
    {
        return speaking ? position() - static_cast<double>(utteranceStart) / SAMPLE_RATE : 0;
    }
    // In a long silence: drops what the decoder holds, keeping the task's time line.
    void discardSilence();
    // The words added to the dictionary and the ones that could not be.
    const QStringList& addedWords() const { return added; }

    static constexpr int SAMPLE_RATE = 16000;

private:
    SphinxDecoder() = default;
    SpeechResult finalResult();

    ps_decoder_s* decoder = nullptr;
    std::uint64_t fed = 0;
    // Samples fed since the decoder was made, and when `start` was called: the
    // decoder numbers frames from its making, not from each utterance.
    std::uint64_t total = 0;
    std::uint64_t totalAtStart = 0;
    bool speaking = false;
    // Between ps_start_utt and ps_end_utt.
    bool open = false;
    // Where the utterance's first frame lies in the task's audio, in samples.
    std::uint64_t utteranceStart = 0;
    double silenceSince = 0;
    QString lastPartial;
    QStringList added;
};

} // namespace vistrale
