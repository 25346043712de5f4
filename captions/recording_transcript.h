#pragma once

#include <QString>

namespace vistrale {

struct MergeRequest;

// The transcript's place in a recording: the SubRip text goes into the movie as its
// subtitle track (the merge request carries it) and beside the saved movie as a .srt
// file of the same name.
//
// How the recording flow uses it, once the recording has been merged:
//   captions->transcriptFor(recorder.startDate(), recorder.endDate(), [&](QString srt) {
//       request.subtitles = srt;   // merge again, off the main thread, with the track
//       ...save the movie to `path`..., then writeSubRipBeside(path, srt);
//   });

// Sets the request's subtitles to the text (nothing for an empty text).
void addTranscript(MergeRequest& request, const QString& subRip);
// The .srt path beside a movie: "talk.mp4" → "talk.srt".
QString subRipPathFor(const QString& moviePath);
// Writes the text (UTF-8) beside the movie; false, with a log line, when it cannot. An
// empty text writes nothing and is no failure.
bool writeSubRipBeside(const QString& moviePath, const QString& subRip);

} // namespace vistrale
