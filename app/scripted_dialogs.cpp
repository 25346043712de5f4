#include "app/scripted_dialogs.h"

#include "platform/log.h"

namespace vistrale {

ScriptedDialogs::ScriptedDialogs(std::unique_ptr<Dialogs> real)
    : real(std::move(real))
{
}

void ScriptedDialogs::answerNext(const QString& message, const QString& answer)
{
    answers[message].append(answer);
}

std::optional<QString> ScriptedDialogs::take(const QString& message, const QString& detail)
{
    auto found = answers.find(message);
    if (found == answers.end() || found->isEmpty())
        return std::nullopt;
    QString answer = found->takeFirst();
    logLine("scripted answer", printableText(message + " | " + detail + " -> " + answer));
    return answer;
}

int ScriptedDialogs::buttonIndex(const AlertSpec& alert, const QString& answer)
{
    QStringList buttons{alert.defaultButton};
    if (alert.secondButton)
        buttons.append(*alert.secondButton);
    buttons.append(alert.moreButtons);
    const qsizetype index = buttons.indexOf(answer);
    return static_cast<int>(index < 0 ? buttons.size() - 1 : index);
}

void ScriptedDialogs::activateApplication()
{
    real->activateApplication();
}

bool ScriptedDialogs::runAlert(const AlertSpec& alert)
{
    if (const std::optional<QString> answer = take(alert.message, alert.informative))
        return buttonIndex(alert, *answer) == 0;
    return real->runAlert(alert);
}

std::optional<QString> ScriptedDialogs::runTextAlert(const AlertSpec& alert, const QString& initial)
{
    return real->runTextAlert(alert, initial);
}

std::optional<QString> ScriptedDialogs::runSavePanel(const SavePanelSpec& panel)
{
    if (const std::optional<QString> answer = take(panel.title, panel.directory + "/" + panel.proposedName))
        return answer->isEmpty() ? std::nullopt : answer;
    return real->runSavePanel(panel);
}

std::optional<QString> ScriptedDialogs::runOpenPanel(const OpenPanelSpec& panel)
{
    return real->runOpenPanel(panel);
}

bool ScriptedDialogs::runKeyRecorder(const AlertSpec& alert, const QString& initialLabel,
    std::function<std::optional<QString>(const RecordedKey& key)> onKey)
{
    return real->runKeyRecorder(alert, initialLabel, std::move(onKey));
}

int ScriptedDialogs::runChoiceAlert(const AlertSpec& alert)
{
    if (const std::optional<QString> answer = take(alert.message, alert.informative))
        return buttonIndex(alert, *answer);
    return real->runChoiceAlert(alert);
}

} // namespace vistrale
