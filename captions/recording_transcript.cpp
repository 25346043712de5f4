#include "captions/recording_transcript.h"

#include "captions/captions.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/media.h"
#include "recording/video_recorder.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <filesystem>

namespace vistrale {

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

TranscriptHandOver::TranscriptHandOver(Captions& captions, Media& media, Clock& clock)
    : captions(captions)
    , media(media)
    , clock(clock)
{
}

TranscriptHandOver::~TranscriptHandOver()
{
    *alive = false;
}

void TranscriptHandOver::handOver(const RecordingResult& result, Save save)
{
    std::weak_ptr<bool> token = alive;
    captions.transcriptFor(result.startDate, result.endDate, [this, token, result, save](const QString& subRip) {
        if (token.expired())
            return;
        if (subRip.isEmpty()) {
            save(result.files.outputUrl, subRip);
            return;
        }
        merges.async([this, token, result, save, subRip] {
            // Written beside the movie first, so that a failure leaves the movie whole.
            const QFileInfo movie(result.files.outputUrl);
            const QString captioned = movie.dir().filePath(movie.completeBaseName() + "-captioned." + movie.suffix());
            MergeRequest request{result.files.videoUrl, result.withAudio ? result.files.audioUrl : QString(), captioned,
                result.mov, subRip};
            QString error;
            if (!media.merge(request, &error)) {
                logLine("merge with the transcript failed", error);
                QFile::remove(captioned);
            } else {
                std::error_code failed;
                std::filesystem::rename(QFile::encodeName(captioned).toStdString(),
                    QFile::encodeName(result.files.outputUrl).toStdString(), failed);
                if (failed) {
                    logLine(
                        "cannot replace the movie with its captioned copy", QString::fromStdString(failed.message()));
                    QFile::remove(captioned);
                }
            }
            clock.postToMain([token, result, save, subRip] {
                if (!token.expired())
                    save(result.files.outputUrl, subRip);
            });
        });
    });
}

} // namespace vistrale
