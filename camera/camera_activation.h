#pragma once

#include "platform/dialogs.h"
#include "platform/privileged_runner.h"

#include <QString>
#include <functional>
#include <memory>
#include <sys/types.h>

namespace vistrale {

// Where the camera set-up finds its helper and the kernel's facts; tests point them at
// made-up ones.
struct CameraSetupPaths {
    // Absolute path of vistrale-camera-setup.
    QString helper;
    // sysfs, where the loaded module's version and devices are read.
    QString sysRoot = QStringLiteral("/sys");
    // modinfo, asked for the available module's version.
    QString modinfo = QStringLiteral("/sbin/modinfo");
    // Besides root, the one user who may own the helper and the folders above it.
    uid_t helperOwner = 0;
};

// The helper where an installed Vistrale keeps it (libexec/vistrale beside the
// executable's bin folder), else the one VISTRALE_CAMERA_SETUP names, else the one
// beside the running executable (a build tree); the real /sys and modinfo. Whichever
// it is, it runs only when root owns it and its folders.
CameraSetupPaths defaultCameraSetupPaths();

// Whether modinfo finds a v4l2loopback module to load (activation can succeed).
bool loopbackModuleAvailable(const QString& modinfo = CameraSetupPaths().modinfo);

// Results of a finished request, as the log line "Request finished with result: " shows them.
inline constexpr int REQUEST_COMPLETED = 0;
inline constexpr int REQUEST_WILL_COMPLETE_AFTER_REBOOT = 1;

// Installs and removes the v4l2loopback device "Vistrale Camera": runs the set-up helper
// as the administrator and tells the user the outcome. Activation also makes the device
// load at every boot, as an installed camera does; deactivation removes that again.
// Main thread only. One request runs at a time.
class CameraActivation {
public:
    CameraActivation(PrivilegedRunner& runner, Dialogs& dialogs, CameraSetupPaths paths = defaultCameraSetupPaths());
    ~CameraActivation();

    // Submits an activation request; the outcome arrives later as an alert.
    void activation();
    // Submits a deactivation request; the outcome arrives later as an alert.
    void deactivation();
    // True while a request waits for the administrator or the helper.
    bool requestRunning() const { return running; }

    // True from an activation request until its successful outcome (it stays true
    // after a failure); false for a deactivation. Decides the outcome's texts.
    bool activating = false;
    // Called after a request finished successfully (after its alert), so that the
    // camera can look for the device again.
    std::function<void()> finished;

private:
    // The helper's resolved path; empty (with the log line) when the helper is
    // missing, and also (with an alert) when others than root could change it.
    QString helperPath() const;
    void logReplacement() const;
    void submit(const QStringList& argv);
    void handle(const PrivilegedResult& result);
    void requestFinished(int result);
    void requestFailed(const QString& error);

    PrivilegedRunner& runner;
    Dialogs& dialogs;
    CameraSetupPaths paths;
    bool running = false;
    // Cleared on destruction, so that a run ending later finds nobody to tell.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace vistrale
