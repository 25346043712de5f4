#include "platform/x11/x11_own_windows.h"

#include "platform/log.h"
#include "platform/x11/x11_properties.h"

#include <xcb/shape.h>
#include <xcb/xcb_icccm.h>

namespace vistrale::x11 {
namespace {

constexpr quint32 NET_WM_STATE_REMOVE = 0;
constexpr quint32 NET_WM_STATE_ADD = 1;
// EWMH source indication: 1 = application, 2 = pager (the restack request asks for 2).
constexpr quint32 SOURCE_APPLICATION = 1;
constexpr quint32 SOURCE_PAGER = 2;
constexpr quint32 ALL_DESKTOPS = 0xFFFFFFFF;

QString hex(quint32 id)
{
    return "0x" + QString::number(id, 16);
}

} // namespace

X11OwnWindows::X11OwnWindows(std::shared_ptr<Connection> connection)
    : x(std::move(connection))
{
    listener = x->addListener([this](const xcb_generic_event_t* event) { onEvent(event); });
}

X11OwnWindows::~X11OwnWindows()
{
    x->removeListener(listener);
}

std::optional<X11OwnWindows::Attributes> X11OwnWindows::attributes(xcb_window_t window, const char* what)
{
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(x->xcb(), xcb_get_window_attributes(x->xcb(), window), &error));
    if (!reply) {
        free(error);
        logLine(QString("%1: no such window: ").arg(what), hex(window));
        return std::nullopt;
    }
    return Attributes{reply->map_state != XCB_MAP_STATE_UNMAPPED, reply->override_redirect != 0};
}

bool X11OwnWindows::windowManagerRuns()
{
    const Property check
        = readProperty(x->xcb(), askProperty(x->xcb(), x->root(), x->atom(Atom::NetSupportingWmCheck), 1));
    return check.exists;
}

void X11OwnWindows::sendToRoot(xcb_window_t window, xcb_atom_t type, const quint32 (&data)[5])
{
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    for (int i = 0; i < 5; ++i)
        message.data.data32[i] = data[i];
    xcb_send_event(x->xcb(), 0, x->root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&message));
}

void X11OwnWindows::changeState(xcb_window_t window, bool add, xcb_atom_t state, const Attributes& attrs)
{
    // A managed window's state belongs to the window manager: ask it.
    sendToRoot(window, x->atom(Atom::NetWmState),
        {add ? NET_WM_STATE_ADD : NET_WM_STATE_REMOVE, state, 0, SOURCE_APPLICATION, 0});
    if (attrs.viewable)
        return;
    // Before mapping, the window manager reads the property itself. Qt merges what it
    // finds there with its own states when it maps the window.
    const xcb_atom_t netWmState = x->atom(Atom::NetWmState);
    const Property current = readProperty(x->xcb(), askProperty(x->xcb(), window, netWmState));
    QList<quint32> states = readList(current, XCB_ATOM_ATOM, {"_NET_WM_STATE", window}).value_or(QList<quint32>());
    states.removeAll(state);
    if (add)
        states.append(state);
    xcb_change_property(x->xcb(), XCB_PROP_MODE_REPLACE, window, netWmState, XCB_ATOM_ATOM, 32,
        static_cast<quint32>(states.size()), states.constData());
}

void X11OwnWindows::setKeepAbove(quintptr nativeId, bool above)
{
    const auto window = static_cast<xcb_window_t>(nativeId);
    const std::optional<Attributes> attrs = attributes(window, "keep above");
    if (!attrs)
        return;
    changeState(window, above, x->atom(Atom::NetWmStateAbove), *attrs);
    x->sync();
}

void X11OwnWindows::setOnAllDesktops(quintptr nativeId)
{
    const auto window = static_cast<xcb_window_t>(nativeId);
    const std::optional<Attributes> attrs = attributes(window, "on all desktops");
    if (!attrs)
        return;
    sendToRoot(window, x->atom(Atom::NetWmDesktop), {ALL_DESKTOPS, SOURCE_APPLICATION, 0, 0, 0});
    // Read when the window manager manages the window; afterwards it writes the same value.
    xcb_change_property(
        x->xcb(), XCB_PROP_MODE_REPLACE, window, x->atom(Atom::NetWmDesktop), XCB_ATOM_CARDINAL, 32, 1, &ALL_DESKTOPS);
    changeState(window, true, x->atom(Atom::NetWmStateSticky), *attrs);
    x->sync();
}

