#include "platform/x11/x11_capture.h"

#include "platform/log.h"
#include "platform/x11/x11_display_capture.h"
#include "platform/x11/x11_window_capture.h"

namespace vistrale::x11 {

X11CaptureService::X11CaptureService(QString displayName)
    : display(std::move(displayName))
{
}

std::unique_ptr<CaptureStream> X11CaptureService::startWindow(
    qint64 windowNumber, QSize, FrameSink frames, ErrorSink errors)
{
    if (windowNumber <= 0 || windowNumber > 0xFFFFFFFF) {
        logLine("capture finds no window ", QString::number(windowNumber));
        return nullptr;
    }
    // Frames come at the window's real size, whatever size is expected.
    std::unique_ptr<CaptureWorker> worker
        = makeWindowCapture(display, static_cast<xcb_window_t>(windowNumber), std::move(frames), std::move(errors));
    if (!worker)
        return nullptr;
    return startCaptureThread(std::move(worker));
}

std::unique_ptr<CaptureStream> X11CaptureService::startDisplay(
    quint32 displayId, QSize, FrameSink frames, ErrorSink errors)
{
    std::unique_ptr<CaptureWorker> worker
        = makeDisplayCapture(display, displayId, std::move(frames), std::move(errors));
    if (!worker)
        return nullptr;
    return startCaptureThread(std::move(worker));
}

} // namespace vistrale::x11
