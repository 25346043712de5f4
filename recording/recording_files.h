#pragma once

#include <QString>

namespace vistrale {

// The files of one recording: the temporary video and audio, and the final movie.
struct RecordingFiles {
    QString videoUrl;
    QString audioUrl;
    QString outputUrl;
};

// The files of a recording started at `milliseconds` since the reference date, in
// `cacheDirectory`: "tmp-" T ".mp4" (".mov" when `mov`), "tmp-" T ".m4a" and
// "vistrale-" T ".mp4" (or ".mov").
RecordingFiles recordingFiles(const QString& cacheDirectory, qint64 milliseconds, bool mov);

// Milliseconds from the reference date (2001-01-01 00:00:00 UTC) to now.
qint64 millisecondsSinceReferenceDate();

// The user's cache folder (~/.cache, or $XDG_CACHE_HOME).
QString userCacheDirectory();

// Deletes each file that exists; failures are ignored.
void deleteRecordingFiles(const RecordingFiles& files);

// Moves the file at `from` to `to`, replacing a file there. Across file systems it is
// copied beside `to` first, so that a failure (a folder that cannot be written, a full
// disk) leaves both the file at `from` and any file at `to` as they were. False, with
// `error` set, when it could not be moved.
bool moveFileReplacing(const QString& from, const QString& to, QString* error);

} // namespace vistrale
