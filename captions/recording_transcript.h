#pragma once

#include "platform/work_queue.h"

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
class TranscriptHandOver {
public:
    using Save = std::function<void(const QString& moviePath, const QString& subRip)>;
    TranscriptHandOver(Captions& captions, Media& media, Clock& clock);
    ~TranscriptHandOver();

    void handOver(const RecordingResult& result, Save save);
    // Returns once the merges queued so far have run (their `save` is then posted).
    void waitForMerges() { merges.drain(); }

private:
    Captions& captions;
    Media& media;
    Clock& clock;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    SerialQueue merges;
};

} // namespace vistrale
