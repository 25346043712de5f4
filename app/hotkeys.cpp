#include "app/hotkeys.h"

#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/pointer_keys.h"

#include <QVariantMap>

namespace vistrale {
namespace {

constexpr quint32 KEY_6 = 22;
constexpr quint32 KEY_RETURN = 36;

struct FixedHotKey {
    const char* label;
    quint32 keyCode;
    quint32 modifiers;
    const char* keyName;
};

constexpr FixedHotKey fixedHotKeys[] = {
    {COPY_SCREENSHOT_LABEL, KEY_6, HOTKEY_CONTROL | HOTKEY_SHIFT | HOTKEY_COMMAND, "6"},
    {SCREENSHOT_LABEL, KEY_6, HOTKEY_SHIFT | HOTKEY_COMMAND, "6"},
    {WEBCAM_LABEL, KEY_RETURN, HOTKEY_CONTROL | HOTKEY_COMMAND, "Return"},
};

// "Shift+Ctrl+Super+6": a hot-key mask and its key as a user reads them.
QString displayString(quint32 modifiers, const QString& keyName)
{
    return keyCombinationText({bool(modifiers & HOTKEY_SHIFT), bool(modifiers & HOTKEY_CONTROL),
                                  bool(modifiers & HOTKEY_OPTION), bool(modifiers & HOTKEY_COMMAND), false},
        keyName);
}

} // namespace

HotkeySolution::HotkeySolution(PointerKeys& keys)
    : HotkeySolution(keys, NotificationCenter::defaultCenter())
{
}

HotkeySolution::HotkeySolution(PointerKeys& keys, NotificationCenter& center)
    : keys(keys)
    , center(center)
{
    keys.setHotKeyHandler([this](quint32 id) { fired(id); });
}

HotkeySolution::~HotkeySolution()
{
    keys.setHotKeyHandler({});
    for (const auto& [id, registration] : hotKeys)
        keys.unregisterHotKey(id);
}

void HotkeySolution::registerHotKeys(const GlobalKeybindPreferences& shortcut)
{
    for (const FixedHotKey& fixed : fixedHotKeys) {
        if (activeIdOf(fixed.label))
            continue; // still active from an earlier call
        registerHotKey(fixed.label, fixed.keyCode, fixed.modifiers, displayString(fixed.modifiers, fixed.keyName));
    }
    if (const std::optional<quint32> previous = activeIdOf(SHORTCUT_LABEL)) {
        keys.unregisterHotKey(*previous);
        hotKeys.erase(*previous);
    }
    registerHotKey(SHORTCUT_LABEL, shortcut.keyCode, hotKeyModifiers(shortcut), shortcutDisplayString(shortcut));
}

void HotkeySolution::registerHotKey(
    const QString& label, quint32 keyCode, quint32 modifiers, const QString& displayString)
{
    const quint32 id = ++counter;
    lastId = id;
    if (combinationActive(keyCode, modifiers) || !keys.registerHotKey(id, keyCode, modifiers)) {
        logLine("hot key not available: ", label + ' ' + displayString);
        return;
    }
    hotKeys[id] = Registration{label, keyCode, modifiers};
}

void HotkeySolution::unregisterShortcut()
{
    if (!lastId)
        return;
    // The id may belong to a refused registration: the backend ignores unknown ids.
    keys.unregisterHotKey(*lastId);
    hotKeys.erase(*lastId);
    lastId.reset();
}

std::optional<QString> HotkeySolution::label(quint32 id) const
{
    const auto it = hotKeys.find(id);
    if (it == hotKeys.end())
        return std::nullopt;
    return it->second.label;
}

std::vector<quint32> HotkeySolution::activeIds() const
{
    std::vector<quint32> ids;
    for (const auto& [id, registration] : hotKeys)
        ids.push_back(id);
    return ids;
}

std::optional<quint32> HotkeySolution::activeIdOf(const QString& label) const
{
    for (const auto& [id, registration] : hotKeys) {
        if (registration.label == label)
            return id;
    }
    return std::nullopt;
}

bool HotkeySolution::combinationActive(quint32 keyCode, quint32 modifiers) const
{
    for (const auto& [id, registration] : hotKeys) {
        if (registration.keyCode == keyCode && registration.modifiers == modifiers)
            return true;
    }
    return false;
}

void HotkeySolution::fired(quint32 id)
{
    const QString name = label(id).value_or(UNKNOWN_LABEL);
    center.post(KEYBOARD_NOTIFICATION, QVariantMap{{"label", name}});
}

} // namespace vistrale
