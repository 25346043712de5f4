#pragma once

#include "platform/dialogs.h"

#include <Qt>
#include <optional>

namespace vistrale {

// A Qt key press as the shortcut recorder reads it. `nativeVirtualKey` is the X keysym
// under xcb (the keysym of the pressed level, so Shift+6 is "^"); where it is 0 (other
// platforms, synthetic events) the keysym is worked out from the Qt key. Meta (Super) is
// ⌘, Alt ⌥, Control ⌃, Shift ⇧; F-keys carry the function flag; Caps Lock is read from
// the X state in `nativeModifiers`. None for keys the Mac key table does not know, which
// includes the modifier keys themselves.
std::optional<RecordedKey> recordedKeyFromQt(
    int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey, quint32 nativeModifiers);

} // namespace vistrale
