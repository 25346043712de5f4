#pragma once

#include "app/settings/settings.h"
#include "platform/fake/fake_platform.h"
#include "platform/notification_center.h"
#include "preview/vistrale_view_controller.h"

#include <QTemporaryDir>
#include <QThread>
#include <memory>

namespace vistrale::test {

// Window numbers far from the ids the offscreen platform gives this process's own
// windows, which the controller must not mistake for them.
inline constexpr qint64 WINDOW = 0x500000;

inline Window makeWindow(qint64 number, QRectF frame, QString owner = "xclock", std::optional<QString> title = "clock")
{
    Window window;
    window.windowNumber = number;
    window.frame = frame;
    window.applicationName = std::move(owner);
    window.windowName = std::move(title);
    window.pid = 4242;
    return window;
}

inline FrameRef makeFrame(QSize size, QColor colour)
{
    auto frame = std::make_shared<FrameBuffer>();
    frame->image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    frame->image.fill(colour);
    return frame;
}

// The controller in capture mode: the fake desktop offers capture streams that the
// test feeds.
struct CaptureHarness {
    // `prepare` sets up the fakes before the controller starts.
    explicit CaptureHarness(const std::function<void(FakePlatform&)>& prepare = {})
        : settings(Settings::atPath(dir.filePath("Vistrale.conf")))
    {
        if (prepare)
            prepare(fake);
        capture = fake.capture;
        platform = fake.take();
        vc = std::make_unique<VistraleViewController>(platform, *settings, nullptr);
        vc->view();
    }
    void share(const Window& window)
    {
        fake.windowServer->windows.append(window);
        fake.pointerKeys->location = window.frame.center();
        NotificationCenter::defaultCenter().post("keyboard", {{"label", "keyboard"}});
        fake.clock->advance(0.5);
    }
    std::shared_ptr<FakeCaptureService::Stream> streamOf(qint64 number)
    {
        std::shared_ptr<FakeCaptureService::Stream> found;
        for (const auto& stream : capture->streams)
            if (stream->windowNumber == number && !stream->stopped)
                found = stream;
        return found;
    }
    // Waits for the compositor to draw a frame after the current one.
    void nextOutputFrame()
    {
        const quint64 before = vc->compositor().framesDrawn();
        fake.clock->advance(0.05);
        for (int i = 0; i < 300 && vc->compositor().framesDrawn() == before; ++i)
            QThread::msleep(5);
        QThread::msleep(5);
    }

    QTemporaryDir dir;
    FakePlatform fake;
    FakeCaptureService* capture;
    Platform platform;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<VistraleViewController> vc;
};

} // namespace vistrale::test
