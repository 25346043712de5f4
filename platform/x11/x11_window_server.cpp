#include "platform/x11/x11_window_server.h"

#include "platform/x11/x11_capture_worker.h"

#include "platform/log.h"
#include "platform/x11/x11_properties.h"

#include <QFile>
#include <algorithm>
#include <utility>
#include <xcb/composite.h>
#include <xcb/res.h>

namespace vistrale::x11 {
namespace {

constexpr quint32 ALL_DESKTOPS = 0xFFFFFFFF;
// Longest title read, in 32-bit units (longer ones are cut).
constexpr quint32 TITLE_UNITS = 1024;
constexpr quint32 MAX_CLIENTS = 1u << 16;

// Requests of one window, sent together.
struct WindowRequests {
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t position;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_property_cookie_t extents;
    xcb_get_property_cookie_t type;
    xcb_get_property_cookie_t state;
    xcb_get_property_cookie_t desktop;
    // Only for the full list.
    xcb_get_property_cookie_t netName;
    xcb_get_property_cookie_t name;
    xcb_get_property_cookie_t pid;
    xcb_get_property_cookie_t wmClass;
    xcb_res_query_client_ids_cookie_t clientIds;
};

// The process name the kernel keeps; empty when it cannot be read.
QString processName(qint32 pid)
{
    if (pid <= 0)
        return {};
    QFile comm(QString("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(comm.read(64)).trimmed();
}

qint32 localClientPid(xcb_connection_t* c, xcb_res_query_client_ids_cookie_t cookie)
{
    Reply<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(c, cookie, nullptr));
    if (!reply)
        return 0;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem; xcb_res_client_id_value_next(&it)) {
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID)
            && xcb_res_client_id_value_value_length(it.data) >= 1)
            return static_cast<qint32>(*xcb_res_client_id_value_value(it.data));
    }
    return 0;
}

QString hex(quint32 id)
{
    return "0x" + QString::number(id, 16);
}

} // namespace

struct X11WindowServer::Listed {
    Window window;
    bool desktopType = false;
};

X11WindowServer::X11WindowServer(std::shared_ptr<Connection> connection)
    : x(std::move(connection))
    , reader(x)
{
    listener = x->addListener([this](const xcb_generic_event_t* event) { onEvent(event); });
}

X11WindowServer::~X11WindowServer()
{
    x->removeListener(listener);
}

