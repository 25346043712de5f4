#pragma once

#include "platform/notifications.h"

#include <QDBusMessage>
#include <QObject>
#include <map>
#include <optional>

namespace vistrale {

// Distributed notifications as signals on the session bus: the name
// "com.quorvia.vistrale.app" is the signal "app" of the interface
// "com.quorvia.vistrale" on the path "/com/quorvia/vistrale", with the object text as
// its one argument.
class DBusNotifications : public QObject, public DistributedNotifications {
    Q_OBJECT
public:
    static constexpr const char* PATH = "/com/quorvia/vistrale";
    static constexpr const char* INTERFACE = "com.quorvia.vistrale";

    bool post(const QString& name, const QString& object) override;
    void observe(const QString& name, std::function<void(const QString&)> handler) override;

    // The interface and member a notification name travels as; none for a name outside
    // the application's interface.
    static std::optional<QString> memberFor(const QString& name);

private slots:
    void received(const QDBusMessage& message);

private:
    std::multimap<QString, std::function<void(const QString&)>> handlers;
};

} // namespace vistrale
