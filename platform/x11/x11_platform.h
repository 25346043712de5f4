#pragma once

#include "platform/capture.h"
#include "platform/pointer_keys.h"
#include "platform/window_server.h"

#include <QString>
#include <memory>
#include <optional>

namespace vistrale {

// The X11 services: the window list and window pictures, this application's own
// windows, the pointer and the hot keys. They share one connection of their own to the
// display named by DISPLAY (the one Qt shows the windows on), read on the main thread.
struct X11Backends {
    std::unique_ptr<WindowServer> windowServer;
    std::unique_ptr<OwnWindows> ownWindows;
    std::unique_ptr<PointerKeys> pointerKeys;
    // Live capture streams; null where the server lacks Composite or Damage.
    std::unique_ptr<CaptureService> capture;
};

// Connects to the X server named by `displayName` (":N"), or by DISPLAY when it is
// empty. None, with the reason in `error`, when no X server answers. Main thread only;
// the backends need a running Qt event loop to see events.
std::optional<X11Backends> connectX11(QString* error, const QString& displayName = {});

} // namespace vistrale
