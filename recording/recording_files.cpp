#include "recording/recording_files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

bool moveFileReplacing(const QString& from, const QString& to, QString* error)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (errno != EXDEV) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = source.errorString();
        return false;
    }
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly)) {
        *error = target.errorString();
        return false;
    }
    QByteArray chunk;
    while (!(chunk = source.read(1 << 20)).isEmpty()) {
        if (target.write(chunk) != chunk.size())
            break;
    }
    if (source.error() != QFileDevice::NoError || !target.commit()) {
        *error = target.error() != QFileDevice::NoError ? target.errorString() : source.errorString();
        target.cancelWriting();
        return false;
    }
    source.remove();
    return true;
}

} // namespace vistrale
