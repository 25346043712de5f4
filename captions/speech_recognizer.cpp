#include "captions/speech_recognizer.h"

#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "captions/caption_messages.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <QLocale>
#include <algorithm>

namespace vistrale {

SpeechRecognizer::SpeechRecognizer(SpeechRecognition& engine, Clock& clock, Settings& settings)
    : engine(engine)
    , clock(clock)
    , settings(settings)
{
}

SpeechRecognizer::~SpeechRecognizer()
{
    *alive = false;
    stopSpeechNow();
}

QString SpeechRecognizer::localeIdentifier() const
{
    if (const std::optional<QString> locale = settings.text(keys::LOCALE))
        return *locale;
    return QLocale::system().name().replace('_', '-');
}

void SpeechRecognizer::startSpeech(bool granted, Callback handler)
{
    callback = std::move(handler);
    if (!granted) {
        callback(NEED_MICROPHONE_ACCESS, true);
        return;
    }
    // Speech recognition needs no authorisation of its own here.
    started = true;
    startedTime = clock.now();
    offsetTime = 0;
    lastResult.clear();
    fullText.clear();
    startRecognition();
}

void SpeechRecognizer::startRecognition()
{
    const QString identifier = localeIdentifier();
    if (!engine.supportsLocale(identifier)) {
        logLine("couldnt get recognizer", printableText(identifier, 80));
        callback(RECOGNIZER_COULD_NOT_START, true);
        return;
    }
    onDevice = true;
    logLine("recognizer.supportsOnDeviceRecognition=", onDevice);
    SpeechTaskOptions options;
    options.locale = identifier;
    if (const std::optional<QString> words = settings.text(keys::CUSTOM_WORDS))
        options.contextualStrings = words->split(',');
    const quint64 task = ++taskNumber;
    std::weak_ptr<bool> token = alive;
    QString error;
    recognitionTask = engine.startTask(
        options,
        [this, token, task](const SpeechResult& result) {
            clock.postToMain([this, token, task, result] {
                if (!token.expired())
                    resultArrived(task, result);
            });
        },
        [this, token, task](const QString& failure) {
            clock.postToMain([this, token, task, failure] {
                if (!token.expired())
                    errorArrived(task, failure);
            });
        },
        &error);
    if (!recognitionTask) {
        logLine("not available", printableText(identifier, 80), error);
        callback(RECOGNIZER_COULD_NOT_START, true);
    }
}

void SpeechRecognizer::resultArrived(quint64 task, const SpeechResult& result)
{
    if (task != taskNumber || !recognitionTask)
        return;
    lastResult = result.text;
    // Only final results carry word times.
    const bool timing = std::any_of(result.segments.begin(), result.segments.end(), [](const SpeechSegment& segment) {
        return segment.timestamp > 0;
    }) || (result.isFinal && !result.segments.empty());
    std::vector<Utter> newUtters;
    if (!timing) {
        if (!startSentence)
            startSentence = clock.now();
    } else {
        startSentence.reset();
        if (onDevice) {
            fullText += lastResult + ". ";
            lastResult.clear();
        }
        for (const SpeechSegment& segment : result.segments)
            newUtters.push_back({segment.timestamp + offsetTime + startedTime, segment.duration, segment.substring});
        if (viewController && viewController->collectingUtterances())
            viewController->appendUtterances(newUtters);
    }
    trimText();
    callback(fullText + lastResult, false);

    if (!result.isFinal)
        return;
    logLine("final so calling stopspeechnow");
    stopSpeechNow();
    if (started) {
        fullText += " " + lastResult;
        if (!utters.empty())
            utters.back().substring += " ";
        utters.insert(utters.end(), newUtters.begin(), newUtters.end());
        if (utters.size() > MAX_UTTERS)
            utters.erase(utters.begin(), utters.begin() + static_cast<long>(utters.size() - MAX_UTTERS));
        lastResult.clear();
        offsetTime = clock.now() - startedTime;
        startRecognition();
    } else {
        callback(QString(), false);
    }
}

void SpeechRecognizer::errorArrived(quint64 task, const QString& error)
{
    if (task != taskNumber || !recognitionTask)
        return;
    logLine("error so calling stopSpeechNow", error);
    stopSpeechNow();
}

void SpeechRecognizer::stopSpeech(bool clear)
{
    if (clear) {
        fullText.clear();
        utters.clear();
    } else {
        fullText += " " + lastResult;
    }
    lastResult.clear();
    if (started)
        stopSpeechNow();
    started = false;
}

void SpeechRecognizer::stopSpeechNow()
{
    if (recognitionTask) {
        recognitionTask->stop();
        recognitionTask.reset();
    }
}

void SpeechRecognizer::trimText()
{
    if (fullText.size() <= MAX_TEXT)
        return;
    const int cut = fullText.indexOf(' ', static_cast<int>(fullText.size()) - MAX_TEXT);
    fullText = fullText.mid(cut < 0 ? static_cast<int>(fullText.size()) - MAX_TEXT : cut + 1);
}

} // namespace vistrale
