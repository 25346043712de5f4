#include "platform/qt/qt_system_actions.h"

#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/qt/settings_pages.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

namespace vistrale {

bool QtSystemActions::openUrl(const QUrl& url)
{
    if (!url.isValid()) {
        logLine("cannot open address ", url.toString());
        return false;
    }
    const bool opened = QDesktopServices::openUrl(url);
    if (!opened)
        logLine("cannot open address ", url.toString());
    return opened;
}

void QtSystemActions::openSettingsPage(const QString& address)
{
    const std::optional<SettingsPage> page = settingsPageFor(address);
    if (!page) {
        logLine("unknown settings page ", address);
        return;
    }
    for (const SettingsPage::Program& program : page->programs) {
        if (QStandardPaths::findExecutable(program.program).isEmpty())
            continue;
        if (QProcess::startDetached(program.program, program.arguments))
            return;
        logLine("cannot start ", program.program);
    }
    informationAlert(dialogs, QObject::tr("Settings"), page->explanation);
}

} // namespace vistrale
