#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <functional>
#include <optional>

namespace vistrale {

// One entry of the desktop's window list.
struct Window {
    // Bounds including the window manager's decorations, in global points with the
    // origin at the bottom left of the main screen.
    QRectF frame;
    // Name of the owning application (process name, else the window's class).
    QString applicationName;
    qint32 pid = 0;
    std::optional<QString> windowName;
    // Stable number of the window (the client window id on X11); keys every map of
    // shared windows.
    qint64 windowNumber = 0;
    // Desktop index, -1 when the window is on every desktop.
    int desktop = -1;
    bool minimised = false;
};

// The desktop's windows. Main thread only; every call answers from the live server.
class WindowServer {
public:
    virtual ~WindowServer() = default;
    // Normal application windows, front to back. With `onScreenOnly`, windows on other
    // desktops and minimised windows are left out. Desktop-type windows, docks and
    // override-redirect windows are never listed. Windows of this process are listed.
    virtual QList<Window> windowList(bool onScreenOnly) = 0;
    // The window numbers of every application window on every desktop, front to back.
    virtual QList<qint64> stackingOrder() = 0;
    // The bare desktop, as a window whose applicationName is "Window Server" and whose
    // windowName is "Desktop": a desktop-type window when the desktop has one, else
    // the root window with the main screen's frame. None without any screen.
    virtual std::optional<Window> desktopWindow() = 0;
    // Current bounds of one window; none when it no longer exists.
    virtual std::optional<QRectF> windowBounds(qint64 windowNumber) = 0;
    // Called on the main thread when the current desktop changes.
    virtual void setDesktopChangeHandler(std::function<void()> handler) = 0;
    // Image mode: a picture of the window alone as the desktop shows it, decorations
    // included (exactly its `frame`), covered parts included where the server keeps
    // them; BGRA at its point size; a null image when it cannot be imaged (minimised,
    // gone).
    virtual QImage imageWindow(qint64 windowNumber) = 0;
    // Image mode: a picture of one whole display; null when it cannot be imaged.
    virtual QImage imageDisplay(quint32 displayId) = 0;
    // True when the server offers live capture streams (Composite and Damage on X11).
    virtual bool supportsCaptureStreams() const = 0;
};

// Desktop behaviour of this application's own top-level windows, by native id.
// Main thread only.
class OwnWindows {
public:
    virtual ~OwnWindows() = default;
    // Keep the window above normal windows.
    virtual void setKeepAbove(quintptr nativeId, bool above) = 0;
    // Show the window on every desktop.
    virtual void setOnAllDesktops(quintptr nativeId) = 0;
    // Keep the window's content at this aspect ratio while the user resizes it.
    virtual void setAspectRatio(quintptr nativeId, int width, int height) = 0;
    // Let pointer input pass through the window to whatever lies below it.
    virtual void setClickThrough(quintptr nativeId) = 0;
    // Restack the window directly above the given desktop window.
    virtual void orderAbove(quintptr nativeId, qint64 windowNumber) = 0;
};

} // namespace vistrale
