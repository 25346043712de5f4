#include "platform/sphinx/sphinx_speech.h"

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/pulse/pulse_audio_devices.h"
#include "platform/pulse/pulse_input.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace vistrale {

struct SphinxSpeechRecognition::Shared {
    // Held by a task's thread while it decodes: tasks use the decoder one after another.
    std::mutex lock;
    QString key;
    std::unique_ptr<SphinxDecoder> decoder;
};

namespace {

// Samples read at once: 64 ms, so that partial results and a stop come quickly.
constexpr int CHUNK_SAMPLES = 1024;

// One task's work, shared by its handle and its thread. The thread is not waited
// for: a stop only makes sure that nothing is delivered any more, so that a sound
// server that hangs while it goes away never holds up the main thread. The thread
// then ends by itself and frees what it used.
class TaskWork {
public:
    TaskWork(std::shared_ptr<SphinxSpeechRecognition::Shared> shared, SphinxModel model, QStringList words,
        SphinxTuning tuning, SpeechRecognition::ResultHandler results, SpeechRecognition::ErrorHandler failed)
        : shared(std::move(shared))
        , model(std::move(model))
        , words(std::move(words))
        , tuning(std::move(tuning))
        , results(std::move(results))
        , failed(std::move(failed))
        , started(hostClockNow())
    {
    }

    // Main thread. Once it returns, no handler runs again.
    void stop()
    {
        stopping = true;
        std::lock_guard guard(delivering);
    }

    void run()
    {
        // The default input at 16 kHz mono.
        QString error;
        PulseInput input;
        if (!input.open(SphinxDecoder::SAMPLE_RATE, 1, CHUNK_SAMPLES * sizeof(std::int16_t), "Live captions", &error)) {
            fail(error);
            return;
        }
        listen(input);
    }

private:
    void deliver(const SpeechResult& result)
    {
        std::lock_guard guard(delivering);
        if (!stopping)
            results(result);
    }
    void fail(const QString& error)
    {
        std::lock_guard guard(delivering);
        if (!stopping)
            failed(error);
    }

    void listen(PulseInput& input)
    {
        // Tasks use the decoder one after another.
        std::lock_guard guard(shared->lock);
        const QString key = model.identifier + "\n" + words.join('\n');
        if (!shared->decoder || shared->key != key) {
            shared->decoder.reset();
            QString error;
            shared->decoder = SphinxDecoder::load(model, words, tuning, &error);
            if (!shared->decoder) {
                fail(error);
                return;
            }
            shared->key = key;
        }
        SphinxDecoder& decoder = *shared->decoder;
        decoder.start();
        std::int16_t samples[CHUNK_SAMPLES];
        double capturedUntil = started;
        while (!stopping) {
            QString error;
            if (!input.read(samples, sizeof samples, &error, &capturedUntil)) {
                decoder.finish();
                fail(error);
                return;
            }
            if (std::optional<SpeechResult> result = decoder.process(samples, CHUNK_SAMPLES)) {
                deliver(result->isFinal ? onTaskClock(*result, decoder, capturedUntil) : *result);
                if (result->isFinal)
                    return;
            }
            if (decoder.speechLength() > SphinxSpeechRecognition::MAX_UTTERANCE_SECONDS) {
                deliver(onTaskClock(decoder.finish(), decoder, capturedUntil));
                return;
            }
            if (decoder.silence() > SphinxSpeechRecognition::MAX_UTTERANCE_SECONDS)
                decoder.discardSilence();
        }
        decoder.finish();
    }

    // Word times from the task's start on the host clock: each sample is placed by when
    // it arrived rather than by counting samples, which an idle (suspended) input or
    // the model's loading would put behind.
    SpeechResult onTaskClock(SpeechResult result, const SphinxDecoder& decoder, double capturedUntil) const
    {
        for (SpeechSegment& segment : result.segments)
            segment.timestamp
                = std::max(0.0, capturedUntil - (decoder.position() - segment.timestamp) - started);
        return result;
    }

    const std::shared_ptr<SphinxSpeechRecognition::Shared> shared;
    const SphinxModel model;
    const QStringList words;
    const SphinxTuning tuning;
    const SpeechRecognition::ResultHandler results;
    const SpeechRecognition::ErrorHandler failed;
    std::atomic<bool> stopping{false};
    // When the task was started (hostClockNow).
    const double started;
    // Held while a handler runs.
    std::mutex delivering;
};

class SphinxTask : public SpeechTask {
public:
    explicit SphinxTask(std::shared_ptr<TaskWork> work)
        : work(std::move(work))
    {
        std::thread([running = this->work] { running->run(); }).detach();
    }
    ~SphinxTask() override { stop(); }
    void stop() override { work->stop(); }

private:
    std::shared_ptr<TaskWork> work;
};

} // namespace

SphinxSpeechRecognition::SphinxSpeechRecognition(QString modelRoot, SphinxTuning tuning)
    : root(std::move(modelRoot))
    , tuning(std::move(tuning))
    , shared(std::make_shared<Shared>())
{
}

SphinxSpeechRecognition::~SphinxSpeechRecognition() = default;

bool SphinxSpeechRecognition::microphoneAvailable()
{
    return !PulseAudioDevices().defaultInputName().isEmpty();
}

std::vector<SpeechLanguage> SphinxSpeechRecognition::supportedLanguages()
{
    std::vector<SpeechLanguage> languages;
    for (const SphinxModel& model : findSphinxModels(root))
        languages.push_back({model.identifier, model.name, true});
    return languages;
}

bool SphinxSpeechRecognition::supportsLocale(const QString& locale)
{
    return modelFor(locale).has_value();
}

std::optional<SphinxModel> SphinxSpeechRecognition::modelFor(const QString& locale)
{
    for (const SphinxModel& model : findSphinxModels(root))
        if (model.identifier.compare(locale, Qt::CaseInsensitive) == 0)
            return model;
    return std::nullopt;
}

std::unique_ptr<SpeechTask> SphinxSpeechRecognition::startTask(
    const SpeechTaskOptions& options, ResultHandler results, ErrorHandler failed, QString* error)
{
    const std::optional<SphinxModel> model = modelFor(options.locale);
    if (!model) {
        *error = "no speech model for " + options.locale;
        return nullptr;
    }
    return std::make_unique<SphinxTask>(std::make_shared<TaskWork>(shared, *model,
        customVocabulary(options.contextualStrings, MAX_CUSTOM_WORDS), tuning, std::move(results), std::move(failed)));
}

} // namespace vistrale
