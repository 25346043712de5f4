#include "platform/x11/x11_platform.h"

#include "platform/x11/x11_capture.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_own_windows.h"
#include "platform/x11/x11_pointer_keys.h"
#include "platform/x11/x11_window_server.h"

namespace vistrale {

std::optional<X11Backends> connectX11(QString* error, const QString& displayName)
{
    std::shared_ptr<x11::Connection> connection = x11::Connection::open(displayName, error);
    if (!connection)
        return std::nullopt;
    X11Backends backends;
    backends.windowServer = std::make_unique<x11::X11WindowServer>(connection);
    backends.ownWindows = std::make_unique<x11::X11OwnWindows>(connection);
    backends.pointerKeys = std::make_unique<x11::X11PointerKeys>(connection);
    // Live streams need Composite and Damage; image mode (forced or without them) has none.
    const x11::Extensions& ext = connection->extensions();
    if (ext.composite && ext.damage && qEnvironmentVariable("VISTRALE_IMAGE_MODE") != "1")
        backends.capture = std::make_unique<x11::X11CaptureService>(connection->displayName());
    return backends;
}

} // namespace vistrale