std::vector<X11WindowServer::Listed> X11WindowServer::collect(
    bool full, int* mainBottom, std::optional<quint32>* currentDesktop)
{
    xcb_connection_t* c = x->xcb();
    const xcb_window_t root = x->root();
    const auto stackCookie = askProperty(c, root, x->atom(Atom::NetClientListStacking), MAX_CLIENTS);
    const auto currentCookie = askProperty(c, root, x->atom(Atom::NetCurrentDesktop), 1);
    const auto monitorsCookie = x->askMonitors();
    const Property stack = readProperty(c, stackCookie);
    const Property current = readProperty(c, currentCookie);
    const QList<QRect> monitors = x->readMonitors(monitorsCookie);
    *mainBottom = monitors.first().y() + monitors.first().height();
    if (currentDesktop)
        *currentDesktop = readCardinal(current, {"_NET_CURRENT_DESKTOP", root});

    QList<quint32> clients
        = readList(stack, XCB_ATOM_WINDOW, {"_NET_CLIENT_LIST_STACKING", root}).value_or(QList<quint32>());
    std::reverse(clients.begin(), clients.end()); // bottom to top on the server

    std::vector<WindowRequests> requests(static_cast<size_t>(clients.size()));
    for (qsizetype i = 0; i < clients.size(); ++i) {
        const xcb_window_t w = clients[i];
        WindowRequests& r = requests[static_cast<size_t>(i)];
        r.geometry = xcb_get_geometry(c, w);
        r.position = xcb_translate_coordinates(c, w, root, 0, 0);
        r.attributes = xcb_get_window_attributes(c, w);
        r.extents = askProperty(c, w, x->atom(Atom::NetFrameExtents), 4);
        r.type = askProperty(c, w, x->atom(Atom::NetWmWindowType), 32);
        r.state = askProperty(c, w, x->atom(Atom::NetWmState), 64);
        r.desktop = askProperty(c, w, x->atom(Atom::NetWmDesktop), 1);
        if (full) {
            r.netName = askProperty(c, w, x->atom(Atom::NetWmName), TITLE_UNITS);
            r.name = askProperty(c, w, XCB_ATOM_WM_NAME, TITLE_UNITS);
            r.pid = askProperty(c, w, x->atom(Atom::NetWmPid), 1);
            r.wmClass = askProperty(c, w, XCB_ATOM_WM_CLASS, 256);
            if (x->extensions().res) {
                xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
                r.clientIds = xcb_res_query_client_ids(c, 1, &spec);
            }
        }
    }

    std::vector<Listed> result;
    result.reserve(requests.size());
    for (qsizetype i = 0; i < clients.size(); ++i) {
        const xcb_window_t w = clients[i];
        const WindowRequests& r = requests[static_cast<size_t>(i)];
        // Every reply is read, also for windows left out, so none lingers in xcb.
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, r.geometry, nullptr));
        Reply<xcb_translate_coordinates_reply_t> position(xcb_translate_coordinates_reply(c, r.position, nullptr));
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, r.attributes, nullptr));
        const Property extents = readProperty(c, r.extents);
        const Property type = readProperty(c, r.type);
        const Property state = readProperty(c, r.state);
        const Property desktop = readProperty(c, r.desktop);
        Property netName, name, pid, wmClass;
        qint32 resPid = 0;
        if (full) {
            netName = readProperty(c, r.netName);
            name = readProperty(c, r.name);
            pid = readProperty(c, r.pid);
            wmClass = readProperty(c, r.wmClass);
            if (x->extensions().res)
                resPid = localClientPid(c, r.clientIds);
        }
        if (!geometry || !position || !attributes || attributes->override_redirect)
            continue; // gone meanwhile, or not managed

        Listed listed;
        const QList<quint32> types
            = readList(type, XCB_ATOM_ATOM, {"_NET_WM_WINDOW_TYPE", w}).value_or(QList<quint32>());
        if (types.contains(x->atom(Atom::NetWmWindowTypeDock)))
            continue;
        listed.desktopType = types.contains(x->atom(Atom::NetWmWindowTypeDesktop));

        Window& window = listed.window;
        window.windowNumber = w;
        QList<quint32> frame
            = readList(extents, XCB_ATOM_CARDINAL, {"_NET_FRAME_EXTENTS", w}).value_or(QList<quint32>());
        if (frame.size() < 4 || std::any_of(frame.begin(), frame.end(), [](quint32 v) { return v > 4096; })) {
            if (!frame.isEmpty())
                logLine("X11 property refused: _NET_FRAME_EXTENTS of window ", hex(w));
            frame = {0, 0, 0, 0};
        }
        const int left = static_cast<int>(frame[0]), right = static_cast<int>(frame[1]);
        const int top = static_cast<int>(frame[2]), bottom = static_cast<int>(frame[3]);
        const QRect outer(position->dst_x - left, position->dst_y - top, geometry->width + left + right,
            geometry->height + top + bottom);
        window.frame = Connection::toGlobal(outer, *mainBottom);

        const std::optional<quint32> onDesktop = readCardinal(desktop, {"_NET_WM_DESKTOP", w});
        window.desktop = (!onDesktop || *onDesktop == ALL_DESKTOPS) ? -1 : static_cast<int>(*onDesktop);
        window.minimised = readList(state, XCB_ATOM_ATOM, {"_NET_WM_STATE", w})
                               .value_or(QList<quint32>())
                               .contains(x->atom(Atom::NetWmStateHidden));
        if (full) {
            window.windowName = readText(netName, x->atom(Atom::Utf8String), {"_NET_WM_NAME", w});
            if (!window.windowName)
                window.windowName = readText(name, x->atom(Atom::Utf8String), {"WM_NAME", w});
            const std::optional<quint32> netPid = readCardinal(pid, {"_NET_WM_PID", w});
            window.pid = (netPid && *netPid > 0 && *netPid < 0x7FFFFFFF) ? static_cast<qint32>(*netPid) : resPid;
            window.applicationName = processName(window.pid);
            if (window.applicationName.isEmpty()) {
                const QList<QString> classes = readStrings(wmClass, {"WM_CLASS", w});
                if (!classes.isEmpty())
                    window.applicationName = classes.size() > 1 ? classes[1] : classes[0];
            }
        }
        result.push_back(std::move(listed));
    }
    x->collectQueuedEvents();
    return result;
}

