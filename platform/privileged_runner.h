#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace vistrale {

// How one program run as the administrator ended.
struct PrivilegedResult {
    // False when the privilege tool itself could not be started; `errorText` says why.
    bool started = false;
    // The program's exit status, or the privilege tool's own status when it refused:
    // PRIVILEGE_DISMISSED or PRIVILEGE_REFUSED. -1 when it crashed.
    int exitStatus = -1;
    // What the run wrote to its error output (trimmed), or why it could not start.
    QString errorText;
};

// The user closed the authentication dialog without authenticating (pkexec's 126).
inline constexpr int PRIVILEGE_DISMISSED = 126;
// Not authorised, authentication failed, or the privilege tool failed (pkexec's 127).
inline constexpr int PRIVILEGE_REFUSED = 127;

// Runs one program as the administrator, asking the user to authenticate when the
// system requires it.
class PrivilegedRunner {
public:
    virtual ~PrivilegedRunner() = default;
    // Main thread. `argv[0]` is the program's absolute path, the rest its arguments,
    // passed as they stand (no shell). Returns at once; `done` is called exactly once,
    // on the main thread and never from inside run(), when the run has ended.
    virtual void run(const QStringList& argv, std::function<void(const PrivilegedResult&)> done) = 0;
};

} // namespace vistrale
