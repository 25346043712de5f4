#pragma once

#include "platform/speech.h"

#include <memory>
#include <vector>

namespace vistrale {

// Speech recognition in memory: the test says which languages exist and hands each
// running task its results (on the test's thread, which stands in for the task's).
class FakeSpeechRecognition : public SpeechRecognition {
public:
    // One task's life, kept after the task is gone.
    struct Task {
        SpeechTaskOptions options;
        ResultHandler results;
        ErrorHandler failed;
        bool stopped = false;
        // Delivers as the engine would; nothing once the task was stopped.
        void deliver(const SpeechResult& result) const;
        void fail(const QString& error) const;
    };

    FakeSpeechRecognition();

    bool microphoneAvailable() override { return microphone; }
    std::vector<SpeechLanguage> supportedLanguages() override { return languages; }
    bool supportsLocale(const QString& locale) override;
    std::unique_ptr<SpeechTask> startTask(
        const SpeechTaskOptions& options, ResultHandler results, ErrorHandler failed, QString* error) override;

    // Set by the test. English (United States) on the device by default.
    std::vector<SpeechLanguage> languages;
    bool microphone = true;
    // A refusal to start (the input cannot be opened).
    QString startError;

    std::vector<std::shared_ptr<Task>> tasks;
    // The newest task still running; null when none runs.
    Task* running() const;
};

} // namespace vistrale
