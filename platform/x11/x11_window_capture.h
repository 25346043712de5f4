#pragma once

#include "platform/x11/x11_capture_worker.h"

#include <QString>

namespace vistrale::x11 {

// Sets up the capture of one client window's frame on a fresh connection; null, with a
// log line, when the window or its frame does not exist or cannot be watched.
std::unique_ptr<CaptureWorker> makeWindowCapture(const QString& displayName, xcb_window_t client,
    CaptureService::FrameSink frames, CaptureService::ErrorSink errors);

} // namespace vistrale::x11
