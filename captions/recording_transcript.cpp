#include "captions/recording_transcript.h"

#include "captions/caption_export.h"
#include "captions/captions.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/media.h"
#include "recording/recording_files.h"
#include "recording/video_recorder.h"

#include <QDateTime>
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

void TranscriptHandOver::handOver(const RecordingResult& result, Save save, Edit edit)
{
    std::weak_ptr<bool> token = alive;
    captions.transcriptFor(result.startDate, result.endDate, [this, token, result, save, edit](const QString& subRip) {
        if (token.expired())
            return;
        if (subRip.isEmpty()) {
            save(result.files.outputUrl, subRip);
            return;
        }
        if (edit && result.withAudio) {
            edit(subRip, result.files.audioUrl, std::make_shared<TranscriptEdit>(*this, result, subRip, save));
            return;
        }
        mergeTranscript(result, subRip, [result, save, subRip](bool) { save(result.files.outputUrl, subRip); });
    });
}

bool TranscriptHandOver::mergeNow(const RecordingResult& result, const QString& subRip)
{
    // Written beside the movie first, so that a failure leaves the movie whole.
    const QFileInfo movie(result.files.outputUrl);
    const QString captioned = movie.dir().filePath(movie.completeBaseName() + "-captioned." + movie.suffix());
    MergeRequest request{
        result.files.videoUrl, result.withAudio ? result.files.audioUrl : QString(), captioned, result.mov, subRip};
    QString error;
    if (!media.merge(request, &error)) {
        logLine("merge with the transcript failed", error);
        QFile::remove(captioned);
        return false;
    }
    std::error_code failed;
    std::filesystem::rename(
        QFile::encodeName(captioned).toStdString(), QFile::encodeName(result.files.outputUrl).toStdString(), failed);
    if (failed) {
        logLine("cannot replace the movie with its captioned copy", QString::fromStdString(failed.message()));
        QFile::remove(captioned);
        return false;
    }
    return true;
}

void TranscriptHandOver::mergeTranscript(
    const RecordingResult& result, const QString& subRip, std::function<void(bool)> done)
{
    std::weak_ptr<bool> token = alive;
    merges.async([this, token, result, subRip, done] {
        const bool merged = mergeNow(result, subRip);
        clock.postToMain([token, done, merged] {
            if (!token.expired())
                done(merged);
        });
    });
}

TranscriptEdit::TranscriptEdit(
    TranscriptHandOver& owner, RecordingResult result, QString subRip, TranscriptHandOver::Save save)
    : owner(owner)
    , ownerAlive(owner.alive)
    , result(std::make_unique<RecordingResult>(std::move(result)))
    , subRip(std::move(subRip))
    , save(std::move(save))
{
}

TranscriptEdit::~TranscriptEdit()
{
    *alive = false;
}

void TranscriptEdit::exportWithSubtitles(const QString& captions, QRectF box, int lines,
    std::function<void(VideoOverlayProcessor::Outcome)> whenDone)
{
    if (done || ownerAlive.expired())
        return;
    cancelExport();
    const std::vector<CaptionEntry> entries = parseCaptionEntries(captions);
    subRip = subRipOfEntries(entries);
    // Written beside the movie, so that replacing it is a rename.
    const QFileInfo movie(result->files.outputUrl);
    const QString output = movie.dir().filePath(
        QStringLiteral("output-%1.%2").arg(QDateTime::currentSecsSinceEpoch()).arg(result->mov ? "mov" : "mp4"));
    exportProcessor = std::make_unique<VideoOverlayProcessor>(result->files.outputUrl, output, owner.media, owner.clock);
    exportProcessor->overlays = captionOverlays(entries, box, lines);
    exportProcessor->subtitles = subRip;
    exportProcessor->mov = result->mov;
    exportDone = std::move(whenDone);
    std::weak_ptr<bool> token = alive;
    exportProcessor->process([this, token, output, text = subRip](VideoOverlayProcessor::Outcome outcome, const QString&) {
        if (outcome != VideoOverlayProcessor::Outcome::Completed) {
            exportEnded(outcome);
            return;
        }
        // The exported movie takes the recording's place on the merge queue, before
        // any merge that `finish` queues.
        TranscriptHandOver* hand = &owner;
        owner.merges.async([this, hand, token, output, text, merged = merged, movie = result->files.outputUrl] {
            QString error;
            const bool moved = moveFileReplacing(output, movie, &error);
            if (moved)
                *merged = text;
            else {
                logLine("cannot replace the recording with its export", error);
                QFile::remove(output);
            }
            hand->clock.postToMain([this, token, moved] {
                if (!token.expired())
                    exportEnded(moved ? VideoOverlayProcessor::Outcome::Completed : VideoOverlayProcessor::Outcome::Failed);
            });
        });
    });
}

void TranscriptEdit::cancelExport()
{
    const bool running = exportProcessor && exportProcessor->exporting();
    exportProcessor.reset();
    if (running)
        exportEnded(VideoOverlayProcessor::Outcome::Cancelled);
}

void TranscriptEdit::exportEnded(VideoOverlayProcessor::Outcome outcome)
{
    // Heard once: a later export gets its own.
    if (std::function<void(VideoOverlayProcessor::Outcome)> reply = std::move(exportDone))
        reply(outcome);
}

void TranscriptEdit::finish()
{
    if (done || ownerAlive.expired())
        return;
    done = true;
    cancelExport();
    // After any merge still queued; merged again only when the movie holds other captions.
    std::weak_ptr<bool> token = ownerAlive;
    TranscriptHandOver* hand = &owner;
    owner.merges.async([hand, token, text = subRip, save = save, merged = merged, result = *result] {
        if (token.expired())
            return;
        if (*merged != text && hand->mergeNow(result, text))
            *merged = text;
        hand->clock.postToMain([token, save, result, text] {
            if (!token.expired())
                save(result.files.outputUrl, text);
        });
    });
}

} // namespace vistrale
