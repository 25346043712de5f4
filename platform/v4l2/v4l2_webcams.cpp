#include "platform/v4l2/v4l2_webcams.h"

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/webcam/webcam_fit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace vistrale {
namespace {

constexpr int MAX_WIDTH = 1280;
constexpr int MAX_HEIGHT = 720;
constexpr int FRAMES_PER_SECOND = 30;
constexpr int SMOOTH_FRAMES_PER_SECOND = 24;
constexpr unsigned BUFFER_COUNT = 4;
// Device nodes appear before their permissions are set: a change is read after the
// folder has been quiet this long.
constexpr int SETTLE_MS = 200;
constexpr int POLL_MS = 500;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int xioctl(int fd, unsigned long request, void* argument)
{
    int result;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

WebcamFailure failureOfErrno(int error)
{
    if (error == EACCES || error == EPERM)
        return WebcamFailure::Denied;
    if (error == EBUSY || error == ENOSPC)
        return WebcamFailure::Busy;
    return WebcamFailure::Gone;
}

bool isVideoNode(const QString& fileName)
{
    if (!fileName.startsWith(QLatin1String("video")) || fileName.size() == 5)
        return false;
    return std::all_of(fileName.begin() + 5, fileName.end(), [](QChar c) { return c.isDigit(); });
}

QString cardName(const v4l2_capability& capability)
{
    const auto* card = reinterpret_cast<const char*>(capability.card);
    return QString::fromUtf8(card, static_cast<int>(strnlen(card, sizeof(capability.card)))).trimmed();
}

bool readableFormat(uint32_t pixelFormat)
{
    return pixelFormat == V4L2_PIX_FMT_YUYV || pixelFormat == V4L2_PIX_FMT_MJPEG;
}

struct Mode {
    uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    int fps = 0;
};

// The best rate up to 30 frames a second the device offers at one size; 30 when it
// does not say.
int bestRate(int fd, uint32_t pixelFormat, int width, int height)
{
    v4l2_frmivalenum interval{};
    interval.pixel_format = pixelFormat;
    interval.width = static_cast<uint32_t>(width);
    interval.height = static_cast<uint32_t>(height);
    int best = 0;
    for (interval.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0; ++interval.index) {
        const v4l2_fract fastest
            = interval.type == V4L2_FRMIVAL_TYPE_DISCRETE ? interval.discrete : interval.stepwise.min;
        if (fastest.numerator == 0)
            continue;
        const int rate = static_cast<int>((fastest.denominator + fastest.numerator / 2) / fastest.numerator);
        best = std::max(best, std::min(rate, FRAMES_PER_SECOND));
        if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE)
            break;
    }
    return best > 0 ? best : FRAMES_PER_SECOND;
}

// Every mode up to 720p the device offers in a format this reader converts.
std::vector<Mode> modesOf(int fd)
{
    std::vector<Mode> modes;
    v4l2_fmtdesc description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (description.index = 0; xioctl(fd, VIDIOC_ENUM_FMT, &description) == 0; ++description.index) {
        if (!readableFormat(description.pixelformat))
            continue;
        v4l2_frmsizeenum size{};
        size.pixel_format = description.pixelformat;
        bool listed = false;
        for (size.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            listed = true;
            int width = 0;
            int height = 0;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                width = static_cast<int>(size.discrete.width);
                height = static_cast<int>(size.discrete.height);
            } else {
                // A range: the largest size up to 720p on its steps.
                const auto fit = [](uint32_t least, uint32_t most, uint32_t step, int limit) {
                    const uint32_t wanted = std::min<uint32_t>(most, static_cast<uint32_t>(limit));
                    if (wanted < least)
                        return 0;
                    const uint32_t stride = std::max<uint32_t>(step, 1);
                    return static_cast<int>(least + (wanted - least) / stride * stride);
                };
                width = fit(size.stepwise.min_width, size.stepwise.max_width, size.stepwise.step_width, MAX_WIDTH);
                height = fit(size.stepwise.min_height, size.stepwise.max_height, size.stepwise.step_height, MAX_HEIGHT);
            }
            if (width > 0 && height > 0 && width <= MAX_WIDTH && height <= MAX_HEIGHT)
                modes.push_back(
                    {description.pixelformat, width, height, bestRate(fd, description.pixelformat, width, height)});
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE)
                break;
        }
        // Devices that do not list sizes adjust the one asked for.
        if (!listed)
            modes.push_back({description.pixelformat, MAX_WIDTH, MAX_HEIGHT, FRAMES_PER_SECOND});
    }
    return modes;
}