QList<Window> X11WindowServer::windowList(bool onScreenOnly)
{
    int mainBottom = 0;
    std::optional<quint32> current;
    QList<Window> result;
    for (Listed& listed : collect(true, &mainBottom, &current)) {
        if (listed.desktopType)
            continue;
        const Window& w = listed.window;
        if (onScreenOnly) {
            if (w.minimised)
                continue;
            if (current && w.desktop != -1 && w.desktop != static_cast<int>(*current))
                continue;
        }
        result.append(std::move(listed.window));
    }
    return result;
}

QList<qint64> X11WindowServer::stackingOrder()
{
    int mainBottom = 0;
    QList<qint64> result;
    for (const Listed& listed : collect(false, &mainBottom, nullptr)) {
        if (!listed.desktopType)
            result.append(listed.window.windowNumber);
    }
    return result;
}

std::optional<Window> X11WindowServer::desktopWindow()
{
    int mainBottom = 0;
    Window desktop;
    desktop.applicationName = "Window Server";
    desktop.windowName = QString("Desktop");
    desktop.desktop = -1;
    for (const Listed& listed : collect(false, &mainBottom, nullptr)) {
        if (listed.desktopType) {
            desktop.frame = listed.window.frame;
            desktop.windowNumber = listed.window.windowNumber;
            return desktop;
        }
    }
    const QList<QRect> monitors = x->monitors();
    if (monitors.first().isEmpty())
        return std::nullopt;
    desktop.frame = Connection::toGlobal(monitors.first(), mainBottom);
    desktop.windowNumber = x->root();
    return desktop;
}

std::optional<QRectF> X11WindowServer::windowBounds(qint64 windowNumber)
{
    xcb_connection_t* c = x->xcb();
    const auto w = static_cast<xcb_window_t>(windowNumber);
    if (windowNumber <= 0 || windowNumber > 0xFFFFFFFF)
        return std::nullopt;
    const auto monitorsCookie = x->askMonitors();
    const auto geometryCookie = xcb_get_geometry(c, w);
    const auto positionCookie = xcb_translate_coordinates(c, w, x->root(), 0, 0);
    const auto extentsCookie = askProperty(c, w, x->atom(Atom::NetFrameExtents), 4);
    const QList<QRect> monitors = x->readMonitors(monitorsCookie);
    const int mainBottom = monitors.first().y() + monitors.first().height();
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    Reply<xcb_translate_coordinates_reply_t> position(xcb_translate_coordinates_reply(c, positionCookie, nullptr));
    const Property extents = readProperty(c, extentsCookie);
    x->collectQueuedEvents();
    if (!geometry || !position)
        return std::nullopt;
    if (w == x->root())
        return Connection::toGlobal(QRect(0, 0, geometry->width, geometry->height), mainBottom);
    QList<quint32> frame = readList(extents, XCB_ATOM_CARDINAL, {"_NET_FRAME_EXTENTS", w}).value_or(QList<quint32>());
    if (frame.size() < 4 || std::any_of(frame.begin(), frame.end(), [](quint32 v) { return v > 4096; }))
        frame = {0, 0, 0, 0};
    const int left = static_cast<int>(frame[0]), right = static_cast<int>(frame[1]);
    const int top = static_cast<int>(frame[2]), bottom = static_cast<int>(frame[3]);
    return Connection::toGlobal(QRect(position->dst_x - left, position->dst_y - top, geometry->width + left + right,
                                    geometry->height + top + bottom),
        mainBottom);
}

void X11WindowServer::setDesktopChangeHandler(std::function<void()> handler)
{
    onDesktopChange = std::move(handler);
}

bool X11WindowServer::redirectForImages()
{
    if (redirected)
        return true;
    // Automatic redirection keeps every top-level window's pixels in a pixmap of its own
    // while the server still paints the screen as before.
    xcb_generic_error_t* error = xcb_request_check(
        x->xcb(), xcb_composite_redirect_subwindows_checked(x->xcb(), x->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC));
    if (error) {
        free(error);
        logLine("Composite redirection refused on display ", x->displayName());
        return false;
    }
    redirected = true;
    return true;
}

