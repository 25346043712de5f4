#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace vistrale {

// Modifier bits of a key event, as the shortcut recorder sees them.
constexpr quint32 EVENT_CAPS_LOCK = 1u << 16;
constexpr quint32 EVENT_SHIFT = 1u << 17;
constexpr quint32 EVENT_CONTROL = 1u << 18;
constexpr quint32 EVENT_OPTION = 1u << 19;
constexpr quint32 EVENT_COMMAND = 1u << 20;
constexpr quint32 EVENT_FUNCTION = 1u << 23;

// The design stores keys as Mac virtual key codes of the ANSI layout (A = 0, the 6 key =
// 22, Return = 36, K = 40, F1 = 122, ...). Linux names keys by X keysym (plain numbers,
// the same under xcb, Xlib and xkbcommon). One table maps them both ways, for the hot-key
// backend and the shortcut recorder alike.

// The unshifted keysym of a Mac key code (letters in lower case); none for a code the
// table does not know.
std::optional<quint32> keysymForMacKeyCode(quint32 macKeyCode);
// The Mac key code a keysym is typed with; accepts letters in either case and the shifted
// symbols of the US layout ("^" is the 6 key, Shift+Tab is Tab).
std::optional<quint32> macKeyCodeForKeysym(quint32 keysym);
// F1 ... F35.
bool isFunctionKeysym(quint32 keysym);
// What a Mac key event reports as its characters ignoring modifiers (Shift still applies):
// the Latin-1 character, or the private-use function-key characters AppKit uses (F1 =
// U+F704, Up = U+F700, ...). Empty for a keysym with no character.
QString charactersForKeysym(quint32 keysym);

} // namespace vistrale
