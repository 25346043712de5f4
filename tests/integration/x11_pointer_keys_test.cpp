#include "tests/integration/x11_client_window.h"
#include "tests/integration/x11_desktop_test.h"

#include <vector>

using namespace vistrale;
using namespace vistrale::test;

namespace {

constexpr quint32 KEY_F1 = 122;
constexpr quint32 KEY_6 = 22;

class X11PointerKeysTest : public X11DesktopTest {
protected:
    PointerKeys& keys() { return *backends->pointerKeys; }

    int xdotool(const QStringList& arguments) { return desktop.run("xdotool", arguments); }

    // Lets events arrive for a while, to see that nothing more comes.
    void settle(int ms = 300)
    {
        waitUntil([] { return false; }, ms);
    }
};

} // namespace

TEST_F(X11PointerKeysTest, ReportsThePointerInBottomLeftPoints)
{
    ASSERT_EQ(xdotool({"mousemove", "--sync", "100", "200"}), 0);
    EXPECT_EQ(keys().pointerLocation(), QPointF(100, 880));

    // The main monitor's bottom edge is the origin.
    ASSERT_TRUE(desktop.splitIntoMonitors({QRect(0, 0, 1280, 720), QRect(1280, 0, 640, 1080)}));
    ASSERT_EQ(xdotool({"mousemove", "--sync", "1500", "900"}), 0);
    EXPECT_EQ(keys().pointerLocation(), QPointF(1500, -180));
}

TEST_F(X11PointerKeysTest, ReportsModifiersAndButtons)
{
    EXPECT_EQ(keys().modifierFlags(), 0u);
    EXPECT_FALSE(keys().anyMouseButtonDown());

    xdotool({"keydown", "super+shift"});
    EXPECT_EQ(keys().modifierFlags(), unsigned(CommandFlag | ShiftFlag));
    xdotool({"keyup", "super+shift"});
    xdotool({"keydown", "alt+ctrl"});
    EXPECT_EQ(keys().modifierFlags(), unsigned(OptionFlag | ControlFlag));
    xdotool({"keyup", "alt+ctrl"});
    EXPECT_EQ(keys().modifierFlags(), 0u);
    xdotool({"key", "Caps_Lock"});
    EXPECT_EQ(keys().modifierFlags(), unsigned(CapsLockFlag));
    xdotool({"key", "Caps_Lock"});
    EXPECT_EQ(keys().modifierFlags(), 0u);

    xdotool({"mousedown", "1"});
    EXPECT_TRUE(keys().anyMouseButtonDown());
    xdotool({"mouseup", "1"});
    EXPECT_FALSE(keys().anyMouseButtonDown());
}

TEST_F(X11PointerKeysTest, FiresAHotKeyOncePerPressWhateverTheLocksUntilUnregistered)
{
    std::vector<quint32> fired;
    keys().setHotKeyHandler([&](quint32 id) { fired.push_back(id); });
    ASSERT_TRUE(keys().registerHotKey(7, KEY_F1, HOTKEY_COMMAND));
    // The same combination twice: releasing one keeps the other.
    ASSERT_TRUE(keys().registerHotKey(8, KEY_F1, HOTKEY_COMMAND));
    keys().unregisterHotKey(8);

    xdotool({"key", "super+F1"});
    ASSERT_TRUE(waitUntil([&] { return fired.size() == 1; }, 3000));
    settle();
    EXPECT_EQ(fired, std::vector<quint32>{7});

    // Num Lock on makes no difference; the key alone or with other modifiers is not ours.
    xdotool({"key", "Num_Lock"});
    xdotool({"key", "super+F1"});
    EXPECT_TRUE(waitUntil([&] { return fired.size() == 2; }, 3000));
    xdotool({"key", "Num_Lock"});
    xdotool({"key", "F1"});
    xdotool({"key", "super+shift+F1"});
    settle();
    EXPECT_EQ(fired.size(), 2u);

    keys().unregisterHotKey(7);
    xdotool({"key", "super+F1"});
    settle();
    EXPECT_EQ(fired.size(), 2u);
}

TEST_F(X11PointerKeysTest, FiresAHeldHotKeyOnceOnRelease)
{
    int fired = 0;
    keys().setHotKeyHandler([&](quint32) { ++fired; });
    ASSERT_TRUE(keys().registerHotKey(1, KEY_6, HOTKEY_CONTROL | HOTKEY_OPTION));

    xdotool({"keydown", "ctrl+alt+6"});
    // Longer than the keyboard's auto-repeat delay (660 ms by default).
    settle(1200);
    EXPECT_EQ(fired, 0) << "fires on release";
    xdotool({"keyup", "6"});
    xdotool({"keyup", "ctrl+alt"});
    EXPECT_TRUE(waitUntil([&] { return fired == 1; }, 3000));
    settle();
    EXPECT_EQ(fired, 1);
}

