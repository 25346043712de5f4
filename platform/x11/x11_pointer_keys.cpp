#include "platform/x11/x11_pointer_keys.h"

#include "platform/log.h"
#include "platform/x11/x11_keycodes.h"

#include <xcb/xcb_keysyms.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace vistrale::x11 {
namespace {

constexpr quint16 LOCK_MASKS[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr quint16 MODIFIER_MASKS
    = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
constexpr quint16 BUTTON_MASKS
    = XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3 | XCB_BUTTON_MASK_4 | XCB_BUTTON_MASK_5;
constexpr quint32 LEFT_BUTTON = 1;

// The modifier masks that do not tell combinations apart: Caps Lock and Num Lock,
// except those the combination itself asks for.
quint16 ignoredLocks(quint16 mask)
{
    return (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2) & ~mask;
}

} // namespace

X11PointerKeys::X11PointerKeys(std::shared_ptr<Connection> connection)
    : x(std::move(connection))
{
    symbols = xcb_key_symbols_alloc(x->xcb());
    if (x->extensions().xkb) {
        // A held key then repeats presses only, so the release comes once.
        const quint32 flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        Reply<xcb_xkb_per_client_flags_reply_t> reply(xcb_xkb_per_client_flags_reply(
            x->xcb(), xcb_xkb_per_client_flags(x->xcb(), XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
        if (!reply || !(reply->supported & flag))
            logLine("XKB detectable auto-repeat unavailable on display ", x->displayName());
    } else {
        logLine("XKB missing: a held hot key may fire more than once on display ", x->displayName());
    }
    listener = x->addListener([this](const xcb_generic_event_t* event) { onEvent(event); });
}

X11PointerKeys::~X11PointerKeys()
{
    x->removeListener(listener);
    for (const auto& [id, key] : hotKeys)
        ungrab(key);
    if (monitoring)
        setGlobalMonitor({});
    x->flush();
    xcb_key_symbols_free(symbols);
}

unsigned X11PointerKeys::flagsForState(quint16 state)
{
    unsigned flags = 0;
    if (state & XCB_MOD_MASK_4)
        flags |= CommandFlag;
    if (state & XCB_MOD_MASK_SHIFT)
        flags |= ShiftFlag;
    if (state & XCB_MOD_MASK_1)
        flags |= OptionFlag;
    if (state & XCB_MOD_MASK_CONTROL)
        flags |= ControlFlag;
    if (state & XCB_MOD_MASK_LOCK)
        flags |= CapsLockFlag;
    return flags;
}

quint16 X11PointerKeys::maskForHotKeyModifiers(quint32 modifiers)
{
    quint16 mask = 0;
    if (modifiers & HOTKEY_COMMAND)
        mask |= XCB_MOD_MASK_4;
    if (modifiers & HOTKEY_SHIFT)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & HOTKEY_OPTION)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & HOTKEY_CONTROL)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & HOTKEY_CAPSLOCK)
        mask |= XCB_MOD_MASK_LOCK;
    return mask;
}

std::optional<X11PointerKeys::Pointer> X11PointerKeys::queryPointer()
{
    const auto monitorsCookie = x->askMonitors();
    const auto pointerCookie = xcb_query_pointer(x->xcb(), x->root());
    const QList<QRect> monitors = x->readMonitors(monitorsCookie);
    Reply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(x->xcb(), pointerCookie, nullptr));
    x->collectQueuedEvents();
    if (!reply)
        return std::nullopt;
    const int mainBottom = monitors.first().y() + monitors.first().height();
    return Pointer{Connection::toGlobal(QPoint(reply->root_x, reply->root_y), mainBottom), reply->mask};
}

QPointF X11PointerKeys::pointerLocation()
{
    const std::optional<Pointer> pointer = queryPointer();
    return pointer ? pointer->location : QPointF();
}

unsigned X11PointerKeys::modifierFlags()
{
    const std::optional<Pointer> pointer = queryPointer();
    return pointer ? flagsForState(pointer->state) : 0;
}

bool X11PointerKeys::anyMouseButtonDown()
{
    const std::optional<Pointer> pointer = queryPointer();
    return pointer && (pointer->state & BUTTON_MASKS);
}

std::optional<quint8> X11PointerKeys::keycodeFor(quint32 macKeyCode)
{
    const std::optional<quint32> keysym = keysymForMacKeyCode(macKeyCode);
    if (!keysym)
        return std::nullopt;
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, *keysym);
    std::optional<quint8> result;
    if (codes && codes[0] != XCB_NO_SYMBOL)
        result = codes[0];
    free(codes);
    return result;
}

