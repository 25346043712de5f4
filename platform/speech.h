#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace vistrale {

// One recognised word (or word group) of a final result. Times in seconds from the
// moment the task was started.
struct SpeechSegment {
    double timestamp = 0;
    double duration = 0;
    QString substring;
};

// What a running task has heard so far.
struct SpeechResult {
    // The best transcription of the task's audio so far.
    QString text;
    // The task's last result: its audio has ended (a pause, or the task's time limit).
    bool isFinal = false;
    // Timed words; only final results carry them (partial results have none).
    std::vector<SpeechSegment> segments;
};

// A language the recogniser offers: a locale identifier with "-" separators ("en-US")
// and its name in US English ("English (United States)").
struct SpeechLanguage {
    QString identifier;
    QString name;
    // Recognised on this machine; otherwise only through an online service.
    bool onDevice = true;
};

// What one task listens for.
struct SpeechTaskOptions {
    QString locale;
    // Words and names the user expects ("customwords"): known ones are favoured,
    // unknown ones added where the engine can spell them.
    QStringList contextualStrings;
};

// One recognition task on the default audio input. The task ends by itself after
// its final result or an error; `stop` ends it early.
class SpeechTask {
public:
    // Stops as `stop`.
    virtual ~SpeechTask() = default;
    // Main thread. No result and no error is delivered after it returns. Never from
    // inside one of the task's own handlers.
    virtual void stop() = 0;
};

// Continuous speech recognition of the default audio input.
//
// Threads: every call belongs to the main thread. Results and errors of a task are
// delivered on the task's own thread, in order; a task delivers at most one final
// result or one error, and nothing after it. Handlers must return quickly and must not
// call into the service (post to the main thread instead).
class SpeechRecognition {
public:
    using ResultHandler = std::function<void(const SpeechResult& result)>;
    using ErrorHandler = std::function<void(const QString& error)>;

    virtual ~SpeechRecognition() = default;
    // Whether there is an audio input to listen to (the user's side of the
    // microphone permission); may ask the sound server (a few milliseconds).
    virtual bool microphoneAvailable() = 0;
    // The languages offered, on-device ones first, each group sorted by name.
    virtual std::vector<SpeechLanguage> supportedLanguages() = 0;
    // Whether `locale` names a language recognised on this machine.
    virtual bool supportsLocale(const QString& locale) = 0;
    // Starts a task; null with `error` set when the locale has no recogniser. An input
    // that cannot be opened may be reported so, or through `failed` (where opening
    // it could hold up the main thread). The caller owns the task.
    virtual std::unique_ptr<SpeechTask> startTask(
        const SpeechTaskOptions& options, ResultHandler results, ErrorHandler failed, QString* error)
        = 0;
};

} // namespace vistrale
