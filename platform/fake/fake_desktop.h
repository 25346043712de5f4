#pragma once

#include "platform/capture.h"
#include "platform/pointer_keys.h"
#include "platform/screens.h"
#include "platform/window_server.h"

#include <QHash>
#include <map>
#include <vector>

namespace vistrale {

// Screens a test sets up; `changeScreens` calls the change handler like a real
// display change would.
class FakeScreens : public Screens {
public:
    QList<ScreenInfo> screens() const override { return list; }
    void setChangeHandler(std::function<void()> handler) override { onChange = std::move(handler); }

    void setScreens(QList<ScreenInfo> screens) { list = std::move(screens); }
    void changeScreens(QList<ScreenInfo> screens);

private:
    QList<ScreenInfo> list;
    std::function<void()> onChange;
};

// A desktop of windows a test arranges front to back.
class FakeWindowServer : public WindowServer {
public:
    QList<Window> windowList(bool onScreenOnly) override;
    QList<qint64> stackingOrder() override;
    std::optional<Window> desktopWindow() override { return desktop; }
    std::optional<QRectF> windowBounds(qint64 windowNumber) override;
    void setDesktopChangeHandler(std::function<void()> handler) override { onDesktopChange = std::move(handler); }
    QImage imageWindow(qint64 windowNumber) override;
    QImage imageDisplay(quint32 displayId) override;
    bool supportsCaptureStreams() const override { return captureStreams; }

    // Front to back.
    QList<Window> windows;
    std::optional<Window> desktop;
    QHash<qint64, QImage> windowImages;
    QHash<quint32, QImage> displayImages;
    bool captureStreams = true;
    int currentDesktop = 0;
    void switchDesktop(int desktop);

private:
    std::function<void()> onDesktopChange;
};

// Records what the application asked of its own windows.
class FakeOwnWindows : public OwnWindows {
public:
    void setKeepAbove(quintptr nativeId, bool above) override { keepAbove[nativeId] = above; }
    void setOnAllDesktops(quintptr nativeId) override { onAllDesktops.push_back(nativeId); }
    void setAspectRatio(quintptr nativeId, int width, int height) override { aspect[nativeId] = {width, height}; }
    void setClickThrough(quintptr nativeId) override { clickThrough.push_back(nativeId); }
    void orderAbove(quintptr nativeId, qint64 windowNumber) override { orderedAbove[nativeId] = windowNumber; }

    std::map<quintptr, bool> keepAbove;
    std::vector<quintptr> onAllDesktops;
    std::map<quintptr, std::pair<int, int>> aspect;
    std::vector<quintptr> clickThrough;
    std::map<quintptr, qint64> orderedAbove;
};

// A pointer and keyboard a test moves and presses.
class FakePointerKeys : public PointerKeys {
public:
    QPointF pointerLocation() override { return location; }
    unsigned modifierFlags() override { return modifiers; }
    bool anyMouseButtonDown() override { return buttonDown; }
    void setGlobalMonitor(std::function<void(const PointerEvent&)> handler) override { monitor = std::move(handler); }
    bool registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) override;
    void unregisterHotKey(quint32 id) override { hotKeys.erase(id); }
    void setHotKeyHandler(std::function<void(quint32 id)> handler) override { onHotKey = std::move(handler); }
    CursorImage cursorImage() override
    {
        ++cursorImageReads;
        return cursor;
    }
    std::optional<PointerState> pointerState() override
    {
        ++pointerStateReads;
        return PointerState{location, modifiers, buttonDown};
    }

    // Presses a registered combination; false when nothing is registered for it.
    bool pressHotKey(quint32 keyCode, quint32 modifiers);
    void sendEvent(const PointerEvent& event);

    struct HotKey {
        quint32 keyCode;
        quint32 modifiers;
    };
    std::map<quint32, HotKey> hotKeys;
    // Combinations another client holds: registering them fails.
    std::vector<std::pair<quint32, quint32>> takenByOthers;
    QPointF location;
    unsigned modifiers = 0;
    bool buttonDown = false;
    CursorImage cursor;
    int cursorImageReads = 0;
    int pointerStateReads = 0;

private:
    std::function<void(const PointerEvent&)> monitor;
    std::function<void(quint32)> onHotKey;
};

// Capture streams a test feeds by hand.
class FakeCaptureService : public CaptureService {
public:
    struct Stream {
        qint64 windowNumber = 0; // 0 for a display stream
        quint32 displayId = 0;
        QSize size;
        FrameSink frames;
        ErrorSink errors;
        bool stopped = false;
        // The stamps frameShown() was called with, in order.
        std::vector<double> shown;
    };

    std::unique_ptr<CaptureStream> startWindow(
        qint64 windowNumber, QSize pointSize, FrameSink frames, ErrorSink errors) override;
    std::unique_ptr<CaptureStream> startDisplay(
        quint32 displayId, QSize pointSize, FrameSink frames, ErrorSink errors) override;

    // Every stream started, in order; entries stay after they stop.
    std::vector<std::shared_ptr<Stream>> streams;
    // Window numbers whose streams fail to start.
    std::vector<qint64> refused;
};

} // namespace vistrale
