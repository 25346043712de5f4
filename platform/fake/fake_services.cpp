#include "platform/fake/fake_services.h"

namespace vistrale {

bool FakeDialogs::runAlert(const AlertSpec& alert)
{
    shown.push_back(alert);
    if (whileShown)
        whileShown(alert);
    if (answers.empty())
        return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

std::optional<QString> FakeDialogs::runTextAlert(const AlertSpec& alert, const QString& initial)
{
    textFieldInitial.push_back(initial);
    if (!runAlert(alert))
        return std::nullopt;
    if (typedTexts.empty())
        return initial;
    QString text = typedTexts.front();
    typedTexts.pop_front();
    return text;
}

bool FakeDialogs::runKeyRecorder(const AlertSpec& alert, const QString& initialLabel,
    std::function<std::optional<QString>(const RecordedKey& key)> onKey)
{
    recorderLabels.append(initialLabel);
    std::vector<RecordedKey> keys;
    keys.swap(pressedKeys);
    for (const RecordedKey& key : keys) {
        if (const std::optional<QString> label = onKey(key))
            recorderLabels.append(*label);
    }
    return runAlert(alert);
}

int FakeDialogs::runChoiceAlert(const AlertSpec& alert)
{
    shown.push_back(alert);
    if (whileShown)
        whileShown(alert);
    if (choices.empty())
        return 0;
    const int choice = choices.front();
    choices.pop_front();
    return choice;
}

std::optional<QString> FakeDialogs::runSavePanel(const SavePanelSpec& panel)
{
    savePanels.push_back(panel);
    return savePath;
}

namespace {

class FakeSound : public Sound {
public:
    FakeSound(QString name, std::shared_ptr<QStringList> played)
        : name(std::move(name))
        , played(std::move(played))
    {
    }
    bool isPlaying() const override { return playing; }
    void stop() override { playing = false; }
    void play() override
    {
        playing = true;
        played->append(name);
    }

private:
    QString name;
    std::shared_ptr<QStringList> played;
    bool playing = false;
};

} // namespace

std::unique_ptr<Sound> FakeSounds::load(const QString& name)
{
    if (!available.contains(name))
        return nullptr;
    return std::make_unique<FakeSound>(name, played);
}

bool FakeNotifications::post(const QString& name, const QString& object)
{
    if (!busReachable)
        return false;
    posted.emplace_back(name, object);
    return true;
}

void FakeNotifications::observe(const QString& name, std::function<void(const QString&)> handler)
{
    observers.emplace_back(name, std::move(handler));
}

void FakeNotifications::deliver(const QString& name, const QString& object)
{
    for (const auto& [observed, handler] : observers)
        if (observed == name)
            handler(object);
}

} // namespace vistrale
