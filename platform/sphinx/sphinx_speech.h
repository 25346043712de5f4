#pragma once

#include "platform/speech.h"
#include "platform/sphinx/sphinx_decoder.h"

#include <memory>
#include <mutex>

namespace vistrale {

// Speech recognition with PocketSphinx on the PulseAudio server's default input
// (PipeWire serves the same protocol), read as 16 kHz mono. Each task connects, reads
// and decodes on a thread of its own (a missing input is reported through `failed`),
// which a stop does not wait for until its utterance ends: a pause
// after speech, or MAX_UTTERANCE_SECONDS of speech without one. Long silence costs nothing and keeps nothing. The
// decoder (seconds to load) is kept for the next task with the same language and words, and loaded on the task's thread
// while the input is buffered.
class SphinxSpeechRecognition : public SpeechRecognition {
public:
    explicit SphinxSpeechRecognition(QString modelRoot = sphinxModelRoot(), SphinxTuning tuning = {});
    ~SphinxSpeechRecognition() override;

    bool microphoneAvailable() override;
    std::vector<SpeechLanguage> supportedLanguages() override;
    bool supportsLocale(const QString& locale) override;
    std::unique_ptr<SpeechTask> startTask(
        const SpeechTaskOptions& options, ResultHandler results, ErrorHandler failed, QString* error) override;

    static constexpr double MAX_UTTERANCE_SECONDS = 30.0;

    // The decoder shared by the tasks one after another, for a language and its words.
    struct Shared;

private:
    std::optional<SphinxModel> modelFor(const QString& locale);

    QString root;
    SphinxTuning tuning;
    std::shared_ptr<Shared> shared;
};

} // namespace vistrale
