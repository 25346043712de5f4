#pragma once

#include <QImage>
#include <QPointF>
#include <functional>
#include <optional>

namespace vistrale {

// Modifier flags of pointer and key events.
enum ModifierFlag : unsigned {
    CommandFlag = 1u << 0, // Super on Linux
    ShiftFlag = 1u << 1,
    OptionFlag = 1u << 2, // Alt
    ControlFlag = 1u << 3,
    CapsLockFlag = 1u << 4,
};

// Hot-key modifier mask bits, as stored with the shortcut.
constexpr quint32 HOTKEY_COMMAND = 0x0100;
constexpr quint32 HOTKEY_SHIFT = 0x0200;
constexpr quint32 HOTKEY_CAPSLOCK = 0x0400;
constexpr quint32 HOTKEY_OPTION = 0x0800;
constexpr quint32 HOTKEY_CONTROL = 0x1000;

struct PointerEvent {
    enum Type { MouseMoved, LeftMouseDown, LeftMouseUp, LeftMouseDragged, FlagsChanged };
    Type type = MouseMoved;
    // Global points, bottom-left origin.
    QPointF location;
    unsigned modifiers = 0;
};

// The pointer's place, the modifiers and the buttons, read together.
struct PointerState {
    // Global points, bottom-left origin.
    QPointF location;
    unsigned modifiers = 0;
    bool anyButtonDown = false;
};

struct CursorImage {
    QImage image; // premultiplied BGRA
    QPointF hotSpot;
};

// The pointer, the keyboard modifiers and system-wide hot keys. Main thread only;
// handlers are called on the main thread.
class PointerKeys {
public:
    virtual ~PointerKeys() = default;
    // Global points, bottom-left origin.
    virtual QPointF pointerLocation() = 0;
    virtual unsigned modifierFlags() = 0;
    virtual bool anyMouseButtonDown() = 0;
    // Pointer and modifier events anywhere on the desktop; an empty handler stops them.
    virtual void setGlobalMonitor(std::function<void(const PointerEvent&)> handler) = 0;
    // Registers a system-wide hot key for a virtual key code (F1 = 122, 6 = 22,
    // Return = 36, ...) and a HOTKEY_* mask. It fires once per press, on release.
    // False when the key has no mapping or another client holds the combination.
    virtual bool registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) = 0;
    virtual void unregisterHotKey(quint32 id) = 0;
    virtual void setHotKeyHandler(std::function<void(quint32 id)> handler) = 0;
    // The current pointer image and its hot spot. Cheap to call often: the answer is
    // kept and read again only after the system reports a new pointer image, and the
    // same image comes back as the same (shared) QImage until then.
    virtual CursorImage cursorImage() = 0;
    // One query of place, modifiers and buttons (what the three calls above answer);
    // none when the pointer cannot be read.
    virtual std::optional<PointerState> pointerState() = 0;
};

} // namespace vistrale
