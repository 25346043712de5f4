#include "platform/v4l2/loopback_device.h"

#include "platform/v4l2/find_loopback_device.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vistrale {

namespace {

// v4l2loopback 0.13's report of its readers: the event's data starts with the
// count of capture clients that stream.
constexpr quint32 CLIENT_USAGE_EVENT = V4L2_EVENT_PRIVATE_START + 0x08E00000 + 1;

QString lastError()
{
    return QString::fromLocal8Bit(strerror(errno));
}

quint32 fourcc(CameraPixelFormat format)
{
    switch (format) {
    case CameraPixelFormat::BGRx:
    case CameraPixelFormat::BGRA:
        return V4L2_PIX_FMT_BGR32;
    case CameraPixelFormat::YUY2:
        return V4L2_PIX_FMT_YUYV;
    case CameraPixelFormat::I420:
        return V4L2_PIX_FMT_YUV420;
    case CameraPixelFormat::NV12:
        return V4L2_PIX_FMT_NV12;
    }
    return 0;
}

bool isRgb(CameraPixelFormat format)
{
    return format == CameraPixelFormat::BGRx || format == CameraPixelFormat::BGRA;
}

class V4L2LoopbackDevice : public LoopbackDevice {
public:
    V4L2LoopbackDevice(QString path, int fd)
        : nodePath(std::move(path))
        , fd(fd)
    {
    }
    ~V4L2LoopbackDevice() override { close(fd); }

    QString path() const override { return nodePath; }

    bool setFormat(CameraPixelFormat format, QSize size, QString* error) override
    {
        const int bytes = cameraPictureBytes(format, size);
        if (bytes == 0) {
            *error = QString("unsupported size %1x%2").arg(size.width()).arg(size.height());
            return false;
        }
        const CameraPlanes planes = cameraPackedPlanes(format, size, nullptr);
        v4l2_format wanted;
        std::memset(&wanted, 0, sizeof wanted);
        wanted.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
        v4l2_pix_format& pix = wanted.fmt.pix;
        pix.width = size.width();
        pix.height = size.height();
        pix.pixelformat = fourcc(format);
        pix.field = V4L2_FIELD_NONE;
        pix.bytesperline = planes.stride[0] ? planes.stride[0] : (isRgb(format) ? size.width() * 4 : size.width());
        pix.sizeimage = bytes;
        // The colours as the conversions write them, so that readers decode them truly.
        if (isRgb(format)) {
            pix.colorspace = V4L2_COLORSPACE_SRGB;
            pix.ycbcr_enc = V4L2_YCBCR_ENC_DEFAULT;
            pix.quantization = V4L2_QUANTIZATION_FULL_RANGE;
            pix.xfer_func = V4L2_XFER_FUNC_SRGB;
        } else {
            static_assert(CAMERA_YUV_MATRIX == CameraYuvMatrix::BT601 && CAMERA_YUV_RANGE == CameraYuvRange::Limited);
            pix.colorspace = V4L2_COLORSPACE_SMPTE170M;
            pix.ycbcr_enc = V4L2_YCBCR_ENC_601;
            pix.quantization = V4L2_QUANTIZATION_LIM_RANGE;
            pix.xfer_func = V4L2_XFER_FUNC_709;
        }
        const v4l2_pix_format asked = pix;
        if (ioctl(fd, VIDIOC_S_FMT, &wanted) != 0) {
            *error = lastError();
            return false;
        }
        if (pix.pixelformat != asked.pixelformat || pix.width != asked.width || pix.height != asked.height) {
            *error = QString("device chose %1x%2 of another pixel format").arg(pix.width).arg(pix.height);
            return false;
        }
        if (pix.sizeimage != 0 && pix.sizeimage != asked.sizeimage) {
            *error = QString("device expects %1 bytes per picture, not %2").arg(pix.sizeimage).arg(asked.sizeimage);
            return false;
        }
        return true;
    }

    bool write(const uint8_t* data, size_t bytes, QString* error) override
    {
        ssize_t written;
        do {
            written = ::write(fd, data, bytes);
        } while (written < 0 && errno == EINTR);
        if (written < 0) {
            *error = lastError();
            return false;
        }
        if (static_cast<size_t>(written) != bytes) {
            *error = QString("wrote %1 of %2 bytes").arg(written).arg(bytes);
            return false;
        }
        return true;
    }

    bool subscribeReaderCount() override
    {
        v4l2_event_subscription subscription;
        std::memset(&subscription, 0, sizeof subscription);
        subscription.type = CLIENT_USAGE_EVENT;
        subscription.flags = V4L2_EVENT_SUB_FL_SEND_INITIAL;
        subscribed = ioctl(fd, VIDIOC_SUBSCRIBE_EVENT, &subscription) == 0;
        return subscribed;
    }

    int eventDescriptor() const override { return subscribed ? fd : -1; }

    std::optional<int> takeReaderCount() override
    {
        std::optional<int> count;
        if (!subscribed)
            return count;
        v4l2_event event;
        while (true) {
            std::memset(&event, 0, sizeof event);
            if (ioctl(fd, VIDIOC_DQEVENT, &event) != 0)
                break;
            if (event.type != CLIENT_USAGE_EVENT)
                continue;
            quint32 readers;
            std::memcpy(&readers, event.u.data, sizeof readers);
            count = static_cast<int>(std::min<quint32>(readers, 1 << 16));
        }
        return count;
    }

private:
    QString nodePath;
    int fd;
    bool subscribed = false;
};

} // namespace

std::unique_ptr<LoopbackDevice> openV4L2LoopbackDevice(const QString& path, QString* error)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": " + lastError();
        return nullptr;
    }
    return std::make_unique<V4L2LoopbackDevice>(path, fd);
}

std::unique_ptr<LoopbackDevice> openV4L2LoopbackDeviceNamed(const QString& cardName, QString* error)
{
    const std::optional<QString> path = findLoopbackDevice(cardName);
    if (!path) {
        *error = cardName;
        return nullptr;
    }
    return openV4L2LoopbackDevice(*path, error);
}

} // namespace vistrale
