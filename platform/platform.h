#pragma once

#include "platform/camera.h"
#include "platform/capture.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/media.h"
#include "platform/notifications.h"
#include "platform/permissions.h"
#include "platform/pointer_keys.h"
#include "platform/privileged_runner.h"
#include "platform/screens.h"
#include "platform/sounds.h"
#include "platform/speech.h"
#include "platform/system_actions.h"
#include "platform/video_file.h"
#include "platform/webcam.h"
#include "platform/window_server.h"

#include <memory>

namespace vistrale {

// Every service the core talks to. Owned by the application for the whole run.
struct Platform {
    std::unique_ptr<Clock> clock;
    std::unique_ptr<Screens> screens;
    std::unique_ptr<WindowServer> windowServer;
    std::unique_ptr<OwnWindows> ownWindows;
    std::unique_ptr<PointerKeys> pointerKeys;
    // Null where the desktop offers no live capture streams (image mode).
    std::unique_ptr<CaptureService> capture;
    std::unique_ptr<Dialogs> dialogs;
    std::unique_ptr<SystemActions> systemActions;
    std::unique_ptr<Sounds> sounds;
    std::unique_ptr<DistributedNotifications> notifications;
    std::unique_ptr<AudioDevices> audio;
    std::unique_ptr<Permissions> permissions;
    std::unique_ptr<Clipboard> clipboard;
    // The camera other applications read; null when this build has none.
    std::unique_ptr<CameraSystem> camera;
    // Runs the camera set-up as the administrator.
    std::unique_ptr<PrivilegedRunner> privileged;
    // The webcams the user can show; never null (a backend without cameras at least).
    std::unique_ptr<Webcams> webcams;
    // The recorder's movie writer, microphone and merge.
    std::unique_ptr<Media> media;
    // Reads backdrop videos; never null.
    std::unique_ptr<VideoFiles> videoFiles;
    // Speech recognition of the default audio input, for the captions; never null.
    std::unique_ptr<SpeechRecognition> speech;
};

} // namespace vistrale
