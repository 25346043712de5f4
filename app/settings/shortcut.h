#pragma once

#include "platform/keycodes.h"

#include <QByteArray>
#include <QKeySequence>
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

// Super+F1: the command and function flags and the F1 key.
GlobalKeybindPreferences defaultShortcut();

QByteArray encodeShortcut(const GlobalKeybindPreferences& shortcut);
// None when the data is not a complete, well-typed record.
std::optional<GlobalKeybindPreferences> decodeShortcut(const QByteArray& data);

// The stored shortcut, or Super+F1 when nothing (or nothing readable) is stored.
GlobalKeybindPreferences loadShortcut(const Settings& settings);
void saveShortcut(Settings& settings, const GlobalKeybindPreferences& shortcut);

// Modifier keys by their Linux names: command is Super, option is Alt.
struct KeyModifiers {
    bool shift = false;
    bool control = false;
    bool option = false;
    bool command = false;
    bool capsLock = false;
};

// A key combination as Linux desktops write it: "Super+F1", "Shift+Ctrl+Super+6",
// "Ctrl+Alt+K"; the modifiers in the desktop's order, then the key. Every text a user
// reads names keys through this. Without a key, the modifiers alone ("Super").
QString keyCombinationText(KeyModifiers modifiers, const QString& key);
// The same for a Qt key sequence's first combination (Meta is Super).
QString keyCombinationText(const QKeySequence& sequence);

// "Super+F1", "Ctrl+Alt+K": the stored shortcut as a user reads it.
QString shortcutDisplayString(const GlobalKeybindPreferences& shortcut);

// Modifier bits of a key event (EVENT_*) are in platform/keycodes.h.

// The record a key press in the recorder stands for; none for Return, keypad Enter and
// keys without characters.
std::optional<GlobalKeybindPreferences> shortcutFromKeyEvent(
    quint32 keyCode, const QString& charactersIgnoringModifiers, quint32 modifierFlags);

// The hot-key modifier mask of the record's Super, Shift, Alt and Ctrl flags.
quint32 hotKeyModifiers(const GlobalKeybindPreferences& shortcut);

} // namespace vistrale