// A smooth rate first, then the largest picture, then the faster rate, then YUYV
// (cheaper to convert) before MJPEG.
std::optional<Mode> chooseMode(const std::vector<Mode>& modes)
{
    const auto rank = [](const Mode& mode) {
        return std::make_tuple(mode.fps >= SMOOTH_FRAMES_PER_SECOND, mode.width * mode.height, mode.fps,
            mode.pixelFormat == V4L2_PIX_FMT_YUYV);
    };
    const auto best
        = std::max_element(modes.begin(), modes.end(), [&](const Mode& a, const Mode& b) { return rank(a) < rank(b); });
    if (best == modes.end())
        return std::nullopt;
    return *best;
}

struct Device {
    QString path;
    WebcamInfo info;
};

// The camera at `path`, if it is one this reader can use and not Vistrale's own.
std::optional<Device> probe(const QString& path, const QString& deviceDir)
{
    const QByteArray local = QFile::encodeName(path);
    const int fd = ::open(local.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != EACCES && errno != EPERM)
            return std::nullopt;
        // Listed under its kernel name, so that the user learns access is denied.
        // Only a device's first node is a camera (the others carry metadata).
        const QString sys = QStringLiteral("/sys/class/video4linux/") + QFileInfo(path).fileName();
        QFile index(sys + QStringLiteral("/index"));
        QFile name(sys + QStringLiteral("/name"));
        if (!index.open(QIODevice::ReadOnly) || index.readAll().trimmed() != "0" || !name.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QString label = QString::fromUtf8(name.readAll()).trimmed();
        if (label.isEmpty() || isVistraleOwnCamera(label))
            return std::nullopt;
        return Device{path, WebcamInfo{path, label}};
    }
    v4l2_capability capability{};
    const bool queried = xioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
    const uint32_t caps
        = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    const bool camera = queried && (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
    const bool usable = camera && !modesOf(fd).empty();
    ::close(fd);
    const QString name = cardName(capability);
    if (!usable || isVistraleOwnCamera(name))
        return std::nullopt;

    Device device{path, WebcamInfo{path, name.isEmpty() ? QFileInfo(path).fileName() : name}};
    // A stable id where udev gives the camera one.
    const QDir byId(deviceDir + QStringLiteral("/v4l/by-id"));
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const QFileInfo& link : byId.entryInfoList(QDir::Files | QDir::System, QDir::Name)) {
        if (!canonical.isEmpty() && link.canonicalFilePath() == canonical) {
            device.info.id = link.absoluteFilePath();
            break;
        }
    }
    return device;
}

// One running camera: its device and its thread.
class V4L2WebcamStream : public WebcamStream {
public:
    V4L2WebcamStream(QString path, Webcams::FrameSink frames, Webcams::FailureSink failed)
        : path(std::move(path))
        , frames(std::move(frames))
        , failed(std::move(failed))
    {
        wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        worker = std::thread([this] { run(); });
    }
    ~V4L2WebcamStream() override { stop(); }

    void fitPicturesTo(QSize box) override { converter.fitTo(box); }

    void stop() override
    {
        if (!worker.joinable())
            return;
        stopping = true;
        const uint64_t one = 1;
        if (wake >= 0)
            (void)!::write(wake, &one, sizeof(one));
        worker.join();
        if (wake >= 0)
            ::close(wake);
        wake = -1;
    }

private:
    struct Mapped {
        void* start = MAP_FAILED;
        size_t length = 0;
    };

