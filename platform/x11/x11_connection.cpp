#include "platform/x11/x11_connection.h"

#include "platform/log.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <cmath>
#include <cstdlib>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/res.h>
#include <xcb/shape.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace vistrale::x11 {
namespace {

// Names in the order of the Atom enumeration.
const char* const atomNames[] = {
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_CURRENT_DESKTOP",
    "_NET_WM_DESKTOP",
    "_NET_FRAME_EXTENTS",
    "_NET_WM_NAME",
    "_NET_WM_PID",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_STICKY",
    "_NET_RESTACK_WINDOW",
    "UTF8_STRING",
    "COMPOUND_TEXT",
};
static_assert(std::size(atomNames) == static_cast<size_t>(Atom::Count));

bool present(xcb_connection_t* c, xcb_extension_t* extension)
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data && data->present;
}

} // namespace

std::shared_ptr<Connection> Connection::open(const QString& displayName, QString* error)
{
    std::shared_ptr<Connection> result(new Connection);
    if (!result->setUp(displayName, error))
        return nullptr;
    return result;
}

bool Connection::setUp(const QString& displayName, QString* error)
{
    name = displayName.isEmpty() ? qEnvironmentVariable("DISPLAY") : displayName;
    if (name.isEmpty()) {
        if (error)
            *error = "no X display: DISPLAY is not set";
        return false;
    }
    int screenNumber = 0;
    connection = xcb_connect(name.toLocal8Bit().constData(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        if (error)
            *error = "cannot open X display " + name;
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        if (error)
            *error = "X display " + name + " has no screen " + QString::number(screenNumber);
        return false;
    }
    rootScreen = screens.data;

    xcb_intern_atom_cookie_t cookies[static_cast<int>(Atom::Count)];
    for (size_t i = 0; i < std::size(atomNames); ++i)
        cookies[i] = xcb_intern_atom(connection, 0, static_cast<quint16>(strlen(atomNames[i])), atomNames[i]);
    probeExtensions();
    for (size_t i = 0; i < std::size(atomNames); ++i) {
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i], nullptr));
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // Property changes on the root tell of desktop switches and window-list changes.
    const quint32 rootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root(), XCB_CW_EVENT_MASK, &rootEvents);
    xcb_flush(connection);

    notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    QObject::connect(notifier, &QSocketNotifier::activated, this, [this] { readSocket(); });
    return true;
}

void Connection::probeExtensions()
{
    xcb_connection_t* c = connection;
    xcb_extension_t* all[] = {&xcb_composite_id, &xcb_damage_id, &xcb_shm_id, &xcb_xfixes_id, &xcb_input_id,
        &xcb_xkb_id, &xcb_res_id, &xcb_randr_id, &xcb_shape_id};
    for (xcb_extension_t* extension : all)
        xcb_prefetch_extension_data(c, extension);

    // Every version is asked before any answer is read.
    xcb_composite_query_version_cookie_t composite{};
    xcb_damage_query_version_cookie_t damage{};
    xcb_shm_query_version_cookie_t shm{};
    xcb_xfixes_query_version_cookie_t xfixes{};
    xcb_input_xi_query_version_cookie_t xinput{};
    xcb_xkb_use_extension_cookie_t xkb{};
    xcb_res_query_version_cookie_t res{};
    xcb_randr_query_version_cookie_t randr{};
    const bool has[] = {present(c, &xcb_composite_id), present(c, &xcb_damage_id), present(c, &xcb_shm_id),
        present(c, &xcb_xfixes_id), present(c, &xcb_input_id), present(c, &xcb_xkb_id), present(c, &xcb_res_id),
        present(c, &xcb_randr_id), present(c, &xcb_shape_id)};
    if (has[0])
        composite = xcb_composite_query_version(c, 0, 4);
    if (has[1])
        damage = xcb_damage_query_version(c, 1, 1);
    if (has[2])
        shm = xcb_shm_query_version(c);
    if (has[3])
        xfixes = xcb_xfixes_query_version(c, 4, 0);
    if (has[4])
        xinput = xcb_input_xi_query_version(c, 2, 2);
    if (has[5])
        xkb = xcb_xkb_use_extension(c, 1, 0);
    if (has[6])
        res = xcb_res_query_version(c, 1, 2);
    if (has[7])
        randr = xcb_randr_query_version(c, 1, 5);

    if (has[0]) {
        Reply<xcb_composite_query_version_reply_t> r(xcb_composite_query_version_reply(c, composite, nullptr));
        ext.composite = r && (r->major_version > 0 || r->minor_version >= 2);
    }
    if (has[1]) {
        Reply<xcb_damage_query_version_reply_t> r(xcb_damage_query_version_reply(c, damage, nullptr));
        ext.damage = r != nullptr;
    }
    if (has[2]) {
        Reply<xcb_shm_query_version_reply_t> r(xcb_shm_query_version_reply(c, shm, nullptr));
        ext.shm = r != nullptr;
    }
    if (has[3]) {
        Reply<xcb_xfixes_query_version_reply_t> r(xcb_xfixes_query_version_reply(c, xfixes, nullptr));
        ext.xfixes = r && r->major_version >= 1;
        ext.xfixesEventBase = xcb_get_extension_data(c, &xcb_xfixes_id)->first_event;
    }
    if (has[4]) {
        Reply<xcb_input_xi_query_version_reply_t> r(xcb_input_xi_query_version_reply(c, xinput, nullptr));
        ext.xinput2 = r && r->major_version >= 2;
        ext.xinputOpcode = xcb_get_extension_data(c, &xcb_input_id)->major_opcode;
    }
    if (has[5]) {
        Reply<xcb_xkb_use_extension_reply_t> r(xcb_xkb_use_extension_reply(c, xkb, nullptr));
        ext.xkb = r && r->supported;
        ext.xkbEventBase = xcb_get_extension_data(c, &xcb_xkb_id)->first_event;
    }
    if (has[6]) {
        Reply<xcb_res_query_version_reply_t> r(xcb_res_query_version_reply(c, res, nullptr));
        ext.res = r && (r->server_major > 1 || (r->server_major == 1 && r->server_minor >= 2));
    }
    if (has[7]) {
        Reply<xcb_randr_query_version_reply_t> r(xcb_randr_query_version_reply(c, randr, nullptr));
        ext.randrMonitors = r && (r->major_version > 1 || (r->major_version == 1 && r->minor_version >= 5));
        ext.randrEventBase = xcb_get_extension_data(c, &xcb_randr_id)->first_event;
    }
    ext.shape = has[8];
}