bool X11OwnWindows::writeAspect(xcb_window_t window, int width, int height)
{
    xcb_size_hints_t hints{};
    xcb_generic_error_t* error = nullptr;
    const bool read = xcb_icccm_get_wm_normal_hints_reply(
        x->xcb(), xcb_icccm_get_wm_normal_hints(x->xcb(), window), &hints, &error);
    if (error) {
        free(error);
        return false;
    }
    if (!read)
        hints = xcb_size_hints_t{}; // missing or malformed: start from no hints
    const bool already = (hints.flags & XCB_ICCCM_SIZE_HINT_P_ASPECT) && hints.min_aspect_num == width
        && hints.min_aspect_den == height && hints.max_aspect_num == width && hints.max_aspect_den == height;
    if (!already) {
        xcb_icccm_size_hints_set_aspect(&hints, width, height, width, height);
        xcb_icccm_set_wm_normal_hints(x->xcb(), window, &hints);
        x->sync();
    }
    return true;
}

void X11OwnWindows::setAspectRatio(quintptr nativeId, int width, int height)
{
    const auto window = static_cast<xcb_window_t>(nativeId);
    if (width <= 0 || height <= 0) {
        logLine("aspect ratio refused: ", QString("%1:%2").arg(width).arg(height));
        return;
    }
    if (!attributes(window, "aspect ratio"))
        return;
    if (!aspects.contains(window)) {
        // Watched before the write, so no rewrite after it goes unseen. Our own event
        // mask on the window: Qt's connection keeps its own.
        const quint32 events = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(x->xcb(), window, XCB_CW_EVENT_MASK, &events);
    }
    aspects.insert(window, {width, height});
    if (!writeAspect(window, width, height))
        aspects.remove(window);
    x->sync();
}

void X11OwnWindows::setClickThrough(quintptr nativeId)
{
    const auto window = static_cast<xcb_window_t>(nativeId);
    if (!x->extensions().shape) {
        logLine("click-through needs the SHAPE extension, window: ", hex(window));
        return;
    }
    // An empty input region: every pointer event goes to what lies below.
    xcb_generic_error_t* error = xcb_request_check(x->xcb(),
        xcb_shape_rectangles_checked(
            x->xcb(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED, window, 0, 0, 0, nullptr));
    if (error) {
        logLine("click-through failed, window: ", hex(window));
        free(error);
    }
}

void X11OwnWindows::orderAbove(quintptr nativeId, qint64 windowNumber)
{
    const auto window = static_cast<xcb_window_t>(nativeId);
    const auto sibling = static_cast<xcb_window_t>(windowNumber);
    const std::optional<Attributes> attrs = attributes(window, "order above");
    if (!attrs)
        return;
    if (!attrs->overrideRedirect && windowManagerRuns()) {
        // The window manager stacks managed windows (their frames); it takes client ids.
        sendToRoot(window, x->atom(Atom::NetRestackWindow), {SOURCE_PAGER, sibling, XCB_STACK_MODE_ABOVE, 0, 0});
        x->sync();
        return;
    }
    // Unmanaged: stack directly, against the sibling's top-level window (its frame).
    const xcb_window_t siblingTop = x->topLevelOf(sibling);
    if (!siblingTop) {
        logLine("order above: no such window: ", hex(sibling));
        return;
    }
    const quint32 values[] = {siblingTop, XCB_STACK_MODE_ABOVE};
    xcb_generic_error_t* error = xcb_request_check(x->xcb(),
        xcb_configure_window_checked(
            x->xcb(), window, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values));
    if (error) {
        logLine("order above failed, window: ", hex(window));
        free(error);
    }
}

void X11OwnWindows::onEvent(const xcb_generic_event_t* event)
{
    const quint8 type = event->response_type & 0x7f;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (e->atom != XCB_ATOM_WM_NORMAL_HINTS || e->state != XCB_PROPERTY_NEW_VALUE)
            return;
        const auto it = aspects.constFind(e->window);
        if (it != aspects.constEnd())
            writeAspect(e->window, it->first, it->second);
        x->collectQueuedEvents();
    } else if (type == XCB_DESTROY_NOTIFY) {
        aspects.remove(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window);
    }
}

} // namespace vistrale::x11