    void run();
    bool open();
    void capture();
    void release();
    bool deliver(const v4l2_buffer& buffer);
    void fail(WebcamFailure failure, const QString& detail);

    const QString path;
    const Webcams::FrameSink frames;
    const Webcams::FailureSink failed;
    std::thread worker;
    std::atomic<bool> stopping{false};
    int wake = -1;

    // Capture thread.
    int fd = -1;
    bool streaming = false;
    std::vector<Mapped> buffers;
    WebcamPixelFormat format = WebcamPixelFormat::YUY2;
    QSize size;
    int stride = 0;
    bool faultLogged = false;
    WebcamPictureConverter converter;
};

void V4L2WebcamStream::fail(WebcamFailure failure, const QString& detail)
{
    if (stopping)
        return;
    logLine("v4l2 webcams: camera " + webcamFailureText(failure) + ":", path + QStringLiteral(": ") + detail);
    failed(failure, detail);
}

void V4L2WebcamStream::run()
{
    pthread_setname_np(pthread_self(), "webcam capture");
    if (open())
        capture();
    release();
}

// Opens the device and starts streaming in the best mode; false, with the failure
// told, when the device cannot be used.
bool V4L2WebcamStream::open()
{
    const QByteArray local = QFile::encodeName(path);
    fd = ::open(local.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        fail(failureOfErrno(error), errnoText(error));
        return false;
    }
    const std::optional<Mode> mode = chooseMode(modesOf(fd));
    if (!mode) {
        fail(WebcamFailure::Gone, QStringLiteral("no YUYV or MJPEG mode up to 1280x720"));
        return false;
    }
    v4l2_format wanted{};
    wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    wanted.fmt.pix.pixelformat = mode->pixelFormat;
    wanted.fmt.pix.width = static_cast<uint32_t>(mode->width);
    wanted.fmt.pix.height = static_cast<uint32_t>(mode->height);
    wanted.fmt.pix.field = V4L2_FIELD_ANY;
    if (xioctl(fd, VIDIOC_S_FMT, &wanted) < 0) {
        const int error = errno;
        fail(failureOfErrno(error), QStringLiteral("format not set: ") + errnoText(error));
        return false;
    }
    // The driver may have adjusted the request: take what it set, if usable.
    const v4l2_pix_format& set = wanted.fmt.pix;
    if (!readableFormat(set.pixelformat) || set.width == 0 || set.height == 0 || set.width > MAX_WIDTH
        || set.height > MAX_HEIGHT) {
        fail(WebcamFailure::Gone,
            QStringLiteral("unusable format from the driver: %1x%2").arg(set.width).arg(set.height));
        return false;
    }
    format = set.pixelformat == V4L2_PIX_FMT_YUYV ? WebcamPixelFormat::YUY2 : WebcamPixelFormat::MJPG;
    size = QSize(static_cast<int>(set.width), static_cast<int>(set.height));
    stride = static_cast<int>(set.bytesperline);

    v4l2_streamparm rate{};
    rate.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    rate.parm.capture.timeperframe = v4l2_fract{1, static_cast<uint32_t>(mode->fps)};
    xioctl(fd, VIDIOC_S_PARM, &rate); // a device without rates keeps its own

    v4l2_requestbuffers request{};
    request.count = BUFFER_COUNT;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd, VIDIOC_REQBUFS, &request) < 0 || request.count == 0) {
        const int error = request.count == 0 ? ENOMEM : errno;
        fail(failureOfErrno(error), QStringLiteral("no buffers: ") + errnoText(error));
        return false;
    }
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (xioctl(fd, VIDIOC_QUERYBUF, &buffer) < 0) {
            const int error = errno;
            fail(failureOfErrno(error), QStringLiteral("buffer not queried: ") + errnoText(error));
            return false;
        }
        Mapped mapped;
        mapped.length = buffer.length;
        mapped.start = ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
        buffers.push_back(mapped);
        if (mapped.start == MAP_FAILED) {
            const int error = errno;
            fail(failureOfErrno(error), QStringLiteral("buffer not mapped: ") + errnoText(error));
            return false;
        }
        if (xioctl(fd, VIDIOC_QBUF, &buffer) < 0) {
            const int error = errno;
            fail(failureOfErrno(error), QStringLiteral("buffer not queued: ") + errnoText(error));
            return false;
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd, VIDIOC_STREAMON, &type) < 0) {
        const int error = errno;
        fail(failureOfErrno(error), QStringLiteral("not streaming: ") + errnoText(error));
        return false;
    }
    streaming = true;
    return true;
}

