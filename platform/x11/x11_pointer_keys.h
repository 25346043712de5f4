#pragma once

#include "platform/pointer_keys.h"
#include "platform/x11/x11_connection.h"

#include <map>
#include <memory>
#include <optional>

struct _XCBKeySymbols;

namespace vistrale::x11 {

// The pointer, the modifiers and hot keys on the X server. Hot keys are passive key
// grabs on the root in every Caps Lock / Num Lock combination, fired on release; with
// XKB's detectable auto-repeat a held key fires once. The global monitor follows XInput2
// raw events, which reach us whatever window has the pointer.
class X11PointerKeys : public PointerKeys {
public:
    explicit X11PointerKeys(std::shared_ptr<Connection> connection);
    ~X11PointerKeys() override;

    QPointF pointerLocation() override;
    unsigned modifierFlags() override;
    bool anyMouseButtonDown() override;
    void setGlobalMonitor(std::function<void(const PointerEvent&)> handler) override;
    bool registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) override;
    void unregisterHotKey(quint32 id) override;
    void setHotKeyHandler(std::function<void(quint32 id)> handler) override;
    // Read from the server once, then again only after XFixes reports a new cursor.
    CursorImage cursorImage() override;
    std::optional<PointerState> pointerState() override;

    // The core modifier state (an X11 key/button mask) as ModifierFlag bits.
    static unsigned flagsForState(quint16 state);
    // HOTKEY_* bits as an X11 modifier mask.
    static quint16 maskForHotKeyModifiers(quint32 modifiers);

private:
    struct Pointer {
        QPointF location;
        quint16 state = 0;
    };
    struct HotKey {
        quint8 keycode = 0;
        quint16 mask = 0;
    };
    std::optional<Pointer> queryPointer();
    std::optional<quint8> keycodeFor(quint32 macKeyCode);
    bool grab(const HotKey& key);
    void ungrab(const HotKey& key);
    bool heldByAnother(quint32 exceptId, const HotKey& key) const;
    void regrabAll();
    void onEvent(const xcb_generic_event_t* event);
    void onRawEvent(quint16 type, quint32 detail);

    std::shared_ptr<Connection> x;
    int listener = 0;
    _XCBKeySymbols* symbols = nullptr;
    std::map<quint32, HotKey> hotKeys;
    // Mac key codes of the registrations, to grab again after a keymap change.
    std::map<quint32, quint32> macCodes;
    std::function<void(quint32)> onHotKey;
    // The registration whose key is down, fired when that key comes up.
    std::optional<quint32> pressedId;
    quint8 pressedKeycode = 0;

    CursorImage readCursorImage();

    std::function<void(const PointerEvent&)> monitor;
    // The pointer image as last read, and whether the server announced another since.
    CursorImage cursor;
    bool cursorWatched = false;
    bool cursorStale = true;
    bool monitoring = false;
    bool leftDown = false;
    unsigned lastFlags = 0;
};

} // namespace vistrale::x11
