#pragma once

#include <QString>

namespace vistrale {

// The application's own data folder, where backdrop and avatar copies and downloads
// live; made when missing. Main thread.
QString documentsDirectory();

} // namespace vistrale