void V4L2WebcamStream::capture()
{
    while (!stopping) {
        pollfd watched[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        // A bounded wait, so that stopping never depends on the wake-up alone.
        const int ready = ::poll(watched, 2, POLL_MS);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            fail(WebcamFailure::Gone, errnoText(errno));
            return;
        }
        if (stopping || (watched[1].revents & POLLIN))
            return;
        if (!(watched[0].revents & (POLLIN | POLLERR | POLLHUP)))
            continue;
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd, VIDIOC_DQBUF, &buffer) < 0) {
            if (errno == EAGAIN)
                continue;
            // The device was unplugged or stopped answering.
            fail(WebcamFailure::Gone, errnoText(errno));
            return;
        }
        const bool delivered = deliver(buffer);
        if (xioctl(fd, VIDIOC_QBUF, &buffer) < 0) {
            fail(WebcamFailure::Gone, QStringLiteral("buffer not queued again: ") + errnoText(errno));
            return;
        }
        (void)delivered;
    }
}

// Converts one filled buffer and hands it to the core; a bad picture is dropped,
// told once per stream.
bool V4L2WebcamStream::deliver(const v4l2_buffer& buffer)
{
    WebcamPictureFault fault = WebcamPictureFault::None;
    std::shared_ptr<FrameBuffer> frame;
    if (buffer.index >= buffers.size() || (buffer.flags & V4L2_BUF_FLAG_ERROR)) {
        fault = WebcamPictureFault::Corrupt;
    } else {
        const Mapped& mapped = buffers[buffer.index];
        const size_t filled = std::min<size_t>(buffer.bytesused, mapped.length);
        const WebcamPlanes planes
            = webcamPackedPlanes(format, size, static_cast<const uint8_t*>(mapped.start), filled, stride);
        frame = converter.convert(format, size, planes, fault);
    }
    if (fault != WebcamPictureFault::None) {
        if (!faultLogged) {
            logLine("v4l2 webcams: picture dropped:",
                webcamPictureFaultText(fault)
                    + QStringLiteral(" %1x%2, %3 bytes").arg(size.width()).arg(size.height()).arg(buffer.bytesused));
        }
        faultLogged = true;
        return false;
    }
    frame->hostTime = hostClockNow();
    frames(std::move(frame));
    return true;
}

void V4L2WebcamStream::release()
{
    if (streaming) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(fd, VIDIOC_STREAMOFF, &type);
    }
    streaming = false;
    for (const Mapped& mapped : buffers) {
        if (mapped.start != MAP_FAILED)
            ::munmap(mapped.start, mapped.length);
    }
    buffers.clear();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

struct V4L2Webcams::Impl {
    Impl(QString deviceDir, QStringList fixed);
    ~Impl();

    std::vector<Device> scan() const;
    // Hot-plug thread, or the main thread before it starts.
    void refresh();
    void follow();

    const QString deviceDir;
    const QStringList fixed;
    int notifyFd = -1;
    int wake = -1;
    std::thread follower;

    std::mutex listLock;
    std::vector<Device> devices;
    std::mutex callbackLock;
    CamerasChanged changed;
};

