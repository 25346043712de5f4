#include "platform/webcam.h"

namespace vistrale {

QString webcamFailureText(WebcamFailure failure)
{
    switch (failure) {
    case WebcamFailure::Denied:
        return QStringLiteral("denied");
    case WebcamFailure::Busy:
        return QStringLiteral("busy");
    case WebcamFailure::Gone:
        break;
    }
    return QStringLiteral("gone");
}

bool isVistraleOwnCamera(const QString& name)
{
    return name.contains(QLatin1String("Vistrale"), Qt::CaseInsensitive) || name == QLatin1String("vistrale-camera");
}

} // namespace vistrale
