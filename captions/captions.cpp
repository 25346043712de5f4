#include "captions/captions.h"

#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "captions/caption_messages.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/speech.h"
#include "preview/scene.h"

#include <QCoreApplication>

namespace vistrale {
namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Captions", text);
}

} // namespace

int visibleLinesSetting(qint64 stored)
{
    return stored >= 1 ? static_cast<int>(std::min<qint64>(stored, 3)) : 3;
}

Captions::Captions(Platform& platform, Settings& settings, SceneLayer& content, double outputWidth,
    std::function<void(const std::shared_ptr<SceneLayer>&)> boxChanged)
    : platform(platform)
    , settings(settings)
    , content(content)
    , outputWidth(outputWidth)
    , boxChanged(std::move(boxChanged))
    , speechRecognizer(std::make_unique<SpeechRecognizer>(*platform.speech, *platform.clock, settings))
{
    speechRecognizer->viewController = this;
    speechVisibleLines = visibleLinesSetting(settings.integer(keys::SPEECH_LINES));
    makeCaptionView();
}

Captions::~Captions()
{
    *alive = false;
    speechRecognizer.reset();
    box.reset();
}

void Captions::makeCaptionView()
{
    const QString text = box ? box->text() : QString();
    box = std::make_unique<CaptionBox>(outputWidth, speechVisibleLines);
    box->setCaptionText(text);
    content.addChild(box->view());
    if (boxChanged)
        boxChanged(box->view());
}

void Captions::setCaptionText(const QString& text)
{
    box->setCaptionText(text);
}

void Captions::ccToggled()
{
    if (running())
        stopCaptions(true);
    else
        startCaptions();
}

void Captions::startCaptions()
{
    box->view()->setHidden(false);
    setCaptionText(QString());
    const bool granted = platform.speech->microphoneAvailable();
    if (!granted) {
        // The input is missing: the same path as a refused microphone.
        stopCaptions(true);
        showMicrophoneAlert();
        return;
    }
    std::weak_ptr<bool> token = alive;
    speechRecognizer->startSpeech(granted, [this, token](const QString& text, bool isError) {
        if (!token.expired())
            captionCallback(text, isError);
    });
}

void Captions::stopCaptions(bool clear)
{
    speechRecognizer->stopSpeech(clear);
    if (clear) {
        setCaptionText(QString());
        box->view()->setHidden(true);
    }
}

void Captions::captionCallback(const QString& text, bool isError)
{
    if (!isError) {
        setCaptionText(text);
        return;
    }
    stopCaptions(true);
    // Alerts are modal: they run after the step that reported the error.
    std::weak_ptr<bool> token = alive;
    platform.clock->after(0, [this, token, text] {
        if (token.expired())
            return;
        if (text == RECOGNIZER_COULD_NOT_START)
            informationAlert(*platform.dialogs, "Vistrale", tr(RECOGNIZER_COULD_NOT_START));
        else if (text == NEED_MICROPHONE_ACCESS)
            showMicrophoneAlert();
    });
}

void Captions::showMicrophoneAlert()
{
    if (confirmationDialog(*platform.dialogs, tr("Info"), tr("Speech recognition needs microphone access"),
            tr("Open Audio Preferences"), tr("Cancel")))
        platform.systemActions->openSettingsPage(
            "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone");
}

void Captions::restartLater()
{
    if (!running())
        return;
    stopCaptions(false);
    std::weak_ptr<bool> token = alive;
    platform.clock->after(RESTART_DELAY, [this, token] {
        if (!token.expired())
            startCaptions();
    });
}

void Captions::selectLocale(const QString& identifier)
{
    settings.setText(keys::LOCALE, identifier);
    restartLater();
}

void Captions::customWords()
{
    const QString current = settings.text(keys::CUSTOM_WORDS).value_or(QString());
    const AlertSpec alert{tr("Closed Captions"), tr("Enter words separated by ,"), tr("OK"), tr("Cancel")};
    const std::optional<QString> words = platform.dialogs->runTextAlert(alert, current);
    if (!words || *words == current)
        return;
    settings.setText(keys::CUSTOM_WORDS, *words);
    restartLater();
}

void Captions::setSpeechLines(int n)
{
    settings.setInteger(keys::SPEECH_LINES, n);
    speechVisibleLines = visibleLinesSetting(n);
    makeCaptionView();
    box->view()->setHidden(!running());
}

void Captions::setOutputWidth(double width)
{
    outputWidth = width;
    makeCaptionView();
    box->view()->setHidden(!running());
}

void Captions::recordingStarted()
{
    utterRecording.clear();
    recording = true;
}

void Captions::recordingStopped()
{
    recording = false;
    waitingForLastTranscript = running();
}

void Captions::appendUtterances(const std::vector<Utter>& utters)
{
    if (!utterRecording.empty())
        utterRecording.back().substring += ".";
    utterRecording.insert(utterRecording.end(), utters.begin(), utters.end());
}

void Captions::transcriptFor(double start, double end, std::function<void(const QString& subRip)> done)
{
    auto finish = [this, start, end, done = std::move(done)] {
        waitingForLastTranscript = false;
        done(subRip(utterRecording, start, end));
    };
    if (utterRecording.empty() && !waitingForLastTranscript) {
        finish();
        return;
    }
    std::weak_ptr<bool> token = alive;
    platform.clock->after(TRANSCRIPT_WAIT, [token, finish] {
        if (!token.expired())
            finish();
    });
}

} // namespace vistrale
