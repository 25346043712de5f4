// Lists the webcams the V4L2 backend finds and reads one picture from one of them,
// for tests that run it under the pw-v4l2 wrapper (which serves /dev/videoN paths to
// this process only). Prints "device<TAB>path<TAB>card" for every device path that
// opens (read here directly, to compare with the backend's list), one line per
// camera the backend lists, "camera<TAB>id<TAB>name", then for
// --read NAME either "frame<TAB>width<TAB>height<TAB>b,g,r,a" (the centre pixel) or
// "failure<TAB>kind<TAB>detail". Exit status 0 when everything asked for worked.
//
//     vistrale_webcam_probe --device /dev/video0 [--device ...] [--read NAME]

#include "platform/v4l2/v4l2_webcams.h"

#include <QFile>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <mutex>
#include <optional>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace vistrale;

int main(int argc, char** argv)
{
    QStringList devices;
    QString wanted;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString option = QString::fromLocal8Bit(argv[i]);
        if (option == "--device")
            devices.append(QString::fromLocal8Bit(argv[i + 1]));
        else if (option == "--read")
            wanted = QString::fromLocal8Bit(argv[i + 1]);
    }
    for (const QString& path : devices) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
        v4l2_capability capability{};
        if (fd >= 0 && ::ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0)
            std::printf("device\t%s\t%s\n", qPrintable(path), reinterpret_cast<const char*>(capability.card));
        if (fd >= 0)
            ::close(fd);
    }
    V4L2Webcams webcams(QStringLiteral("/dev"), devices);
    QString id;
    for (const WebcamInfo& camera : webcams.cameras()) {
        std::printf("camera\t%s\t%s\n", qPrintable(camera.id), qPrintable(camera.name));
        if (camera.name == wanted)
            id = camera.id;
    }
    std::fflush(stdout);
    if (wanted.isEmpty())
        return 0;
    if (id.isEmpty())
        return 1;

    std::mutex lock;
    std::condition_variable arrived;
    FrameRef frame;
    std::optional<std::pair<WebcamFailure, QString>> failure;
    auto stream = webcams.start(
        id,
        [&](FrameRef picture) {
            std::lock_guard guard(lock);
            if (!frame)
                frame = std::move(picture);
            arrived.notify_all();
        },
        [&](WebcamFailure kind, const QString& detail) {
            std::lock_guard guard(lock);
            failure = std::make_pair(kind, detail);
            arrived.notify_all();
        });
    if (!stream)
        return 1;
    std::unique_lock guard(lock);
    arrived.wait_for(guard, std::chrono::seconds(10), [&] { return frame || failure; });
    int status = 1;
    if (frame) {
        const QImage& image = frame->image;
        const uchar* pixel = image.constScanLine(image.height() / 2) + (image.width() / 2) * 4;
        std::printf(
            "frame\t%d\t%d\t%d,%d,%d,%d\n", image.width(), image.height(), pixel[0], pixel[1], pixel[2], pixel[3]);
        status = 0;
    } else if (failure) {
        std::printf("failure\t%s\t%s\n", qPrintable(webcamFailureText(failure->first)), qPrintable(failure->second));
    } else {
        std::printf("no frame\n");
    }
    std::fflush(stdout);
    guard.unlock();
    stream->stop();
    return status;
}
