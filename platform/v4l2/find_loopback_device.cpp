#include "platform/v4l2/find_loopback_device.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace vistrale {

namespace {

// The name the kernel gives the node (v4l2loopback's card_label), none when sysfs
// does not say.
std::optional<QString> kernelName(const QString& node)
{
    QFile file("/sys/class/video4linux/" + node + "/name");
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.read(256)).trimmed();
}

bool queryIsLoopbackOutput(const QString& path, const QString& cardName)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    v4l2_capability capability;
    std::memset(&capability, 0, sizeof capability);
    const bool answered = ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
    close(fd);
    return answered && isLoopbackOutput(capability, cardName);
}

} // namespace

bool isLoopbackOutput(const v4l2_capability& capability, const QString& cardName)
{
    const auto* card = reinterpret_cast<const char*>(capability.card);
    const QString name = QString::fromUtf8(card, static_cast<int>(strnlen(card, sizeof capability.card)));
    if (name != cardName)
        return false;
    const quint32 caps
        = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    return (caps & V4L2_CAP_VIDEO_OUTPUT) != 0;
}

std::optional<QString> findLoopbackDevice(const QString& cardName)
{
    std::vector<std::pair<int, QString>> nodes;
    for (const QString& node : QDir("/dev").entryList({"video*"}, QDir::System | QDir::Files)) {
        bool numbered = false;
        const int number = node.mid(5).toInt(&numbered);
        if (numbered)
            nodes.push_back({number, node});
    }
    std::sort(nodes.begin(), nodes.end());
    for (const auto& [number, node] : nodes) {
        const std::optional<QString> name = kernelName(node);
        if (name && *name != cardName)
            continue;
        const QString path = "/dev/" + node;
        if (queryIsLoopbackOutput(path, cardName))
            return path;
    }
    return std::nullopt;
}

} // namespace vistrale
