#pragma once

#include "platform/dialogs.h"

#include <QHash>
#include <QStringList>
#include <memory>

namespace vistrale {

// Dialogs that answer from a script where one is given, for tests and the demo driving
// the application without a person: an alert whose message has a scripted answer (a
// button's text) or a save panel whose title has one (a path) returns it at once,
// without being shown; everything else goes to the real dialogs. Each answer is used
// once. Only installed when the diagnostics interface is offered. Main thread.
class ScriptedDialogs : public Dialogs {
public:
    explicit ScriptedDialogs(std::unique_ptr<Dialogs> real);

    // The next dialog with this message (or save panel with this title) answers `answer`.
    void answerNext(const QString& message, const QString& answer);

    void activateApplication() override;
    bool runAlert(const AlertSpec& alert) override;
    std::optional<QString> runTextAlert(const AlertSpec& alert, const QString& initial) override;
    std::optional<QString> runSavePanel(const SavePanelSpec& panel) override;
    std::optional<QString> runOpenPanel(const OpenPanelSpec& panel) override;
    bool runKeyRecorder(const AlertSpec& alert, const QString& initialLabel,
        std::function<std::optional<QString>(const RecordedKey& key)> onKey) override;
    int runChoiceAlert(const AlertSpec& alert) override;

private:
    // The next answer for `message`, logged with `detail` (what the dialog said).
    std::optional<QString> take(const QString& message, const QString& detail);
    // The index of `answer` among the alert's buttons; the last button when none matches.
    static int buttonIndex(const AlertSpec& alert, const QString& answer);

    std::unique_ptr<Dialogs> real;
    QHash<QString, QStringList> answers;
};

} // namespace vistrale
