#include "app/shortcut_recorder.h"

#include "app/hotkeys.h"
#include "app/settings/settings.h"

#include <QObject>

namespace vistrale {

QString keyboardShortcutMenuTitle(const Settings& settings)
{
    return QObject::tr("Keyboard Shortcut...") + '\t' + shortcutDisplayString(loadShortcut(settings));
}

AlertSpec shortcutRecorderAlert()
{
    return AlertSpec{QObject::tr("Keyboard Shortcut"),
        QObject::tr("Press a key combination you want to use, e.g. %1").arg(shortcutDisplayString(defaultShortcut())),
        QObject::tr("Save"), QObject::tr("Cancel")};
}

std::optional<GlobalKeybindPreferences> recordShortcut(Dialogs& dialogs, const QString& displayString)
{
    dialogs.activateApplication();
    std::optional<GlobalKeybindPreferences> pending;
    const bool saved = dialogs.runKeyRecorder(
        shortcutRecorderAlert(), displayString, [&](const RecordedKey& key) -> std::optional<QString> {
            const std::optional<GlobalKeybindPreferences> shortcut
                = shortcutFromKeyEvent(key.keyCode, key.charactersIgnoringModifiers, key.modifierFlags);
            if (!shortcut)
                return std::nullopt;
            pending = shortcut;
            return shortcutDisplayString(*shortcut);
        });
    if (!saved)
        return std::nullopt;
    return pending;
}

void configureShortcut(Dialogs& dialogs, Settings& settings, HotkeySolution& hotkeys)
{
    hotkeys.unregisterShortcut();
    if (const std::optional<GlobalKeybindPreferences> recorded
        = recordShortcut(dialogs, shortcutDisplayString(loadShortcut(settings))))
        saveShortcut(settings, *recorded);
    hotkeys.registerHotKeys(loadShortcut(settings));
}

} // namespace vistrale
