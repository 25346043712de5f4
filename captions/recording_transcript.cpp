#include "captions/recording_transcript.h"

#include "platform/log.h"
#include "platform/media.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace vistrale {

void addTranscript(MergeRequest& request, const QString& subRip)
{
    request.subtitles = subRip;
}

QString subRipPathFor(const QString& moviePath)
{
    const QFileInfo movie(moviePath);
    const QString base = movie.suffix().isEmpty() ? movie.fileName() : movie.completeBaseName();
    return movie.dir().filePath(base + ".srt");
}

bool writeSubRipBeside(const QString& moviePath, const QString& subRip)
{
    if (subRip.isEmpty())
        return true;
    QSaveFile file(subRipPathFor(moviePath));
    if (!file.open(QIODevice::WriteOnly) || file.write(subRip.toUtf8() + "\n") < 0 || !file.commit()) {
        logLine("cannot write the transcript", printableText(file.fileName()), file.errorString());
        return false;
    }
    return true;
}

} // namespace vistrale
