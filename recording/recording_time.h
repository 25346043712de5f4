#pragma once

#include <QString>

namespace vistrale {

// Elapsed recording time: "07:05" under an hour, "1:02:03" from an hour on.
QString recordingTimeText(qint64 seconds);

// The status display while recording: "■ " and the time, then " (mic)" when the
// microphone is recorded.
QString recordingStatusTitle(const QString& timeText, bool withMicrophone);

} // namespace vistrale
