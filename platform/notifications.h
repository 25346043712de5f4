#pragma once

#include <QString>
#include <functional>

namespace vistrale {

// Notifications between processes of the user's session ("com.quorvia.vistrale.app"
// and the like), each carrying one text. Main thread only.
class DistributedNotifications {
public:
    virtual ~DistributedNotifications() = default;
    // Posts at once; false when the session bus cannot be reached.
    virtual bool post(const QString& name, const QString& object) = 0;
    // Calls `handler` with the object text of every notification of that name.
    virtual void observe(const QString& name, std::function<void(const QString& object)> handler) = 0;
};

// The system's audio devices. Main thread only.
class AudioDevices {
public:
    virtual ~AudioDevices() = default;
    // Name of the default input device; empty when there is none.
    virtual QString defaultInputName() = 0;
};

} // namespace vistrale
