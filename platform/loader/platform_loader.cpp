#include "platform/loader/platform_loader.h"

#include "camera/camera_activation.h"
#include "camera/loopback_state.h"
#include "platform/camera/linux_camera_system.h"
#include "platform/dbus/dbus_notifications.h"
#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_webcam.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/ffmpeg/ffmpeg_video_file.h"
#include "platform/log.h"
#include "platform/pipewire/pipewire_camera.h"
#include "platform/pipewire/pipewire_webcams.h"
#include "platform/pulse/pulse_audio_devices.h"
#include "platform/qt/qt_clock.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_privileged_runner.h"
#include "platform/qt/qt_services.h"
#include "platform/qt/qt_system_actions.h"
#include "platform/sphinx/sphinx_speech.h"
#include "platform/v4l2/v4l2_loopback_camera.h"
#include "platform/v4l2/v4l2_webcams.h"
#if VISTRALE_HAVE_X11
#include "platform/x11/x11_platform.h"
#endif

#include <QGuiApplication>
#include <optional>

namespace vistrale {
namespace {

void useFakeDesktop(Platform& platform)
{
    platform.windowServer = std::make_unique<FakeWindowServer>();
    platform.ownWindows = std::make_unique<FakeOwnWindows>();
    platform.pointerKeys = std::make_unique<FakePointerKeys>();
    platform.capture = nullptr;
}

// "Vistrale Camera" through the outputs VISTRALE_CAMERA names: "pipewire", "v4l2",
// "both" (the default) or "none".
std::unique_ptr<CameraSystem> makeCamera()
{
    QString choice = qEnvironmentVariable("VISTRALE_CAMERA", QStringLiteral("both"));
    if (choice == "none")
        return nullptr;
    if (choice != "pipewire" && choice != "v4l2" && choice != "both") {
        logLine("unknown VISTRALE_CAMERA, using both: ", choice);
        choice = QStringLiteral("both");
    }
    std::vector<std::unique_ptr<CameraOutput>> outputs;
    if (choice != "v4l2")
        outputs.push_back(std::make_unique<PipeWireCamera>());
    if (choice != "pipewire")
        outputs.push_back(std::make_unique<V4L2LoopbackCamera>());
    auto installable = std::make_shared<std::optional<bool>>();
    return std::make_unique<LinuxCameraSystem>(
        std::move(outputs), [] { return readLoopbackState("/sys").vistraleDevice; },
        [installable] {
            if (!installable->has_value())
                *installable = loopbackModuleAvailable();
            return **installable;
        });
}

// The webcams: through PipeWire when a daemon answers, else the V4L2 devices;
// VISTRALE_WEBCAM ("pipewire", "v4l2" or "none") insists on one.
std::unique_ptr<Webcams> makeWebcams()
{
    const QString choice = qEnvironmentVariable("VISTRALE_WEBCAM");
    if (choice == "none")
        return std::make_unique<FakeWebcams>(QStringLiteral("none"));
    if (choice == "v4l2")
        return std::make_unique<V4L2Webcams>();
    if (!choice.isEmpty() && choice != "pipewire")
        logLine("unknown VISTRALE_WEBCAM, choosing by the system:", choice);
    auto pipewire = std::make_unique<PipeWireWebcams>();
    if (choice == "pipewire" || pipewire->connected())
        return pipewire;
    return std::make_unique<V4L2Webcams>();
}

} // namespace

LoadedPlatform loadPlatform()
{
    LoadedPlatform loaded;
    Platform& platform = loaded.platform;
    platform.clock = std::make_unique<QtClock>();
    platform.screens = std::make_unique<QtScreens>();
    auto dialogs = std::make_unique<QtDialogs>();
    platform.systemActions = std::make_unique<QtSystemActions>(*dialogs);
    platform.dialogs = std::move(dialogs);
    platform.sounds = std::make_unique<QtSounds>();
    platform.notifications = std::make_unique<DBusNotifications>();
    // The microphone is recorded from PulseAudio's default input: the menu names that one.
    platform.audio = std::make_unique<PulseAudioDevices>();
    platform.permissions = std::make_unique<GrantedPermissions>();
    platform.clipboard = std::make_unique<QtClipboard>();
    platform.privileged = std::make_unique<QtPrivilegedRunner>();
    platform.camera = makeCamera();
    platform.webcams = makeWebcams();
    platform.media = std::make_unique<FfmpegMedia>();
    platform.videoFiles = std::make_unique<FFmpegVideoFiles>();
    platform.speech = std::make_unique<SphinxSpeechRecognition>();

    const QString forced = qEnvironmentVariable("VISTRALE_PLATFORM");
    if (forced == "fake") {
        useFakeDesktop(platform);
        loaded.desktop = "fake";
        loaded.problem = "VISTRALE_PLATFORM=fake";
        return loaded;
    }
    if (!forced.isEmpty() && forced != "x11")
        logLine("unknown VISTRALE_PLATFORM, using x11: ", forced);

#if VISTRALE_HAVE_X11
    if (QGuiApplication::platformName() == "xcb") {
        QString error;
        if (std::optional<X11Backends> x11 = connectX11(&error)) {
            platform.windowServer = std::move(x11->windowServer);
            platform.ownWindows = std::move(x11->ownWindows);
            platform.pointerKeys = std::move(x11->pointerKeys);
            platform.capture = std::move(x11->capture);
            loaded.desktop = "x11";
            return loaded;
        }
        loaded.problem = error;
    } else {
        loaded.problem = "this desktop is not an X11 session (Qt platform " + QGuiApplication::platformName() + ")";
    }
#else
    loaded.problem = "this build has no X11 support";
#endif
    useFakeDesktop(platform);
    loaded.desktop = "fake";
    return loaded;
}

} // namespace vistrale
