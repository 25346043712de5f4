#include "platform/v4l2/v4l2_loopback_camera.h"

#include "platform/camera.h"
#include "platform/log.h"

#include <algorithm>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace vistrale {

namespace {

// Black in the device's format: what readers see before the first frame.
void fillBlack(std::vector<uint8_t>& picture, CameraPixelFormat format, QSize size)
{
    const size_t luma = static_cast<size_t>(size.width()) * size.height();
    switch (format) {
    case CameraPixelFormat::BGRx:
    case CameraPixelFormat::BGRA:
        for (size_t i = 0; i < picture.size(); i += 4) {
            picture[i] = picture[i + 1] = picture[i + 2] = 0;
            picture[i + 3] = 0xff;
        }
        break;
    case CameraPixelFormat::YUY2:
        for (size_t i = 0; i < picture.size(); i += 2) {
            picture[i] = 16;
            picture[i + 1] = 128;
        }
        break;
    case CameraPixelFormat::I420:
    case CameraPixelFormat::NV12:
        std::fill(picture.begin(), picture.begin() + luma, 16);
        std::fill(picture.begin() + luma, picture.end(), 128);
        break;
    }
}

bool isBgra(QImage::Format format)
{
    return format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_ARGB32
        || format == QImage::Format_RGB32;
}

} // namespace

V4L2LoopbackCamera::V4L2LoopbackCamera(CameraPixelFormat format)
    : V4L2LoopbackCamera([](QString* why) { return openV4L2LoopbackDeviceNamed(VISTRALE_CAMERA_NAME, why); }, format,
        QSize(1920, 1080), Timing{})
{
}

V4L2LoopbackCamera::V4L2LoopbackCamera(OpenDevice open, CameraPixelFormat format, QSize size, Timing timing)
    : openDevice(std::move(open))
    , format(format)
    , size(size)
    , timing(timing)
{
    picture.resize(cameraPictureBytes(format, size));
    planes = cameraPackedPlanes(format, size, picture.data());
    if (picture.empty()) {
        logLine("v4l2 camera size not supported: ", QString("%1x%2").arg(size.width()).arg(size.height()));
        return;
    }
    fillBlack(picture, format, size);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    nextOpen = Clock::now();
    worker = std::thread([this] { run(); });
}

V4L2LoopbackCamera::~V4L2LoopbackCamera()
{
    if (worker.joinable()) {
        stopping = true;
        wake();
        worker.join();
    }
    std::lock_guard guard(lock);
    closeLocked();
    if (wakeFd >= 0)
        close(wakeFd);
}

bool V4L2LoopbackCamera::watched() const
{
    if (!open.load())
        return false;
    const int reported = reportedReaders.load();
    if (reported >= 0)
        return reported > 0;
    std::lock_guard guard(demandLock);
    return watcher && watcher->watched();
}

bool V4L2LoopbackCamera::write(const FrameBuffer& frame, double, bool mirrored)
{
    if (!watched())
        return false;
    std::lock_guard guard(lock);
    if (!device)
        return false;
    const QImage& image = frame.image;
    // Only the rows that changed since the picture was last converted are converted
    // again; frames not written while nobody watched leave a gap, which redoes it whole.
    const bool sameSize = image.size() == size;
    damage.frameArrived(frame.sequence, sameSize ? frame.changed : std::nullopt, image.size(), mirrored);
    const CameraRows rows = damage.take(picture.data());
    bool convertible = isBgra(image.format());
    if (convertible && sameSize)
        convertible = writeCameraRows(image.constBits(), int(image.bytesPerLine()), size, format, planes, mirrored, rows);
    else if (convertible)
        convertible
            = writeCameraPicture(image.constBits(), int(image.bytesPerLine()), image.size(), format, planes, size, mirrored);
    if (!convertible) {
        // A picture left half written must be converted whole next time.
        damage.reset();
        if (!frameRefused)
            logLine("v4l2 camera cannot convert frame: ",
                QString("%1x%2 format %3").arg(image.width()).arg(image.height()).arg(int(image.format())));
        frameRefused = true;
        return false;
    }
    frameRefused = false;
    ++converted;
    return writePictureLocked();
}

