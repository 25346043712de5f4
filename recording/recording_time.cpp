#include "recording/recording_time.h"

namespace vistrale {

QString recordingTimeText(qint64 seconds)
{
    const qint64 minutes = seconds / 60 % 60;
    const qint64 rest = seconds % 60;
    const QString minutesAndSeconds = QString::asprintf("%02lld:%02lld", minutes, rest);
    if (seconds < 3600)
        return minutesAndSeconds;
    return QString::number(seconds / 3600) + ":" + minutesAndSeconds;
}

QString recordingStatusTitle(const QString& timeText, bool withMicrophone)
{
    return QStringLiteral("■ ") + timeText + (withMicrophone ? QStringLiteral(" (mic)") : QString());
}

} // namespace vistrale
