#pragma once

#include "platform/work_queue.h"
#include "recording/video_overlay_processor.h"

#include <QRectF>

#include <QString>
#include <functional>
#include <memory>

namespace vistrale {

class Captions;
class Clock;
class Media;
struct RecordingResult;

// The transcript's place in a recording: the SubRip text goes into the movie as its
// subtitle track (the merge request carries it) and beside the saved movie as a .srt
// file of the same name.
//
// The recording flow hands each merged recording with audio to a TranscriptHandOver,
// whose `save` continues with the save step and then writeSubRipBeside(saved path).

// The .srt path beside a movie: "talk.mp4" → "talk.srt".
QString subRipPathFor(const QString& moviePath);
// Writes the text (UTF-8) beside the movie; false, with a log line, when it cannot. An
// empty text writes nothing and is no failure.
bool writeSubRipBeside(const QString& moviePath, const QString& subRip);

// Gives a merged recording its transcript: once the captions answer (after their wait
// for the last result), a non-empty SubRip text is merged into the movie as its
// subtitle track, from the recording's own files, on a queue of its own; the movie
// is replaced only when that merge succeeds (a failure is logged and the movie stays
// as it was). Then `save` runs on the main thread with the movie and the text (empty
// when nothing was recognised). Main thread.
//
// With an editor, the transcript goes to the editor first (`edit` gets the text, the
// recorded audio's path and the TranscriptEdit of this recording); the merge then runs
// with the edited captions when they are stored, and `save` once the editor is done.
class TranscriptEdit;
class TranscriptHandOver {
public:
    using Save = std::function<void(const QString& moviePath, const QString& subRip)>;
    using Edit = std::function<void(
        const QString& subRip, const QString& audioPath, const std::shared_ptr<TranscriptEdit>& transcript)>;
    TranscriptHandOver(Captions& captions, Media& media, Clock& clock);
    ~TranscriptHandOver();

    void handOver(const RecordingResult& result, Save save, Edit edit = {});
    // Returns once the merges queued so far have run (their `save` is then posted).
    void waitForMerges() { merges.drain(); }

private:
    friend class TranscriptEdit;
    // Queues the merge of `subRip` into the recording's movie; `done` hears on the main
    // thread whether the movie now holds it.
    void mergeTranscript(const RecordingResult& result, const QString& subRip, std::function<void(bool)> done);
    // The merge itself, on the merge queue.
    bool mergeNow(const RecordingResult& result, const QString& subRip);

    Captions& captions;
    Media& media;
    Clock& clock;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    SerialQueue merges;
};

// The captions of one recording while the user edits them. Main thread; ends once
// `finish` has run (later calls do nothing).
class TranscriptEdit {
public:
    TranscriptEdit(TranscriptHandOver& owner, RecordingResult result, QString subRip, TranscriptHandOver::Save save);
    ~TranscriptEdit();

    // The editor's captions (its exchange string) are burnt into the movie, in the
    // caption box's look at `box` with `lines` lines, by an export beside the movie;
    // the exported movie carries them as its subtitle track too. A completed export
    // replaces the movie; any other outcome leaves it as it was. `done` hears the
    // outcome on the main thread. An export still running is cancelled first.
    void exportWithSubtitles(const QString& captions, QRectF box, int lines,
        std::function<void(VideoOverlayProcessor::Outcome)> done);
    // The running export, if any (its progress is posted while it runs).
    VideoOverlayProcessor* processor() const { return exportProcessor.get(); }
    // The editor is gone: a running export is cancelled (its `done` hears so), the
    // movie gets the latest captions as its subtitle track (merged now unless it
    // holds them already) and the save step follows with them.
    void finish();

    const QString& captions() const { return subRip; }
    bool finished() const { return done; }

private:
    // Stops a running export, whose `done` then hears Cancelled.
    void cancelExport();
    void exportEnded(VideoOverlayProcessor::Outcome outcome);

    TranscriptHandOver& owner;
    std::weak_ptr<bool> ownerAlive;
    std::unique_ptr<RecordingResult> result;
    QString subRip;
    TranscriptHandOver::Save save;
    // The captions the movie holds now; only touched on the merge queue.
    std::shared_ptr<QString> merged = std::make_shared<QString>();
    bool done = false;
    std::unique_ptr<VideoOverlayProcessor> exportProcessor;
    std::function<void(VideoOverlayProcessor::Outcome)> exportDone;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace vistrale
