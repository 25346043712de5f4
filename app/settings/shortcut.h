#pragma once

#include "platform/keycodes.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace vistrale {

class Settings;

// The stored global shortcut.
struct GlobalKeybindPreferences {
    bool function = false;
    bool control = false;
    bool command = false;
    bool shift = false;
    bool option = false;
    bool capsLock = false;
    std::optional<QString> characters;
    quint32 keyCode = 0;

    bool operator==(const GlobalKeybindPreferences&) const = default;
};

enum class SpecialKey { control, shift, option, command, none };

// ⌘F1: the function flag and the F1 key.
GlobalKeybindPreferences defaultShortcut();

QByteArray encodeShortcut(const GlobalKeybindPreferences& shortcut);
// None when the data is not a complete, well-typed record.
std::optional<GlobalKeybindPreferences> decodeShortcut(const QByteArray& data);

// The stored shortcut, or ⌘F1 when nothing (or nothing readable) is stored.
GlobalKeybindPreferences loadShortcut(const Settings& settings);
void saveShortcut(Settings& settings, const GlobalKeybindPreferences& shortcut);

// "⌘ F1", "⌃ ⌥ K": the modifier glyphs and the key, joined with blanks.
QString shortcutDisplayString(const GlobalKeybindPreferences& shortcut);

// Modifier bits of a key event (EVENT_*) are in platform/keycodes.h.

// The record a key press in the recorder stands for; none for Return, keypad Enter and
// keys without characters.
std::optional<GlobalKeybindPreferences> shortcutFromKeyEvent(
    quint32 keyCode, const QString& charactersIgnoringModifiers, quint32 modifierFlags);

// The hot-key modifier mask of the record's ⌘ ⇧ ⌥ ⌃ flags.
quint32 hotKeyModifiers(const GlobalKeybindPreferences& shortcut);

} // namespace vistrale
