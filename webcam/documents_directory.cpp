#include "webcam/documents_directory.h"

#include "platform/log.h"

#include <QDir>
#include <QStandardPaths>

namespace vistrale {

QString documentsDirectory()
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!QDir().mkpath(path))
        logLine("cannot create the data folder", printableText(path));
    return path;
}

} // namespace vistrale
