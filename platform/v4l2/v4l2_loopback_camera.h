#pragma once

#include "platform/camera/camera_buffer_damage.h"
#include "platform/camera/camera_output.h"
#include "platform/camera/camera_pixels.h"
#include "platform/v4l2/device_open_watcher.h"
#include "platform/v4l2/loopback_device.h"

#include <QSize>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vistrale {

// The camera for applications that read V4L2 devices: the v4l2loopback device
// labelled "Vistrale Camera", kept open with its format set for the whole run.
// With exclusive_caps=1 readers list the device only while a writer holds it with a
// format, so a picture is written right after opening and, while no frames come,
// the last picture (or black) is written again every `keepAlive` without a new
// conversion. A thread of its own ("v4l2 camera") opens the device, writes those
// pictures and reopens the device after a failure. Readers are learnt from the
// device's reader-count events where it has them (v4l2loopback 0.13 and later),
// otherwise from the processes that hold the node open (DeviceOpenWatcher).
class V4L2LoopbackCamera : public CameraOutput {
public:
    // Opens the device to write into; none, with the reason in `why`, while there is
    // none. Called on the camera's thread, again every `reopen` until it succeeds.
    using OpenDevice = std::function<std::unique_ptr<LoopbackDevice>(QString* why)>;
    struct Timing {
        std::chrono::milliseconds keepAlive{1000};
        std::chrono::milliseconds reopen{2000};
        // How long an opener must hold the node to count as a reader.
        std::chrono::milliseconds settle{300};
    };

    // The device labelled "Vistrale Camera", in YUY2 (what other writers of such
    // cameras write) or BGRx, at 1920 × 1080. Main thread.
    explicit V4L2LoopbackCamera(CameraPixelFormat format = CameraPixelFormat::YUY2);
    // Any device, format, size and timing: for tests and other cameras.
    V4L2LoopbackCamera(OpenDevice open, CameraPixelFormat format, QSize size, Timing timing);
    // Stops the thread and closes the device. Main thread.
    ~V4L2LoopbackCamera() override;
    V4L2LoopbackCamera(const V4L2LoopbackCamera&) = delete;
    V4L2LoopbackCamera& operator=(const V4L2LoopbackCamera&) = delete;

    QString name() const override { return QStringLiteral("v4l2"); }
    // Any thread. The device is open and a process other than this one reads it.
    bool watched() const override;
    // Camera thread. Converts the frame into the device's format and writes it;
    // false, converting nothing, while nobody watches or the device is closed.
    bool write(const FrameBuffer& frame, double hostTime, bool mirrored) override;

    // Any thread. Pictures converted from frames, and pictures written (frames and
    // keep-alives), since the start.
    int conversions() const { return converted.load(); }
    int picturesWritten() const { return written.load(); }

private:
    using Clock = std::chrono::steady_clock;

    void run();
    void openLocked();
    void closeLocked();
    void watchOpensLocked();
    bool writePictureLocked();
    void wake();

    OpenDevice openDevice;
    const CameraPixelFormat format;
    const QSize size;
    const Timing timing;

    // Guards the device and the picture; the camera thread and write() take it.
    mutable std::mutex lock;
    std::unique_ptr<LoopbackDevice> device;
    std::vector<uint8_t> picture;
    CameraPlanes planes;
    // The rows of `picture` that no longer show the newest frame.
    CameraBufferDamage damage;
    Clock::time_point lastWrite;
    Clock::time_point nextOpen;
    QString lastFailure;
    bool frameRefused = false;
    // The device's reader-count events are subscribed and its descriptor polls sanely.
    bool eventsUsable = false;

    // Guards the watcher, which watched() reads from any thread.
    mutable std::mutex demandLock;
    std::unique_ptr<DeviceOpenWatcher> watcher;
    // Readers the device reported; -1 without reader-count events.
    std::atomic<int> reportedReaders{-1};
    std::atomic<bool> open{false};

    std::atomic<int> converted{0};
    std::atomic<int> written{0};
    std::atomic<bool> stopping{false};
    int wakeFd = -1;
    std::thread worker;
};

} // namespace vistrale