void V4L2LoopbackCamera::wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t result = ::write(wakeFd, &one, sizeof one);
}

void V4L2LoopbackCamera::run()
{
    prctl(PR_SET_NAME, "v4l2 camera");
    while (!stopping.load()) {
        int events = -1;
        Clock::time_point deadline;
        {
            std::lock_guard guard(lock);
            const auto now = Clock::now();
            if (!device && now >= nextOpen)
                openLocked();
            if (device && now - lastWrite >= timing.keepAlive)
                writePictureLocked();
            if (device) {
                deadline = lastWrite + timing.keepAlive;
                events = eventsUsable ? device->eventDescriptor() : -1;
            } else {
                deadline = nextOpen;
            }
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {events, POLLPRI, 0}};
        const int ready = poll(fds, events >= 0 ? 2 : 1, static_cast<int>(std::max<int64_t>(0, wait.count())));
        if (ready <= 0)
            continue;
        if (fds[0].revents) {
            uint64_t count;
            [[maybe_unused]] const ssize_t result = read(wakeFd, &count, sizeof count);
        }
        if (events >= 0 && (fds[1].revents & POLLPRI)) {
            std::lock_guard guard(lock);
            if (device)
                if (const std::optional<int> readers = device->takeReaderCount())
                    reportedReaders = *readers;
        } else if (events >= 0 && fds[1].revents) {
            // The device reports errors instead of events: learn readers from the
            // node's opens rather than poll a descriptor that never settles.
            std::lock_guard guard(lock);
            if (device)
                watchOpensLocked();
        }
    }
}

void V4L2LoopbackCamera::openLocked()
{
    nextOpen = Clock::now() + timing.reopen;
    QString why;
    std::unique_ptr<LoopbackDevice> opened = openDevice(&why);
    if (!opened) {
        if (why != lastFailure)
            logLine("v4l2 loopback device not found: ", why);
        lastFailure = why;
        return;
    }
    if (!opened->setFormat(format, size, &why)) {
        const QString failure = "format " + why;
        if (failure != lastFailure)
            logLine("v4l2 format refused: ", opened->path() + ": " + why);
        lastFailure = failure;
        return;
    }
    if (lastFailure.isEmpty() || !lastFailure.startsWith("write "))
        logLine("v4l2 camera writes to ", opened->path());
    const bool reportsReaders = opened->subscribeReaderCount();
    eventsUsable = reportsReaders;
    device = std::move(opened);
    if (reportsReaders)
        reportedReaders = std::max(0, device->takeReaderCount().value_or(0));
    else
        watchOpensLocked();
    open = true;
    writePictureLocked();
}

void V4L2LoopbackCamera::watchOpensLocked()
{
    eventsUsable = false;
    auto openWatcher = std::make_unique<DeviceOpenWatcher>(device->path(), timing.settle);
    {
        std::lock_guard guard(demandLock);
        watcher = std::move(openWatcher);
    }
    reportedReaders = -1;
}

void V4L2LoopbackCamera::closeLocked()
{
    open = false;
    std::unique_ptr<DeviceOpenWatcher> stopped;
    {
        std::lock_guard guard(demandLock);
        stopped = std::move(watcher);
    }
    stopped.reset();
    reportedReaders = -1;
    device.reset();
}

bool V4L2LoopbackCamera::writePictureLocked()
{
    QString why;
    if (!device->write(picture.data(), picture.size(), &why)) {
        const QString failure = "write " + why;
        if (failure != lastFailure)
            logLine("v4l2 write failed: ", device->path() + ": " + why);
        lastFailure = failure;
        closeLocked();
        nextOpen = Clock::now() + timing.reopen;
        return false;
    }
    lastWrite = Clock::now();
    lastFailure.clear();
    ++written;
    return true;
}

} // namespace vistrale
