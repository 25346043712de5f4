#pragma once

#include "captions/subrip.h"
#include "platform/speech.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vistrale {

class Clock;
class Settings;

// Where recognised utterances go while a recording collects them (the captions'
// owner).
class UtteranceCollector {
public:
    virtual ~UtteranceCollector() = default;
    // While recording or waiting for a recording's last transcript.
    virtual bool collectingUtterances() const = 0;
    // Appends one task's utterances; the last stored one first gets a ".".
    virtual void appendUtterances(const std::vector<Utter>& utters) = 0;
};

// Turns the default audio input into running caption text and timed utterances. The
// engine ends a task after each final result; the recogniser starts the next one at
// once while captions run, keeping a time offset so that utterance times continue
// across tasks. Main thread only: the engine's results are moved to the main thread.
class SpeechRecognizer {
public:
    // (text, isError): the whole running transcript, or an error message.
    using Callback = std::function<void(const QString& text, bool isError)>;

    SpeechRecognizer(SpeechRecognition& engine, Clock& clock, Settings& settings);
    ~SpeechRecognizer();
    SpeechRecognizer(const SpeechRecognizer&) = delete;
    SpeechRecognizer& operator=(const SpeechRecognizer&) = delete;

    void startSpeech(bool granted, Callback callback);
    // With `clear` the text and utterances are dropped; without, the pending partial
    // text joins `fullText`.
    void stopSpeech(bool clear);
    // Stops the running task without touching text or flags.
    void stopSpeechNow();
    // The languages for the caption menu, on-device ones first.
    std::vector<SpeechLanguage> supportedLanguages() { return engine.supportedLanguages(); }
    // "locale", else the current locale's identifier with "_" written "-".
    QString localeIdentifier() const;

    // Receives utterances while recording; none by default.
    UtteranceCollector* viewController = nullptr;

    // State, by the design's names. Times are Clock::now() seconds.
    bool started = false;
    QString fullText;
    std::vector<Utter> utters;
    QString lastResult;
    double startedTime = 0;
    double offsetTime = 0;
    std::optional<double> startSentence;

    // The transcript kept for the box: older text is dropped beyond this many
    // characters (at a word), and older utterances beyond MAX_UTTERS.
    static constexpr int MAX_TEXT = 2000;
    static constexpr std::size_t MAX_UTTERS = 20000;

private:
    void startRecognition();
    void resultArrived(quint64 task, const SpeechResult& result);
    void errorArrived(quint64 task, const QString& error);
    void trimText();

    SpeechRecognition& engine;
    Clock& clock;
    Settings& settings;
    Callback callback;
    std::unique_ptr<SpeechTask> recognitionTask;
    // Counts tasks, so that a result posted by a stopped task is dropped.
    quint64 taskNumber = 0;
    bool onDevice = true;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace vistrale
