#pragma once

#include <QtGlobal>
#include <optional>

namespace vistrale::x11 {

// The design stores keys as Mac virtual key codes (kVK_ANSI_A = 0, kVK_F1 = 122, ...).
// These map them to X keysyms and back through one table. Letters map to the lower-case
// keysym; the reverse accepts either case.
std::optional<quint32> keysymForMacKeyCode(quint32 macKeyCode);
std::optional<quint32> macKeyCodeForKeysym(quint32 keysym);

} // namespace vistrale::x11