V4L2Webcams::Impl::Impl(QString dir, QStringList fixedPaths)
    : deviceDir(std::move(dir))
    , fixed(std::move(fixedPaths))
{
    devices = scan();
    if (!fixed.isEmpty())
        return;
    notifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const QByteArray local = QFile::encodeName(deviceDir);
    if (notifyFd < 0 || wake < 0
        || ::inotify_add_watch(
               notifyFd, local.constData(), IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO)
            < 0) {
        logLine("v4l2 webcams: cameras plugged in later are not seen:", errnoText(errno));
        return;
    }
    follower = std::thread([this] { follow(); });
}

V4L2Webcams::Impl::~Impl()
{
    if (follower.joinable()) {
        const uint64_t one = 1;
        (void)!::write(wake, &one, sizeof(one));
        follower.join();
    }
    if (notifyFd >= 0)
        ::close(notifyFd);
    if (wake >= 0)
        ::close(wake);
}

std::vector<Device> V4L2Webcams::Impl::scan() const
{
    QStringList paths = fixed;
    if (paths.isEmpty()) {
        const QDir dir(deviceDir);
        for (const QString& name : dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            if (isVideoNode(name))
                paths.append(dir.absoluteFilePath(name));
        }
        // video2 before video10.
        std::sort(paths.begin(), paths.end(),
            [](const QString& a, const QString& b) { return a.size() != b.size() ? a.size() < b.size() : a < b; });
    }
    std::vector<Device> found;
    for (const QString& path : paths) {
        if (std::optional<Device> device = probe(path, deviceDir))
            found.push_back(*device);
    }
    return found;
}

void V4L2Webcams::Impl::refresh()
{
    std::vector<Device> now = scan();
    {
        std::lock_guard guard(listLock);
        const bool same = std::equal(now.begin(), now.end(), devices.begin(), devices.end(),
            [](const Device& a, const Device& b) { return a.path == b.path && a.info == b.info; });
        if (same)
            return;
        devices = std::move(now);
    }
    std::lock_guard guard(callbackLock);
    if (changed)
        changed();
}

void V4L2Webcams::Impl::follow()
{
    pthread_setname_np(pthread_self(), "webcam hotplug");
    alignas(inotify_event) char events[4096];
    bool pending = false;
    while (true) {
        pollfd watched[2] = {{notifyFd, POLLIN, 0}, {wake, POLLIN, 0}};
        const int ready = ::poll(watched, 2, pending ? SETTLE_MS : -1);
        if (ready < 0 && errno != EINTR)
            return;
        if (watched[1].revents & POLLIN)
            return;
        if (ready == 0 && pending) {
            pending = false;
            refresh();
            continue;
        }
        if (!(watched[0].revents & POLLIN))
            continue;
        ssize_t length;
        while ((length = ::read(notifyFd, events, sizeof(events))) > 0) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len > 0 && isVideoNode(QString::fromLocal8Bit(event->name)))
                    pending = true;
                // Links under v4l/ change with the nodes; the overflow loses names.
                if (event->mask & IN_Q_OVERFLOW)
                    pending = true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }
}

V4L2Webcams::V4L2Webcams(QString deviceDir, QStringList devices)
    : impl(std::make_unique<Impl>(std::move(deviceDir), std::move(devices)))
{
}

V4L2Webcams::~V4L2Webcams() = default;

std::vector<WebcamInfo> V4L2Webcams::cameras()
{
    std::lock_guard guard(impl->listLock);
    std::vector<WebcamInfo> list;
    for (const Device& device : impl->devices)
        list.push_back(device.info);
    return list;
}

void V4L2Webcams::setCamerasChanged(CamerasChanged changed)
{
    std::lock_guard guard(impl->callbackLock);
    impl->changed = std::move(changed);
}

std::unique_ptr<WebcamStream> V4L2Webcams::start(const QString& id, FrameSink frames, FailureSink failed)
{
    QString path;
    {
        std::lock_guard guard(impl->listLock);
        for (const Device& device : impl->devices) {
            if (device.info.id == id)
                path = device.path;
        }
    }
    if (path.isEmpty())
        return nullptr;
    return std::make_unique<V4L2WebcamStream>(path, std::move(frames), std::move(failed));
}

} // namespace vistrale
