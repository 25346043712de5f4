#pragma once

#include "captions/caption_box.h"
#include "captions/speech_recognizer.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace vistrale {

struct Platform;
class SceneLayer;
class Settings;

// Live captions in the output: the caption box, the recogniser behind it, the
// caption commands (on/off, language, custom words, number of lines) and the
// utterances collected for a recording's transcript. Main thread only.
class Captions : public UtteranceCollector {
public:
    // The box goes into `content` (the share window's scene root); `boxChanged` hears
    // of every new box (the controller keeps it as `speechScrollView`).
    Captions(Platform& platform, Settings& settings, SceneLayer& content, double outputWidth,
        std::function<void(const std::shared_ptr<SceneLayer>&)> boxChanged = {});
    ~Captions() override;
    Captions(const Captions&) = delete;
    Captions& operator=(const Captions&) = delete;

    // The preview's caption button: stops and clears running captions, else starts them.
    void ccToggled();
    void startCaptions();
    void stopCaptions(bool clear);
    bool running() const { return speechRecognizer->started; }
    // A language of the caption menu becomes "locale"; running captions restart.
    void selectLocale(const QString& identifier);
    // The custom-words dialog; a changed list restarts running captions.
    void customWords();
    // "speech-lines" = n; the box is built anew with its text.
    void setSpeechLines(int n);
    // A new output width: the box is built anew for it, with its text.
    void setOutputWidth(double width);
    // The languages for the caption menu, on-device ones first.
    std::vector<SpeechLanguage> supportedLanguages() { return speechRecognizer->supportedLanguages(); }
    // The language in use: "locale", else the user's locale.
    QString currentLanguage() const { return speechRecognizer->localeIdentifier(); }

    // --- Recordings ---
    // A recording starts: the collected utterances are dropped.
    void recordingStarted();
    // It stops: the last result is awaited when captions run.
    void recordingStopped();
    // The SubRip text of the recording between `start` and `end` (Clock::now()
    // seconds), handed to `done` on the main thread: after TRANSCRIPT_WAIT seconds when
    // utterances were collected or the last result is awaited, at once otherwise.
    void transcriptFor(double start, double end, std::function<void(const QString& subRip)> done);
    static constexpr double TRANSCRIPT_WAIT = 7.0;
    static constexpr double RESTART_DELAY = 1.0;

    // UtteranceCollector
    bool collectingUtterances() const override { return recording || waitingForLastTranscript; }
    void appendUtterances(const std::vector<Utter>& utters) override;

    // State, by the design's names.
    const std::shared_ptr<SceneLayer>& speechScrollView() const { return box->view(); }
    const std::shared_ptr<SceneLayer>& speechLayer() const { return box->textLayer(); }
    const QString& lastSpeechString() const { return box->text(); }
    int speechVisibleLines = 3;
    std::vector<Utter> utterRecording;
    bool waitingForLastTranscript = false;
    bool recording = false;
    SpeechRecognizer& recognizer() { return *speechRecognizer; }

private:
    void makeCaptionView();
    void setCaptionText(const QString& text);
    void captionCallback(const QString& text, bool isError);
    void restartLater();
    void showMicrophoneAlert();

    Platform& platform;
    Settings& settings;
    SceneLayer& content;
    double outputWidth;
    std::function<void(const std::shared_ptr<SceneLayer>&)> boxChanged;
    std::unique_ptr<SpeechRecognizer> speechRecognizer;
    std::unique_ptr<CaptionBox> box;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

// "speech-lines" when it is 1 or more (3 at most), otherwise 3.
int visibleLinesSetting(qint64 stored);

} // namespace vistrale
