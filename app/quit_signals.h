#pragma once

#include <QObject>

class QSocketNotifier;

namespace vistrale {

// Ends the application through its normal quit when the session asks it to stop
// (SIGTERM at log-out, SIGINT from a terminal), so that everything it runs is shut
// down in order: the camera's readers let go, files are closed. The handler only
// writes a byte to a pipe; the quit happens on the main thread. One per process.
class QuitSignals : public QObject {
public:
    QuitSignals();
    ~QuitSignals() override;

private:
    QSocketNotifier* notifier = nullptr;
};

} // namespace vistrale
