#include "app/instance_service.h"

#include "app/app_delegate.h"
#include "platform/log.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>

namespace vistrale {

InstanceService::InstanceService(AppDelegate& delegate)
    : delegate(delegate)
{
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
    return delegate.openFile(path);
}

bool InstanceService::WriteOutputPicture(const QString& path)
{
    VistraleViewController* vc = delegate.vc();
    if (!vc)
        return false;
    const FrameRef frame = vc->lastCapturedFrame().surface;
    if (!frame) {
        logLine("no output picture yet");
        return false;
    }
    if (!path.endsWith(".png", Qt::CaseInsensitive) || !QFileInfo(path).isAbsolute()) {
        logLine("output picture needs an absolute .png path: ", path);
        return false;
    }
    if (!frame->image.save(path, "PNG")) {
        logLine("cannot write output picture ", path);
        return false;
    }
    return true;
}

QString InstanceService::Statistics()
{
    VistraleViewController* vc = delegate.vc();
    if (!vc)
        return "{}";
    return QString(R"({"framesDrawn":%1,"lastDrawMilliseconds":%2,"lastDrawCpuMilliseconds":%3,"shared":%4})")
        .arg(vc->compositor().framesDrawn())
        .arg(vc->compositor().lastDrawMilliseconds(), 0, 'f', 3)
        .arg(vc->compositor().lastDrawCpuMilliseconds(), 0, 'f', 3)
        .arg(vc->sharedCount());
}

QString InstanceService::MenuItemTitle(int tag)
{
    StatusMenu* menu = delegate.statusMenu();
    if (!menu)
        return {};
    menu->refresh();
    QAction* item = menu->itemWithTag(tag);
    return item ? item->text() : QString();
}

} // namespace vistrale
