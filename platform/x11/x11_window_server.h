#pragma once

#include "platform/window_server.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_image.h"

#include <memory>

namespace vistrale::x11 {

// The desktop's windows as an EWMH window manager publishes them. Every call asks the
// server afresh; the requests of one call are all sent before any reply is read.
class X11WindowServer : public WindowServer {
public:
    explicit X11WindowServer(std::shared_ptr<Connection> connection);
    ~X11WindowServer() override;

    QList<Window> windowList(bool onScreenOnly) override;
    QList<qint64> stackingOrder() override;
    std::optional<Window> desktopWindow() override;
    std::optional<QRectF> windowBounds(qint64 windowNumber) override;
    void setDesktopChangeHandler(std::function<void()> handler) override;
    // With Composite, the window's frame is read from its named pixmap, so covered
    // parts are included; without it, from the screen.
    QImage imageWindow(qint64 windowNumber) override;
    // `displayId` counts the monitors from 1, the main screen first (as Screens does).
    QImage imageDisplay(quint32 displayId) override;
    bool supportsCaptureStreams() const override;

private:
    struct Listed;
    // The managed client windows, front to back, with what `full` asks for.
    std::vector<Listed> collect(bool full, int* mainBottom, std::optional<quint32>* currentDesktop);
    bool redirectForImages();
    void onEvent(const xcb_generic_event_t* event);

    std::shared_ptr<Connection> x;
    ImageReader reader;
    std::function<void()> onDesktopChange;
    int listener = 0;
    bool redirected = false;
    // The last window refused for its size, so that it is logged once, not every tick.
    qint64 tooLargeLogged = 0;
};

} // namespace vistrale::x11