TEST_F(X11PointerKeysTest, RefusesCombinationsHeldByAnotherClientOrWithoutAKey)
{
    QString error;
    std::optional<X11Backends> other = connectX11(&error, desktop.display());
    ASSERT_TRUE(other) << error.toStdString();
    ASSERT_TRUE(other->pointerKeys->registerHotKey(1, KEY_F1, HOTKEY_COMMAND));

    EXPECT_FALSE(keys().registerHotKey(1, KEY_F1, HOTKEY_COMMAND));
    EXPECT_TRUE(keys().registerHotKey(2, KEY_F1, HOTKEY_COMMAND | HOTKEY_SHIFT));
    EXPECT_FALSE(keys().registerHotKey(3, 200, HOTKEY_COMMAND)) << "no such Mac key code";

    // Once the other lets go, the combination is free, and the refused attempt left no
    // grab behind that would block the other from taking it back later.
    other->pointerKeys->unregisterHotKey(1);
    EXPECT_TRUE(keys().registerHotKey(1, KEY_F1, HOTKEY_COMMAND));
    keys().unregisterHotKey(1);
    EXPECT_TRUE(other->pointerKeys->registerHotKey(1, KEY_F1, HOTKEY_COMMAND));
}

TEST_F(X11PointerKeysTest, MonitorsPointerAndModifierEventsAnywhere)
{
    const quint32 logo = startWindow("xlogo", {"-geometry", "400x400+100+100"});
    ASSERT_NE(logo, 0u);
    std::vector<PointerEvent> events;
    keys().setGlobalMonitor([&](const PointerEvent& e) { events.push_back(e); });
    auto count = [&](PointerEvent::Type type) {
        return std::count_if(events.begin(), events.end(), [&](const PointerEvent& e) { return e.type == type; });
    };
    xdotool({"mousemove", "--sync", "300", "300"});

    xdotool({"click", "1"});
    ASSERT_TRUE(waitUntil([&] { return count(PointerEvent::LeftMouseUp) == 1; }, 3000));
    EXPECT_EQ(count(PointerEvent::LeftMouseDown), 1);
    EXPECT_EQ(events.front().type, PointerEvent::LeftMouseDown);
    EXPECT_EQ(events.front().location, QPointF(300, 780));

    events.clear();
    xdotool({"mousedown", "1"});
    xdotool({"mousemove_relative", "--", "10", "10"});
    xdotool({"mouseup", "1"});
    xdotool({"mousemove_relative", "--", "5", "5"});
    ASSERT_TRUE(waitUntil([&] { return count(PointerEvent::MouseMoved) >= 1; }, 3000));
    EXPECT_GE(count(PointerEvent::LeftMouseDragged), 1);
    EXPECT_EQ(events.back().location, QPointF(315, 765));

    events.clear();
    xdotool({"keydown", "shift"});
    ASSERT_TRUE(waitUntil([&] { return count(PointerEvent::FlagsChanged) == 1; }, 3000));
    EXPECT_EQ(events.back().modifiers, unsigned(ShiftFlag));
    xdotool({"keyup", "shift"});
    ASSERT_TRUE(waitUntil([&] { return count(PointerEvent::FlagsChanged) == 2; }, 3000));
    EXPECT_EQ(events.back().modifiers, 0u);
    // Other keys change no flags.
    xdotool({"key", "a"});
    settle();
    EXPECT_EQ(count(PointerEvent::FlagsChanged), 2);

    keys().setGlobalMonitor({});
    events.clear();
    xdotool({"click", "1"});
    settle();
    EXPECT_TRUE(events.empty());
}

TEST_F(X11PointerKeysTest, GivesTheCursorImageAndHotSpot)
{
    xdotool({"mousemove", "--sync", "500", "500"});
    const CursorImage cursor = keys().cursorImage();
    ASSERT_FALSE(cursor.image.isNull());
    EXPECT_EQ(cursor.image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(QRectF(QPointF(0, 0), cursor.image.size()).contains(cursor.hotSpot));
    bool opaque = false;
    for (int y = 0; y < cursor.image.height(); ++y) {
        for (int x = 0; x < cursor.image.width(); ++x)
            opaque = opaque || qAlpha(cursor.image.pixel(x, y)) == 255;
    }
    EXPECT_TRUE(opaque);
}

TEST_F(X11PointerKeysTest, ReadsTheCursorImageAgainOnlyWhenTheServerShowsAnother)
{
    // A window with the I-beam of the cursor font, the pointer first beside it.
    ClientWindow window(desktop.display(), QRect(100, 100, 300, 200), "ibeam", true);
    const xcb_font_t font = xcb_generate_id(window.c);
    xcb_open_font(window.c, font, 6, "cursor");
    const xcb_cursor_t ibeam = xcb_generate_id(window.c);
    constexpr quint16 XC_XTERM = 152;
    xcb_create_glyph_cursor(window.c, ibeam, font, font, XC_XTERM, XC_XTERM + 1, 0, 0, 0, 0xffff, 0xffff, 0xffff);
    xcb_change_window_attributes(window.c, window.id, XCB_CW_CURSOR, &ibeam);
    window.map();
    xdotool({"mousemove", "--sync", "800", "600"});
    const CursorImage first = keys().cursorImage();
    ASSERT_FALSE(first.image.isNull());
    settle();
    // Nothing changed: the same picture, not a new read.
    EXPECT_EQ(keys().cursorImage().image.cacheKey(), first.image.cacheKey());

    xdotool({"mousemove", "--sync", "250", "200"});
    CursorImage over;
    ASSERT_TRUE(waitUntil(
        [&] {
            over = keys().cursorImage();
            return over.image.cacheKey() != first.image.cacheKey();
        },
        3000));
    EXPECT_NE(over.image, first.image);
}
