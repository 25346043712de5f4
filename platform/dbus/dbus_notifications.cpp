#include "platform/dbus/dbus_notifications.h"

#include "platform/log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QRegularExpression>

namespace vistrale {

std::optional<QString> DBusNotifications::memberFor(const QString& name)
{
    const QString prefix = QString(INTERFACE) + ".";
    if (!name.startsWith(prefix))
        return std::nullopt;
    const QString member = name.mid(prefix.size());
    static const QRegularExpression valid("^[A-Za-z_][A-Za-z0-9_]{0,254}$");
    if (!valid.match(member).hasMatch())
        return std::nullopt;
    return member;
}

bool DBusNotifications::post(const QString& name, const QString& object)
{
    const std::optional<QString> member = memberFor(name);
    if (!member) {
        logLine("notification name not supported ", name);
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        logLine("session bus unreachable, notification not sent ", name);
        return false;
    }
    QDBusMessage signal = QDBusMessage::createSignal(PATH, INTERFACE, *member);
    signal << object;
    return bus.send(signal);
}

void DBusNotifications::observe(const QString& name, std::function<void(const QString&)> handler)
{
    const std::optional<QString> member = memberFor(name);
    if (!member) {
        logLine("notification name not supported ", name);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        logLine("session bus unreachable, not observing ", name);
        return;
    }
    if (handlers.count(*member) == 0)
        bus.connect(QString(), PATH, INTERFACE, *member, this, SLOT(received(QDBusMessage)));
    handlers.emplace(*member, std::move(handler));
}

void DBusNotifications::received(const QDBusMessage& message)
{
    // Any process on the bus may send: only a single text argument is accepted.
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() != 1 || arguments.first().typeId() != QMetaType::QString) {
        logLine("notification ignored, unexpected arguments ", message.member());
        return;
    }
    const QString object = arguments.first().toString();
    auto [first, last] = handlers.equal_range(message.member());
    for (auto it = first; it != last; ++it)
        it->second(object);
}

} // namespace vistrale
