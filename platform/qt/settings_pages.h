#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace vistrale {

// Where a system-settings address ("x-apple.systempreferences:...?Privacy_Camera")
// lives on a Linux desktop: programs that open the page, tried in order, and a
// sentence that tells the user where to look when none is installed.
struct SettingsPage {
    struct Program {
        QString program;
        QStringList arguments;
    };
    QList<Program> programs;
    QString explanation;
};

// None for an address that is not a system-settings address.
std::optional<SettingsPage> settingsPageFor(const QString& address);

} // namespace vistrale
