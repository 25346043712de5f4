// The controller's side of the camera: finding the device, asking it every 2 s
// whether a client watches, starting and stopping its sink, and queueing output
// frames into it one at a time.
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/vistrale_view_controller.h"

#include <QUuid>

namespace vistrale {
namespace {

constexpr double VERY_SLOW_INTERVAL = 2.0;

QString canonicalCameraUid()
{
    return QUuid(QString::fromLatin1(VISTRALE_CAMERA_UUID)).toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

void VistraleViewController::connectToVistraleCamera()
{
    logLine("connectToVistraleCamera");
    if (!platform.camera)
        return;
    const QString wanted = canonicalCameraUid();
    for (const quint32 device : platform.camera->devices()) {
        if (platform.camera->deviceUid(device) != wanted)
            continue;
        myDeviceID = device;
        const std::vector<quint32> found = platform.camera->streams(device);
        if (found.size() == 2) {
            vistraleSinkStream = found[1];
            logLine("found sink stream ", static_cast<qint64>(found[1]));
        }
        if (!found.empty())
            vistraleStream = found[0];
        return;
    }
}

void VistraleViewController::startVerySlowTimer()
{
    veryslowtimer.reset();
    std::weak_ptr<bool> token = alive;
    veryslowtimer = platform.clock->every(VERY_SLOW_INTERVAL, [this, token] {
        if (!token.expired())
            veryslowTimerFunc();
    });
}

void VistraleViewController::veryslowTimerFunc()
{
    if (!platform.camera || !vistraleStream || !captureStarted)
        return;
    platform.camera->setControlString(*vistraleStream, QString::number(count));
    if (const std::optional<QString> control = platform.camera->controlString(*vistraleStream))
        handOff.needToStream = (*control == "sc=1");
    if (!handOff.needToStream) {
        // On the camera queue, behind any start still running, so that a stop never
        // overtakes the start it should undo.
        if (hasSinkQueue() || sinkStarting.load())
            cameraQueue.async([this] { stopSink(); });
        return;
    }
    if (hasSinkQueue() || !myDeviceID || !vistraleSinkStream)
        return;
    // One start at a time: a poll that comes while the last one still runs waits for
    // its outcome.
    bool idle = false;
    if (!sinkStarting.compare_exchange_strong(idle, true))
        return;
    const quint32 device = *myDeviceID;
    const quint32 sink = *vistraleSinkStream;
    cameraQueue.async([this, device, sink] {
        initSink(device, sink);
        sinkStarting = false;
    });
}

void VistraleViewController::initSink(quint32 device, quint32 sinkStream)
{
    std::shared_ptr<CameraSinkQueue> queue;
    if (platform.camera->copyBufferQueue(
            sinkStream, [this] { handOff.taken(); }, &queue)
        != 0) {
        logLine("error starting sink");
        return;
    }
    if (queue) {
        std::lock_guard guard(cameraLock);
        sinkQueue = queue;
    }
    const int result = platform.camera->startStream(device, sinkStream);
    if (result != 0) {
        logLine("initSink error startstream");
        return;
    }
    logLine("initSink resultStart=", result);
    // A new queue has nothing in flight.
    handOff.enqueued = false;
    handOff.readyToEnqueue = false;
    cameraSinkStarted([this](const FrameRef& frame) {
        std::shared_ptr<CameraSinkQueue> current;
        {
            std::lock_guard guard(cameraLock);
            current = sinkQueue;
        }
        if (!current)
            return;
        // A full queue keeps what it holds; the new frame is lost.
        if (current->count() >= current->capacity()
            || !current->enqueue(frame, platform.clock->now(), mirrorVistraleCamera.load()))
            logLine(USE_SCREENCAPTUREKIT ? "error enqueuing, queue is full" : "error enqueuing");
    });
}

bool VistraleViewController::offerCameraInstall()
{
    // The PipeWire camera needs no installation; the one for V4L2 readers is offered
    // only where its kernel module exists, since installing it fails anywhere else.
    if (!platform.camera || platform.camera->deviceInstalled() || !platform.camera->deviceInstallable())
        return false;
    if (!confirmationDialog(*platform.dialogs, tr("Vistrale Camera"),
            tr("Would you like to install the Vistrale camera now?"), tr("Activate"), tr("Cancel")))
        return false;
    activateVistraleCamera();
    return true;
}

CameraActivation* VistraleViewController::cameraSetUp()
{
    if (!cameraActivation && platform.privileged && platform.dialogs)
        cameraActivation
            = std::make_unique<CameraActivation>(*platform.privileged, *platform.dialogs, cameraSetupPaths);
    if (!cameraActivation)
        logLine("camera activation unavailable: no administrator runner");
    return cameraActivation.get();
}

void VistraleViewController::activateVistraleCamera()
{
    // The V4L2 output looks for its device every 2 s, so the new device is taken up
    // without more work here.
    if (CameraActivation* activation = cameraSetUp())
        activation->activation();
}

void VistraleViewController::deactivateVistraleCamera()
{
    if (CameraActivation* activation = cameraSetUp())
        activation->deactivation();
}

void VistraleViewController::shutDownCamera()
{
    // The camera's thread calls back into this controller while its sink runs: let a
    // start still in progress finish, then stop the sink, both on the camera queue.
    veryslowtimer.reset();
    cameraQueue.async([this] { stopSink(); });
    cameraQueue.drain();
    handOff.setSink({});
}

bool VistraleViewController::hasSinkQueue() const
{
    std::lock_guard guard(cameraLock);
    return static_cast<bool>(sinkQueue);
}

void VistraleViewController::stopSink()
{
    std::shared_ptr<CameraSinkQueue> dropped;
    {
        std::lock_guard guard(cameraLock);
        if (!sinkQueue)
            return;
        dropped = std::move(sinkQueue);
    }
    handOff.setSink({});
    if (myDeviceID && vistraleSinkStream) {
        const int result = platform.camera->stopStream(*myDeviceID, *vistraleSinkStream);
        if (result != 0)
            logLine("stopSink error stop stream");
        else
            logLine("stopSink resultStop=", result);
    }
    // A frame still in flight is never taken now; the next sink starts afresh.
    handOff.enqueued = false;
}

} // namespace vistrale
