#pragma once

#include "platform/x11/x11_capture_worker.h"

#include <QString>

namespace vistrale::x11 {

// Sets up the capture of monitor `displayId` (from 1, the main one first) on a fresh
// connection; null, with a log line, when there is no such monitor.
std::unique_ptr<CaptureWorker> makeDisplayCapture(
    const QString& displayName, quint32 displayId, CaptureService::FrameSink frames, CaptureService::ErrorSink errors);

} // namespace vistrale::x11
