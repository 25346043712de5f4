#include "platform/fake/fake_desktop.h"

#include <algorithm>

namespace vistrale {

void FakeScreens::changeScreens(QList<ScreenInfo> screens)
{
    list = std::move(screens);
    if (onChange)
        onChange();
}

QList<Window> FakeWindowServer::windowList(bool onScreenOnly)
{
    QList<Window> result;
    for (const Window& window : windows) {
        const bool visible = !window.minimised && (window.desktop < 0 || window.desktop == currentDesktop);
        if (!onScreenOnly || visible)
            result.append(window);
    }
    return result;
}

QList<qint64> FakeWindowServer::stackingOrder()
{
    QList<qint64> order;
    for (const Window& window : windows)
        order.append(window.windowNumber);
    return order;
}

std::optional<QRectF> FakeWindowServer::windowBounds(qint64 windowNumber)
{
    for (const Window& window : windows)
        if (window.windowNumber == windowNumber)
            return window.frame;
    return std::nullopt;
}

QImage FakeWindowServer::imageWindow(qint64 windowNumber)
{
    return windowImages.value(windowNumber);
}

QImage FakeWindowServer::imageDisplay(quint32 displayId)
{
    return displayImages.value(displayId);
}

void FakeWindowServer::switchDesktop(int desktop)
{
    currentDesktop = desktop;
    if (onDesktopChange)
        onDesktopChange();
}

bool FakePointerKeys::registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers)
{
    const auto combination = std::make_pair(keyCode, modifiers);
    if (std::find(takenByOthers.begin(), takenByOthers.end(), combination) != takenByOthers.end())
        return false;
    hotKeys[id] = HotKey{keyCode, modifiers};
    return true;
}

bool FakePointerKeys::pressHotKey(quint32 keyCode, quint32 modifiers)
{
    for (const auto& [id, key] : hotKeys) {
        if (key.keyCode == keyCode && key.modifiers == modifiers) {
            if (onHotKey)
                onHotKey(id);
            return true;
        }
    }
    return false;
}

void FakePointerKeys::sendEvent(const PointerEvent& event)
{
    location = event.location;
    modifiers = event.modifiers;
    if (monitor)
        monitor(event);
}

namespace {

class FakeStream : public CaptureStream {
public:
    explicit FakeStream(std::shared_ptr<FakeCaptureService::Stream> stream)
        : stream(std::move(stream))
    {
    }
    void reconfigure(QSize pointSize) override { stream->size = pointSize; }
    void stop() override { stream->stopped = true; }
    void frameShown(double hostTime) override { stream->shown.push_back(hostTime); }

private:
    std::shared_ptr<FakeCaptureService::Stream> stream;
};

} // namespace

std::unique_ptr<CaptureStream> FakeCaptureService::startWindow(
    qint64 windowNumber, QSize pointSize, FrameSink frames, ErrorSink errors)
{
    if (std::find(refused.begin(), refused.end(), windowNumber) != refused.end())
        return nullptr;
    auto stream
        = std::make_shared<Stream>(Stream{windowNumber, 0, pointSize, std::move(frames), std::move(errors), false, {}});
    streams.push_back(stream);
    return std::make_unique<FakeStream>(stream);
}

std::unique_ptr<CaptureStream> FakeCaptureService::startDisplay(
    quint32 displayId, QSize pointSize, FrameSink frames, ErrorSink errors)
{
    auto stream
        = std::make_shared<Stream>(Stream{0, displayId, pointSize, std::move(frames), std::move(errors), false, {}});
    streams.push_back(stream);
    return std::make_unique<FakeStream>(stream);
}

} // namespace vistrale
