#pragma once

#include "app/settings/shortcut.h"
#include "platform/dialogs.h"

#include <QString>
#include <optional>

namespace vistrale {

class HotkeySolution;
class Settings;

// The status-menu item's title: "Keyboard Shortcut..." and, after a tab, the display
// string of the stored shortcut ("Keyboard Shortcut...\tSuper+F1").
QString keyboardShortcutMenuTitle(const Settings& settings);

// The recorder's alert: "Keyboard Shortcut", the hint, "Save" and "Cancel".
AlertSpec shortcutRecorderAlert();

// Activates the application and runs the recorder with its label showing
// `displayString`. Every key press that makes a record (see shortcutFromKeyEvent)
// becomes the pending one and the label shows it. The pending record when "Save" ended
// the recorder after such a key; none otherwise.
std::optional<GlobalKeybindPreferences> recordShortcut(Dialogs& dialogs, const QString& displayString);

// What "Keyboard Shortcut..." does: the shortcut's hot key is let go while the recorder
// runs (so that pressing it is recorded, not fired), a recorded shortcut is stored, and
// the hot keys are registered again with whatever is stored, whatever the answer.
void configureShortcut(Dialogs& dialogs, Settings& settings, HotkeySolution& hotkeys);

} // namespace vistrale