QImage X11WindowServer::imageWindow(qint64 windowNumber)
{
    if (windowNumber <= 0 || windowNumber > 0xFFFFFFFF)
        return {};
    xcb_connection_t* c = x->xcb();
    const auto w = static_cast<xcb_window_t>(windowNumber);
    // The window as the desktop shows it: its frame, decorations included, so that the
    // picture matches the frame the window list reports.
    const xcb_window_t frame = x->topLevelOf(w);
    if (!frame)
        return {};
    const auto clientCookie = xcb_get_window_attributes(c, w);
    const auto attributesCookie = xcb_get_window_attributes(c, frame);
    const auto frameGeometryCookie = xcb_get_geometry(c, frame);
    Reply<xcb_get_window_attributes_reply_t> client(xcb_get_window_attributes_reply(c, clientCookie, nullptr));
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
    Reply<xcb_get_geometry_reply_t> frameGeometry(xcb_get_geometry_reply(c, frameGeometryCookie, nullptr));
    // Minimised windows have no picture: the window manager unmaps the client first and
    // its frame a moment later.
    if (!client || !attributes || !frameGeometry || client->map_state != XCB_MAP_STATE_VIEWABLE
        || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return {};
    const QSize size(frameGeometry->width, frameGeometry->height);
    // The same bound as the capture streams': a huge window is not read at all, rather
    // than allocating gigabytes on every tick.
    if (size.width() > MAX_CAPTURE_SIDE || size.height() > MAX_CAPTURE_SIDE
        || frameGeometry->border_width > MAX_CAPTURE_SIDE) {
        if (std::exchange(tooLargeLogged, windowNumber) != windowNumber)
            logLine("window picture too large: ", QString("%1x%2").arg(size.width()).arg(size.height()));
        return {};
    }

    if (!x->extensions().composite || !redirectForImages()) {
        // Without Composite only what is on screen can be read; covered parts show
        // whatever covers them.
        QImage image = reader.read(frame, QRect(QPoint(0, 0), size));
        x->collectQueuedEvents();
        return image;
    }

    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_generic_error_t* error = xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, frame, pixmap));
    if (error) {
        free(error);
        return {};
    }
    // The named pixmap starts at the outer corner of the frame's border.
    const QPoint origin(frameGeometry->border_width, frameGeometry->border_width);
    QImage image = reader.read(pixmap, QRect(origin, size));
    xcb_free_pixmap(c, pixmap);
    x->flush();
    x->collectQueuedEvents();
    return image;
}

QImage X11WindowServer::imageDisplay(quint32 displayId)
{
    xcb_connection_t* c = x->xcb();
    const auto monitorsCookie = x->askMonitors();
    const auto rootCookie = xcb_get_geometry(c, x->root());
    const QList<QRect> monitors = x->readMonitors(monitorsCookie);
    // The root's current size: RandR may have resized it since the connection opened.
    Reply<xcb_get_geometry_reply_t> rootGeometry(xcb_get_geometry_reply(c, rootCookie, nullptr));
    if (displayId < 1 || displayId > static_cast<quint32>(monitors.size()) || !rootGeometry) {
        logLine("no such display: ", static_cast<double>(displayId));
        return {};
    }
    const QRect root(0, 0, rootGeometry->width, rootGeometry->height);
    const QRect area = monitors[static_cast<qsizetype>(displayId - 1)] & root;
    QImage image = reader.read(x->root(), area);
    x->collectQueuedEvents();
    return image;
}

bool X11WindowServer::supportsCaptureStreams() const
{
    if (qEnvironmentVariable("VISTRALE_IMAGE_MODE") == "1")
        return false;
    return x->extensions().composite && x->extensions().damage;
}

void X11WindowServer::onEvent(const xcb_generic_event_t* event)
{
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return;
    const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (e->window == x->root() && e->atom == x->atom(Atom::NetCurrentDesktop) && onDesktopChange)
        onDesktopChange();
}

} // namespace vistrale::x11
