#pragma once

#include "platform/window_server.h"
#include "platform/x11/x11_connection.h"

#include <QHash>
#include <memory>

namespace vistrale::x11 {

// EWMH and ICCCM requests for this application's own top-level windows. Works on a
// window before it is mapped (the window manager reads the properties when it manages
// the window) and after (client messages to the root, as EWMH asks).
class X11OwnWindows : public OwnWindows {
public:
    explicit X11OwnWindows(std::shared_ptr<Connection> connection);
    ~X11OwnWindows() override;

    void setKeepAbove(quintptr nativeId, bool above) override;
    void setOnAllDesktops(quintptr nativeId) override;
    // Qt rewrites WM_NORMAL_HINTS when the window's size limits change, dropping fields
    // it does not know: the ratio is put back whenever that happens.
    void setAspectRatio(quintptr nativeId, int width, int height) override;
    void setClickThrough(quintptr nativeId) override;
    void orderAbove(quintptr nativeId, qint64 windowNumber) override;

private:
    struct Attributes {
        bool viewable = false;
        bool overrideRedirect = false;
    };
    // None (with a log line naming `what`) when the window does not exist.
    std::optional<Attributes> attributes(xcb_window_t window, const char* what);
    void changeState(xcb_window_t window, bool add, xcb_atom_t state, const Attributes& attrs);
    void sendToRoot(xcb_window_t window, xcb_atom_t type, const quint32 (&data)[5]);
    bool windowManagerRuns();
    bool writeAspect(xcb_window_t window, int width, int height);
    void onEvent(const xcb_generic_event_t* event);

    std::shared_ptr<Connection> x;
    int listener = 0;
    // Windows whose aspect ratio is kept, and the ratio.
    QHash<xcb_window_t, QPair<int, int>> aspects;
};

} // namespace vistrale::x11
