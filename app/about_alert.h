#pragma once

#include "platform/dialogs.h"

namespace vistrale {

// The About alert (also the first-run welcome): the product and its version, and how
// to use it with the current shortcut's display string. An empty version reads
// "1.0.0".
AlertSpec aboutAlertSpec(const QString& version, const QString& shortcutDisplay);

} // namespace vistrale
