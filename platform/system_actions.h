#pragma once

#include <QString>
#include <QUrl>

namespace vistrale {

// Hand-offs to the desktop. Main thread only.
class SystemActions {
public:
    virtual ~SystemActions() = default;
    // Opens the URL with the desktop's default handler (browser, mail client, viewer).
    virtual bool openUrl(const QUrl& url) = 0;
    // Opens the desktop's settings page that matches a system-settings address
    // ("x-apple.systempreferences:..."); where the desktop has none, explains to the
    // user where that setting lives.
    virtual void openSettingsPage(const QString& address) = 0;
};

} // namespace vistrale
