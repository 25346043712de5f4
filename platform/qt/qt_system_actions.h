#pragma once

#include "platform/system_actions.h"

namespace vistrale {

class Dialogs;

// URLs through QDesktopServices; settings pages through the desktop's own settings
// program where one is installed that has the page, else an alert that says where the
// setting lives.
class QtSystemActions : public SystemActions {
public:
    explicit QtSystemActions(Dialogs& dialogs)
        : dialogs(dialogs)
    {
    }
    bool openUrl(const QUrl& url) override;
    void openSettingsPage(const QString& address) override;

private:
    Dialogs& dialogs;
};

} // namespace vistrale