Connection::~Connection()
{
    delete notifier;
    for (xcb_generic_event_t* event : pending)
        free(event);
    if (connection)
        xcb_disconnect(connection);
}

int Connection::addListener(EventListener listener)
{
    const int id = nextListener++;
    listeners.emplace(id, std::move(listener));
    return id;
}

void Connection::removeListener(int id)
{
    listeners.erase(id);
}

xcb_randr_get_monitors_cookie_t Connection::askMonitors()
{
    if (!ext.randrMonitors)
        return {0};
    return xcb_randr_get_monitors(connection, root(), 1);
}

QList<QRect> Connection::readMonitors(xcb_randr_get_monitors_cookie_t cookie)
{
    const QRect whole(0, 0, rootScreen->width_in_pixels, rootScreen->height_in_pixels);
    if (!ext.randrMonitors)
        return {whole};
    Reply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(connection, cookie, nullptr));
    QList<QRect> result;
    if (!reply)
        return {whole};
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem; xcb_randr_monitor_info_next(&it)) {
        const QRect rect(it.data->x, it.data->y, it.data->width, it.data->height);
        if (rect.isEmpty())
            continue;
        if (it.data->primary)
            result.prepend(rect);
        else
            result.append(rect);
    }
    if (result.isEmpty())
        result.append(whole);
    return result;
}

QRectF Connection::toGlobal(const QRect& r, int mainBottom)
{
    return QRectF(r.x(), mainBottom - (r.y() + r.height()), r.width(), r.height());
}

QPointF Connection::toGlobal(const QPoint& p, int mainBottom)
{
    return QPointF(p.x(), mainBottom - p.y());
}

QRect Connection::toX11(const QRectF& r, int mainBottom)
{
    return QRect(static_cast<int>(std::lround(r.x())), static_cast<int>(std::lround(mainBottom - (r.y() + r.height()))),
        static_cast<int>(std::lround(r.width())), static_cast<int>(std::lround(r.height())));
}

xcb_window_t Connection::topLevelOf(xcb_window_t window)
{
    // Window managers nest a client at most a few levels deep; the bound guards against
    // a tree that changes under us.
    for (int depth = 0; depth < 16 && window; ++depth) {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
        if (!tree)
            return 0;
        if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE)
            return window;
        window = tree->parent;
    }
    return 0;
}

void Connection::flush()
{
    xcb_flush(connection);
}

void Connection::sync()
{
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    collectQueuedEvents();
}

void Connection::collectQueuedEvents()
{
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection))
        pending.push_back(event);
    if (!pending.empty() && !dispatchScheduled) {
        dispatchScheduled = true;
        QMetaObject::invokeMethod(
            this, [this] { dispatch(); }, Qt::QueuedConnection);
    }
}

void Connection::readSocket()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection))
        pending.push_back(event);
    if (xcb_connection_has_error(connection)) {
        if (!brokenReported)
            logLine("X11 connection lost: ", name);
        brokenReported = true;
        notifier->setEnabled(false);
    }
    dispatch();
}

void Connection::dispatch()
{
    dispatchScheduled = false;
    while (!pending.empty()) {
        std::unique_ptr<xcb_generic_event_t, FreeReply> event(pending.front());
        pending.pop_front();
        if (event->response_type == 0) {
            const auto* e = reinterpret_cast<const xcb_generic_error_t*>(event.get());
            logLine("X11 request failed: ",
                QString("error %1, request %2.%3, resource 0x%4")
                    .arg(e->error_code)
                    .arg(e->major_code)
                    .arg(e->minor_code)
                    .arg(e->resource_id, 0, 16));
            continue;
        }
        // A listener may remove others (or itself) while it runs.
        std::vector<int> ids;
        for (const auto& [id, listener] : listeners)
            ids.push_back(id);
        for (int id : ids) {
            auto it = listeners.find(id);
            if (it != listeners.end())
                it->second(event.get());
        }
    }
}

} // namespace vistrale::x11
