#include "platform/fake/fake_speech.h"

namespace vistrale {
namespace {

class FakeTask : public SpeechTask {
public:
    explicit FakeTask(std::shared_ptr<FakeSpeechRecognition::Task> task)
        : task(std::move(task))
    {
    }
    ~FakeTask() override { stop(); }
    void stop() override { task->stopped = true; }

private:
    std::shared_ptr<FakeSpeechRecognition::Task> task;
};

} // namespace

void FakeSpeechRecognition::Task::deliver(const SpeechResult& result) const
{
    if (!stopped && results)
        results(result);
}

void FakeSpeechRecognition::Task::fail(const QString& error) const
{
    if (!stopped && failed)
        failed(error);
}

FakeSpeechRecognition::FakeSpeechRecognition()
    : languages{{"en-US", "English (United States)", true}}
{
}

bool FakeSpeechRecognition::supportsLocale(const QString& locale)
{
    for (const SpeechLanguage& language : languages)
        if (language.onDevice && language.identifier.compare(locale, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

std::unique_ptr<SpeechTask> FakeSpeechRecognition::startTask(
    const SpeechTaskOptions& options, ResultHandler results, ErrorHandler failed, QString* error)
{
    if (!supportsLocale(options.locale)) {
        *error = "no model for " + options.locale;
        return nullptr;
    }
    if (!startError.isEmpty()) {
        *error = startError;
        return nullptr;
    }
    auto task = std::make_shared<Task>();
    task->options = options;
    task->results = std::move(results);
    task->failed = std::move(failed);
    tasks.push_back(task);
    return std::make_unique<FakeTask>(task);
}

FakeSpeechRecognition::Task* FakeSpeechRecognition::running() const
{
    if (tasks.empty() || tasks.back()->stopped)
        return nullptr;
    return tasks.back().get();
}

} // namespace vistrale
