#pragma once

#include "app/settings/shortcut.h"

#include <QString>
#include <map>
#include <optional>
#include <vector>

namespace vistrale {

class NotificationCenter;
class PointerKeys;

// Notification posted for every hot key that fires; its user info holds "label".
inline constexpr const char* KEYBOARD_NOTIFICATION = "keyboard";
// Labels of the hot keys, in the order they are registered.
inline constexpr const char* COPY_SCREENSHOT_LABEL = "copyscreenshot";
inline constexpr const char* SCREENSHOT_LABEL = "screenshot";
inline constexpr const char* WEBCAM_LABEL = "webcam";
inline constexpr const char* SHORTCUT_LABEL = "keyboard";
// The label posted for a hot key this object does not know.
inline constexpr const char* UNKNOWN_LABEL = "unknown";

// The application's system-wide hot keys: Shift+Ctrl+Super+6 (copy a screenshot), Shift+Super+6 (screenshot),
// Ctrl+Super+Return (webcam) and the stored shortcut (select windows). Every registration takes
// the next id from a counter starting at 0 (the first is 1); each fired hot key posts
// "keyboard" with its label. One per application run, owned by the delegate; it takes
// the PointerKeys' hot-key handler for its lifetime. Main thread only.
//
// A combination that cannot be had (another client holds it, or the keyboard has no such
// key) stays inactive with one log line; the others still work. Each combination is
// active once at most: registerHotKeys() skips the fixed three when they are already
// active and replaces an active shortcut, and a shortcut equal to an active fixed
// combination is refused like a held one.
class HotkeySolution {
public:
    explicit HotkeySolution(PointerKeys& keys);
    HotkeySolution(PointerKeys& keys, NotificationCenter& center);
    ~HotkeySolution();
    HotkeySolution(const HotkeySolution&) = delete;
    HotkeySolution& operator=(const HotkeySolution&) = delete;

    // The three fixed hot keys, then the shortcut's key with its Super, Shift, Alt and Ctrl flags.
    void registerHotKeys(const GlobalKeybindPreferences& shortcut);
    // Unregisters the last registered hot key (the shortcut's) and forgets it.
    void unregisterShortcut();

    // Registrations so far (also the last id handed out).
    quint32 hotKeyCounter() const { return counter; }
    // The id of the most recent registration; none after unregisterShortcut().
    std::optional<quint32> lastHotKeyId() const { return lastId; }
    // The label of an active hot key; none for an id that is not active.
    std::optional<QString> label(quint32 id) const;
    // The ids of the active hot keys, in registration order.
    std::vector<quint32> activeIds() const;

private:
    struct Registration {
        QString label;
        quint32 keyCode = 0;
        quint32 modifiers = 0;
    };

    void registerHotKey(const QString& label, quint32 keyCode, quint32 modifiers, const QString& displayString);
    std::optional<quint32> activeIdOf(const QString& label) const;
    bool combinationActive(quint32 keyCode, quint32 modifiers) const;
    void fired(quint32 id);

    PointerKeys& keys;
    NotificationCenter& center;
    quint32 counter = 0;
    std::map<quint32, Registration> hotKeys;
    std::optional<quint32> lastId;
};

} // namespace vistrale
