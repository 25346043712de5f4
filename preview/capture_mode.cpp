#include "preview/capture_mode.h"

#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "platform/capture.h"
#include "platform/window_server.h"

#include <QtGlobal>

namespace vistrale {

bool decideCaptureMode(const Settings& settings, const WindowServer& windowServer, const CaptureService* capture)
{
    if (settings.boolValue(keys::IMAGE_MODE) || qEnvironmentVariableIntValue("VISTRALE_IMAGE_MODE") == 1)
        return false;
    return capture != nullptr && windowServer.supportsCaptureStreams();
}

} // namespace vistrale
