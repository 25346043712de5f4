#pragma once

#include <QPointF>
#include <QPointer>

class QWidget;

namespace vistrale {

class OwnWindows;
class CursorRingWindow;

// The enhanced pointer on the desktop (`cursorEnhancedWindow`): a blue ring around the
// real pointer, 64 × 64 (128 × 128 magnified), in a frameless, round, click-through
// window that no window manager handles and that never shows in this application's
// captures. Main thread only.
class CursorWindowController {
public:
    explicit CursorWindowController(OwnWindows& ownWindows);
    ~CursorWindowController();
    CursorWindowController(const CursorWindowController&) = delete;
    CursorWindowController& operator=(const CursorWindowController&) = delete;

    // Centres the ring on the pointer `location` (global points) and shows it.
    void show(QPointF location, bool magnified);
    // Orders the ring out when it is shown.
    void hide();

    QWidget* window() const;

    static constexpr double SIZE = 64;
    static constexpr double GROWTH = 32;

    // State, by the design's names.
    bool alreadyHidden = true;
    QPointF currentLocation;
    bool isMagnified = false;

private:
    OwnWindows& ownWindows;
    QPointer<CursorRingWindow> ring;
};

} // namespace vistrale
