#include "platform/fake/fake_platform.h"

namespace vistrale {

namespace {

template <typename T, typename Base> T* install(std::unique_ptr<Base>& slot)
{
    auto object = std::make_unique<T>();
    T* raw = object.get();
    slot = std::move(object);
    return raw;
}

} // namespace

FakePlatform::FakePlatform()
{
    clock = install<FakeClock>(owned.clock);
    screens = install<FakeScreens>(owned.screens);
    windowServer = install<FakeWindowServer>(owned.windowServer);
    ownWindows = install<FakeOwnWindows>(owned.ownWindows);
    pointerKeys = install<FakePointerKeys>(owned.pointerKeys);
    capture = install<FakeCaptureService>(owned.capture);
    dialogs = install<FakeDialogs>(owned.dialogs);
    systemActions = install<FakeSystemActions>(owned.systemActions);
    sounds = install<FakeSounds>(owned.sounds);
    notifications = install<FakeNotifications>(owned.notifications);
    audio = install<FakeAudioDevices>(owned.audio);
    permissions = install<FakePermissions>(owned.permissions);
    clipboard = install<FakeClipboard>(owned.clipboard);
    camera = install<FakeCameraSystem>(owned.camera);
    privileged = install<FakePrivilegedRunner>(owned.privileged);
    webcams = install<FakeWebcams>(owned.webcams);
    media = install<FakeMedia>(owned.media);
    videoFiles = install<FakeVideoFiles>(owned.videoFiles);
    speech = install<FakeSpeechRecognition>(owned.speech);
    screens->setScreens({ScreenInfo{QRectF(0, 0, 1920, 1080), "fake-0", 1}});
}

Platform FakePlatform::take()
{
    return std::move(owned);
}

} // namespace vistrale
