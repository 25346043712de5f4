#pragma once

#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "platform/notifications.h"
#include "platform/permissions.h"
#include "platform/sounds.h"
#include "platform/system_actions.h"

#include <QStringList>
#include <deque>
#include <memory>
#include <vector>

namespace vistrale {

// Records every alert and answers from a script; an alert without a scripted answer
// is answered with the default button.
class FakeDialogs : public Dialogs {
public:
    void activateApplication() override { ++activations; }
    bool runAlert(const AlertSpec& alert) override;
    std::optional<QString> runTextAlert(const AlertSpec& alert, const QString& initial) override;
    std::optional<QString> runSavePanel(const SavePanelSpec& panel) override;
    std::vector<SavePanelSpec> savePanels;
    // The path the coming save panels answer; none = cancelled.
    std::optional<QString> savePath;
    std::optional<QString> runOpenPanel(const OpenPanelSpec& panel) override
    {
        openPanels.push_back(panel);
        return openPath;
    }
    std::vector<OpenPanelSpec> openPanels;
    // The path the coming open panels answer; none = cancelled.
    std::optional<QString> openPath;
    // Replays `pressedKeys` into the recorder, then answers like runAlert.
    bool runKeyRecorder(const AlertSpec& alert, const QString& initialLabel,
        std::function<std::optional<QString>(const RecordedKey& key)> onKey) override;

    std::vector<AlertSpec> shown;
    std::vector<QString> textFieldInitial;
    int activations = 0;
    // Answers for the coming alerts: true = the default button.
    std::deque<bool> answers;
    // Texts typed into the coming text alerts.
    std::deque<QString> typedTexts;
    // Keys the user presses in the next recorder, in order; that recorder uses them up.
    std::vector<RecordedKey> pressedKeys;
    // What the recorders' labels showed: the initial text, then each change.
    QStringList recorderLabels;
    // Records the alert like runAlert; answers from `choices` (the default button, 0,
    // when none is scripted).
    int runChoiceAlert(const AlertSpec& alert) override;
    std::deque<int> choices;
    // Called while an alert runs (modal), before it returns.
    std::function<void(const AlertSpec&)> whileShown;
};

class FakeSystemActions : public SystemActions {
public:
    bool openUrl(const QUrl& url) override
    {
        opened.push_back(url);
        return true;
    }
    void openSettingsPage(const QString& address) override { settingsPages.push_back(address); }

    std::vector<QUrl> opened;
    QStringList settingsPages;
};

class FakeSounds : public Sounds {
public:
    std::unique_ptr<Sound> load(const QString& name) override;
    // Names of the sounds played, in order.
    std::shared_ptr<QStringList> played = std::make_shared<QStringList>();
    QStringList available{"Funk", "Grab"};
};

class FakeNotifications : public DistributedNotifications {
public:
    bool post(const QString& name, const QString& object) override;
    void observe(const QString& name, std::function<void(const QString&)> handler) override;
    // Delivers a notification from another process.
    void deliver(const QString& name, const QString& object);

    std::vector<std::pair<QString, QString>> posted;
    bool busReachable = true;

private:
    std::vector<std::pair<QString, std::function<void(const QString&)>>> observers;
};

class FakeAudioDevices : public AudioDevices {
public:
    QString defaultInputName() override { return inputName; }
    QString inputName;
};

class FakeClipboard : public Clipboard {
public:
    void setImage(const QImage& image) override
    {
        picture = image;
        ++writes;
    }
    QImage image() const override { return picture; }
    std::optional<QString> text() const override { return plainText; }
    QImage picture;
    std::optional<QString> plainText;
    int writes = 0;
};

class FakePermissions : public Permissions {
public:
    bool screenCaptureAllowed() override { return allowed; }
    bool allowed = true;
};

} // namespace vistrale
