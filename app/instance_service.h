#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

namespace vistrale {

class AppDelegate;

// The running application on the session bus ("com.quorvia.vistrale", object
// "/Application"): a second start hands its files over here, and scripts ask for the
// current output picture.
class InstanceService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorvia.vistrale.Application")
public:
    static constexpr const char* SERVICE = "com.quorvia.vistrale";
    static constexpr const char* OBJECT = "/Application";
    static constexpr const char* INTERFACE = "com.quorvia.vistrale.Application";

    explicit InstanceService(AppDelegate& delegate);

    // Claims the service name. False when another instance holds it or there is no
    // session bus (then `busMissing` says which).
    bool registerOnBus(bool* busMissing);

    // Hands files to the instance that holds the name. False when none answers.
    static bool handOver(const QStringList& paths);

public slots:
    Q_SCRIPTABLE bool OpenFile(const QString& path);
    // Writes the newest output picture as a PNG file; false when there is none yet or
    // the file cannot be written.
    Q_SCRIPTABLE bool WriteOutputPicture(const QString& path);
    // Output-frame figures as JSON: frames drawn so far and the last frame's drawing
    // time in milliseconds, wall and compositor-thread CPU (for benchmarks and
    // diagnostics).
    Q_SCRIPTABLE QString Statistics();
    // The text the menu item with that tag shows, after the menu's refresh rules ran.
    Q_SCRIPTABLE QString MenuItemTitle(int tag);

private:
    AppDelegate& delegate;
};

} // namespace vistrale
