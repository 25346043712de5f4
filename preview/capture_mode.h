#pragma once

namespace vistrale {

class Settings;
class WindowServer;
class CaptureService;

// Capture mode when the desktop offers live capture streams, image mode otherwise or
// when the "image-mode" setting or VISTRALE_IMAGE_MODE=1 asks for it.
bool decideCaptureMode(const Settings& settings, const WindowServer& windowServer, const CaptureService* capture);

} // namespace vistrale
