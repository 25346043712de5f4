#pragma once

#include "platform/camera/camera_pixels.h"

#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace vistrale {

// The output side of a loopback video device, open for writing: the part of the
// loopback camera that talks to the kernel. Closed when destroyed. Used by one
// thread at a time.
class LoopbackDevice {
public:
    virtual ~LoopbackDevice() = default;
    // The device node readers open.
    virtual QString path() const = 0;
    // Sets the format of the pictures written from now on. False, with the reason
    // in `error`, when the device refuses it or answers with another format.
    virtual bool setFormat(CameraPixelFormat format, QSize size, QString* error) = 0;
    // Writes one whole picture. False, with the reason in `error`, when it was not
    // written entirely.
    virtual bool write(const uint8_t* data, size_t bytes, QString* error) = 0;
    // Asks the device to report its readers (v4l2loopback 0.13 and later); false
    // when it cannot, and then readers must be learnt another way.
    virtual bool subscribeReaderCount() = 0;
    // A descriptor that polls readable (POLLPRI) when a reader count is pending;
    // -1 without a subscription.
    virtual int eventDescriptor() const = 0;
    // The latest reader count among the pending reports; none when none is pending.
    virtual std::optional<int> takeReaderCount() = 0;
};

// The kernel's v4l2loopback device at `path`, opened for writing; none, with the
// reason in `error`, when it cannot be opened. Any thread.
std::unique_ptr<LoopbackDevice> openV4L2LoopbackDevice(const QString& path, QString* error);
// The loopback device labelled `cardName` (findLoopbackDevice), opened for writing.
std::unique_ptr<LoopbackDevice> openV4L2LoopbackDeviceNamed(const QString& cardName, QString* error);

} // namespace vistrale
