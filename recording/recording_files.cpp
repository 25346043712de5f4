#include "recording/recording_files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace vistrale {

RecordingFiles recordingFiles(const QString& cacheDirectory, qint64 milliseconds, bool mov)
{
    const QDir folder(cacheDirectory);
    const QString stamp = QString::number(milliseconds);
    const QString extension = mov ? ".mov" : ".mp4";
    return {folder.filePath("tmp-" + stamp + extension), folder.filePath("tmp-" + stamp + ".m4a"),
        folder.filePath("vistrale-" + stamp + extension)};
}

qint64 millisecondsSinceReferenceDate()
{
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return reference.msecsTo(QDateTime::currentDateTimeUtc());
}

QString userCacheDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}

void deleteRecordingFiles(const RecordingFiles& files)
{
    for (const QString& path : {files.audioUrl, files.videoUrl, files.outputUrl}) {
        if (!path.isEmpty())
            QFile::remove(path);
    }
}

} // namespace vistrale
