#pragma once

#include "platform/keycodes.h"

namespace vistrale::x11 {

// Mac virtual key codes to X keysyms and back: the platform-neutral table in
// platform/keycodes.h, shared with the shortcut recorder.
using vistrale::keysymForMacKeyCode;
using vistrale::macKeyCodeForKeysym;

} // namespace vistrale::x11
