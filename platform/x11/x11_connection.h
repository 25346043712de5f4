#pragma once

#include <QList>
#include <QObject>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>
#include <xcb/randr.h>
#include <xcb/xcb.h>

class QSocketNotifier;

namespace vistrale::x11 {

// Frees an xcb reply (they come from malloc).
struct FreeReply {
    void operator()(void* reply) const { free(reply); }
};
template <class T> using Reply = std::unique_ptr<T, FreeReply>;

// The atoms the backends use, interned once when the connection opens.
enum class Atom {
    NetSupportingWmCheck,
    NetClientList,
    NetClientListStacking,
    NetCurrentDesktop,
    NetWmDesktop,
    NetFrameExtents,
    NetWmName,
    NetWmPid,
    NetWmWindowType,
    NetWmWindowTypeDesktop,
    NetWmWindowTypeDock,
    NetWmState,
    NetWmStateHidden,
    NetWmStateAbove,
    NetWmStateSticky,
    NetRestackWindow,
    Utf8String,
    CompoundText,
    Count
};

// The extensions the server offers, probed once.
struct Extensions {
    bool composite = false;
    bool damage = false;
    bool shm = false;
    bool xfixes = false;
    bool xinput2 = false;
    bool xkb = false;
    bool res = false;
    bool randrMonitors = false;
    bool shape = false;
    quint8 xinputOpcode = 0;
    quint8 xkbEventBase = 0;
    quint8 randrEventBase = 0;
    quint8 xfixesEventBase = 0;
};

// One xcb connection of the backends' own. Events are read on the main thread through a
// socket notifier and handed to every registered listener. Converts between X11's
// top-left coordinates and the core's global points, whose origin is the bottom left of
// the main screen (the first RandR monitor, else the whole root) with y up.
class Connection : public QObject {
public:
    using EventListener = std::function<void(const xcb_generic_event_t*)>;

    // None with the reason in `error` when the display cannot be opened.
    static std::shared_ptr<Connection> open(const QString& displayName, QString* error);
    ~Connection() override;

    xcb_connection_t* xcb() const { return connection; }
    xcb_screen_t* screen() const { return rootScreen; }
    xcb_window_t root() const { return rootScreen->root; }
    xcb_atom_t atom(Atom which) const { return atoms[static_cast<int>(which)]; }
    const Extensions& extensions() const { return ext; }
    // The name the connection was opened with (":N"), for log lines.
    QString displayName() const { return name; }

    // Listeners see every event, in order; the returned number removes one.
    int addListener(EventListener listener);
    void removeListener(int id);

    // The monitors in the order the desktop shows them: the primary one first. The
    // whole root when RandR lists none. Pipelined: ask first, read later.
    xcb_randr_get_monitors_cookie_t askMonitors();
    QList<QRect> readMonitors(xcb_randr_get_monitors_cookie_t cookie);
    QList<QRect> monitors() { return readMonitors(askMonitors()); }

    // Converts with the main screen's bottom edge given in X11 coordinates.
    static QRectF toGlobal(const QRect& x11Rect, int mainBottom);
    static QPointF toGlobal(const QPoint& x11Point, int mainBottom);
    static QRect toX11(const QRectF& globalRect, int mainBottom);

    // The top-level window (a child of the root: the window manager's frame, or the
    // window itself when unmanaged) that holds `window`; 0 when it no longer exists.
    xcb_window_t topLevelOf(xcb_window_t window);

    // Sends buffered requests. Call after requests whose replies are not awaited.
    void flush();
    // Waits until the server has handled every request sent so far, so that requests
    // other clients send afterwards (Qt mapping a window) come after ours.
    void sync();
    // Events that arrived while replies were read wait in xcb's queue, where the socket
    // notifier cannot see them: move them into our queue and dispatch them soon.
    void collectQueuedEvents();

private:
    Connection() = default;
    bool setUp(const QString& displayName, QString* error);
    void probeExtensions();
    void readSocket();
    void dispatch();

    xcb_connection_t* connection = nullptr;
    xcb_screen_t* rootScreen = nullptr;
    xcb_atom_t atoms[static_cast<int>(Atom::Count)] = {};
    Extensions ext;
    QString name;
    QSocketNotifier* notifier = nullptr;
    std::map<int, EventListener> listeners;
    int nextListener = 1;
    std::deque<xcb_generic_event_t*> pending;
    bool dispatchScheduled = false;
    bool brokenReported = false;
};

} // namespace vistrale::x11
