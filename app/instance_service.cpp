#include "app/instance_service.h"

#include "app/app_delegate.h"
#include "platform/log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>

namespace vistrale {
namespace {

// Longer paths than the system's own limit cannot name a file.
constexpr int MAX_PATH_LENGTH = 4096;

} // namespace

InstanceService::InstanceService(AppDelegate& delegate)
    : delegate(delegate)
{
}

bool InstanceService::anotherInstanceRuns()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(SERVICE);
}

bool InstanceService::registerOnBus(bool* busMissing)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    *busMissing = !bus.isConnected();
    if (*busMissing)
        return false;
    if (!bus.registerService(SERVICE))
        return false;
    return bus.registerObject(OBJECT, this, QDBusConnection::ExportScriptableSlots);
}

bool InstanceService::handOver(const QStringList& paths)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(SERVICE))
        return false;
    for (const QString& path : paths) {
        QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, OBJECT, INTERFACE, "OpenFile");
        call << QFileInfo(path).absoluteFilePath();
        const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return false;
    }
    return true;
}

bool InstanceService::OpenFile(const QString& path)
{
    const QFileInfo file(path);
    if (path.size() > MAX_PATH_LENGTH || path.contains(QChar(0)) || !file.isAbsolute() || !file.isFile()) {
        logLine("open file refused, not an existing file: ", printableText(path));
        return false;
    }
    return delegate.openFile(path);
}

} // namespace vistrale
