#pragma once

#include <QObject>
#include <QStringList>

namespace vistrale {

class AppDelegate;

// The running application on the session bus ("com.quorvia.vistrale", object
// "/Application"): a second start hands its files over here. Nothing else is offered
// to the programs on the bus.
class InstanceService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorvia.vistrale.Application")
public:
    static constexpr const char* SERVICE = "com.quorvia.vistrale";
    static constexpr const char* OBJECT = "/Application";
    static constexpr const char* INTERFACE = "com.quorvia.vistrale.Application";

    explicit InstanceService(AppDelegate& delegate);

    // Whether another instance holds the service name now. Needs no platform, so a
    // second start can hand over before it loads anything.
    static bool anotherInstanceRuns();
    // Claims the service name. False when another instance holds it or there is no
    // session bus (then `busMissing` says which).
    bool registerOnBus(bool* busMissing);

    // Hands files to the instance that holds the name. False when none answers.
    static bool handOver(const QStringList& paths);

public slots:
    // Opens an existing regular file given by its absolute path; anything else is
    // refused with a log line.
    Q_SCRIPTABLE bool OpenFile(const QString& path);

private:
    AppDelegate& delegate;
};

} // namespace vistrale