bool X11PointerKeys::grab(const HotKey& key)
{
    xcb_void_cookie_t cookies[std::size(LOCK_MASKS)];
    const quint16 locks = ignoredLocks(key.mask);
    size_t sent = 0;
    for (quint16 lock : LOCK_MASKS) {
        if ((lock & locks) != lock)
            continue; // that lock is part of the combination itself
        cookies[sent++] = xcb_grab_key_checked(
            x->xcb(), 1, x->root(), key.mask | lock, key.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    bool refused = false;
    for (size_t i = 0; i < sent; ++i) {
        if (xcb_generic_error_t* error = xcb_request_check(x->xcb(), cookies[i])) {
            refused = true;
            free(error);
        }
    }
    if (refused)
        ungrab(key); // leaves no half-held combination behind
    return !refused;
}

void X11PointerKeys::ungrab(const HotKey& key)
{
    const quint16 locks = ignoredLocks(key.mask);
    for (quint16 lock : LOCK_MASKS) {
        if ((lock & locks) == lock)
            xcb_ungrab_key(x->xcb(), key.keycode, x->root(), key.mask | lock);
    }
}

bool X11PointerKeys::heldByAnother(quint32 exceptId, const HotKey& key) const
{
    for (const auto& [id, other] : hotKeys) {
        if (id != exceptId && other.keycode == key.keycode && other.mask == key.mask)
            return true;
    }
    return false;
}

bool X11PointerKeys::registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers)
{
    unregisterHotKey(id);
    const std::optional<quint8> keycode = keycodeFor(keyCode);
    // The caller reports a refused hot key, once.
    if (!keycode)
        return false;
    const HotKey key{*keycode, maskForHotKeyModifiers(modifiers)};
    if (!heldByAnother(id, key) && !grab(key)) {
        x->sync();
        return false;
    }
    hotKeys[id] = key;
    macCodes[id] = keyCode;
    x->flush();
    return true;
}

void X11PointerKeys::unregisterHotKey(quint32 id)
{
    const auto it = hotKeys.find(id);
    if (it == hotKeys.end())
        return;
    const HotKey key = it->second;
    hotKeys.erase(it);
    macCodes.erase(id);
    if (pressedId == id)
        pressedId.reset();
    if (!heldByAnother(id, key)) {
        ungrab(key);
        // Free for other clients once this returns.
        x->sync();
    }
}

void X11PointerKeys::setHotKeyHandler(std::function<void(quint32 id)> handler)
{
    onHotKey = std::move(handler);
}

void X11PointerKeys::regrabAll()
{
    for (const auto& [id, key] : hotKeys)
        ungrab(key);
    std::map<quint32, HotKey> old;
    old.swap(hotKeys);
    pressedId.reset();
    for (const auto& [id, key] : old) {
        const std::optional<quint8> keycode = keycodeFor(macCodes[id]);
        const HotKey moved{keycode.value_or(0), key.mask};
        if (!keycode || (!heldByAnother(id, moved) && !grab(moved))) {
            logLine("hot key lost after a keyboard change, key code: ", static_cast<double>(macCodes[id]));
            macCodes.erase(id);
            continue;
        }
        hotKeys[id] = moved;
    }
    x->flush();
}

void X11PointerKeys::setGlobalMonitor(std::function<void(const PointerEvent&)> handler)
{
    monitor = std::move(handler);
    const bool wanted = static_cast<bool>(monitor);
    if (wanted == monitoring)
        return;
    if (!x->extensions().xinput2) {
        if (wanted)
            logLine("XInput2 missing: no global pointer events on display ", x->displayName());
        return;
    }
    struct {
        xcb_input_event_mask_t head;
        quint32 bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, 0};
    if (wanted) {
        mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS
            | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS
            | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
        const std::optional<Pointer> pointer = queryPointer();
        lastFlags = pointer ? flagsForState(pointer->state) : 0;
        leftDown = pointer && (pointer->state & XCB_BUTTON_MASK_1);
    }
    xcb_input_xi_select_events(x->xcb(), x->root(), 1, &mask.head);
    x->flush();
    monitoring = wanted;
}

std::optional<PointerState> X11PointerKeys::pointerState()
{
    const std::optional<Pointer> pointer = queryPointer();
    if (!pointer)
        return std::nullopt;
    return PointerState{pointer->location, flagsForState(pointer->state), (pointer->state & BUTTON_MASKS) != 0};
}

CursorImage X11PointerKeys::cursorImage()
{
    if (!x->extensions().xfixes)
        return {};
    if (!cursorWatched) {
        // From now on the server tells every change of the shown cursor.
        xcb_xfixes_select_cursor_input(x->xcb(), x->root(), XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
        cursorWatched = true;
        cursorStale = true;
    }
    if (cursorStale) {
        cursorStale = false;
        cursor = readCursorImage();
    }
    return cursor;
}

CursorImage X11PointerKeys::readCursorImage()
{
    Reply<xcb_xfixes_get_cursor_image_reply_t> reply(
        xcb_xfixes_get_cursor_image_reply(x->xcb(), xcb_xfixes_get_cursor_image(x->xcb()), nullptr));
    x->collectQueuedEvents();
    if (!reply || reply->width == 0 || reply->height == 0)
        return {};
    const qsizetype pixels = qsizetype(reply->width) * reply->height;
    if (xcb_xfixes_get_cursor_image_cursor_image_length(reply.get()) < pixels) {
        logLine("cursor image cut short, pixels: ",
            static_cast<double>(xcb_xfixes_get_cursor_image_cursor_image_length(reply.get())));
        return {};
    }
    const quint32* argb = xcb_xfixes_get_cursor_image_cursor_image(reply.get());
    QImage image(reply->width, reply->height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < reply->height; ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int i = 0; i < reply->width; ++i) {
            // Cursor pixels are premultiplied already; a colour above its alpha would not
            // be, so it is clamped.
            const quint32 p = argb[qsizetype(y) * reply->width + i];
            const quint32 a = p >> 24;
            const quint32 r = std::min((p >> 16) & 0xFF, a), g = std::min((p >> 8) & 0xFF, a),
                          b = std::min(p & 0xFF, a);
            line[i] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    return CursorImage{image, QPointF(reply->xhot, reply->yhot)};
}

void X11PointerKeys::onRawEvent(quint16 type, quint32 detail)
{
    const std::optional<Pointer> pointer = queryPointer();
    if (!pointer || !monitor)
        return;
    const unsigned flags = flagsForState(pointer->state);
    PointerEvent event;
    event.location = pointer->location;
    event.modifiers = flags;
    switch (type) {
    case XCB_INPUT_RAW_MOTION:
        event.type = leftDown ? PointerEvent::LeftMouseDragged : PointerEvent::MouseMoved;
        break;
    case XCB_INPUT_RAW_BUTTON_PRESS:
        if (detail != LEFT_BUTTON)
            return;
        leftDown = true;
        event.type = PointerEvent::LeftMouseDown;
        break;
    case XCB_INPUT_RAW_BUTTON_RELEASE:
        if (detail != LEFT_BUTTON)
            return;
        leftDown = false;
        event.type = PointerEvent::LeftMouseUp;
        break;
    default: // a key went down or up: only modifier changes are told
        if (flags == lastFlags)
            return;
        event.type = PointerEvent::FlagsChanged;
        break;
    }
    lastFlags = flags;
    monitor(event);
}

void X11PointerKeys::onEvent(const xcb_generic_event_t* event)
{
    const quint8 type = event->response_type & 0x7f;
    if (type == XCB_KEY_PRESS) {
        const auto* e = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (pressedId)
            return; // auto-repeat of the key already down
        for (const auto& [id, key] : hotKeys) {
            if (key.keycode == e->detail && (e->state & MODIFIER_MASKS & ~ignoredLocks(key.mask)) == key.mask) {
                pressedId = id;
                pressedKeycode = e->detail;
                break;
            }
        }
    } else if (type == XCB_KEY_RELEASE) {
        const auto* e = reinterpret_cast<const xcb_key_release_event_t*>(event);
        if (pressedId && e->detail == pressedKeycode) {
            const quint32 id = *pressedId;
            pressedId.reset();
            if (onHotKey)
                onHotKey(id);
        }
    } else if (type == XCB_MAPPING_NOTIFY) {
        auto* e = reinterpret_cast<xcb_mapping_notify_event_t*>(const_cast<xcb_generic_event_t*>(event));
        xcb_refresh_keyboard_mapping(symbols, e);
        if (e->request == XCB_MAPPING_KEYBOARD && !hotKeys.empty())
            regrabAll();
    } else if (x->extensions().xfixes && type == x->extensions().xfixesEventBase + XCB_XFIXES_CURSOR_NOTIFY) {
        cursorStale = true;
    } else if (type == XCB_GE_GENERIC && monitoring) {
        const auto* e = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (e->extension != x->extensions().xinputOpcode)
            return;
        const auto* raw = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event);
        onRawEvent(e->event_type, raw->detail);
    }
}

} // namespace vistrale::x11
