#pragma once

#include "platform/fake/fake_camera.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_media.h"
#include "platform/fake/fake_privileged_runner.h"
#include "platform/fake/fake_services.h"
#include "platform/fake/fake_speech.h"
#include "platform/fake/fake_video_files.h"
#include "platform/fake/fake_webcam.h"
#include "platform/platform.h"

namespace vistrale {

// A whole platform of fakes, with typed access to each for the test that drives it.
// One 1920 × 1080 screen and a granted capture permission unless the test changes them.
struct FakePlatform {
    FakePlatform();
    // Moves the fakes into a Platform; the typed pointers stay valid while it lives.
    Platform take();

    FakeClock* clock;
    FakeScreens* screens;
    FakeWindowServer* windowServer;
    FakeOwnWindows* ownWindows;
    FakePointerKeys* pointerKeys;
    FakeCaptureService* capture;
    FakeDialogs* dialogs;
    FakeSystemActions* systemActions;
    FakeSounds* sounds;
    FakeNotifications* notifications;
    FakeAudioDevices* audio;
    FakePermissions* permissions;
    FakeClipboard* clipboard;
    FakeCameraSystem* camera;
    FakePrivilegedRunner* privileged;
    FakeWebcams* webcams;
    FakeMedia* media;
    FakeVideoFiles* videoFiles;
    FakeSpeechRecognition* speech;

private:
    Platform owned;
};

} // namespace vistrale
