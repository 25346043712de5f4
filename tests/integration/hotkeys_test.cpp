#include "app/hotkeys.h"
#include "platform/notification_center.h"
#include "tests/integration/x11_desktop_test.h"

#include <QStringList>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

constexpr quint32 KEYSYM_F1 = 0xffbe;

// The application's hot keys through the real X11 backend on a fresh desktop, pressed
// by xdotool (XTEST) as a user's keyboard would.
class HotKeysOnX11 : public X11DesktopTest {
protected:
    void SetUp() override
    {
        X11DesktopTest::SetUp();
        if (HasFatalFailure())
            return;
        center.addObserver(
            KEYBOARD_NOTIFICATION, [this](const QVariantMap& info) { posted << info.value("label").toString(); });
        hotkeys = std::make_unique<HotkeySolution>(*backends->pointerKeys, center);
    }
    void TearDown() override { hotkeys.reset(); }

    int xdotool(const QStringList& arguments) { return desktop.run("xdotool", arguments); }
    // Lets the backend read what the server sent for `ms` milliseconds.
    static void settle(int ms)
    {
        waitUntil([] { return false; }, ms);
    }

    NotificationCenter center;
    QStringList posted;
    std::unique_ptr<HotkeySolution> hotkeys;
};

// Another X client that holds a passive grab of one combination on the root.
class KeyGrabber {
public:
    KeyGrabber(const QString& display, quint32 keysym, quint16 modifiers)
    {
        c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
        keycode = codes ? codes[0] : 0;
        free(codes);
        xcb_key_symbols_free(symbols);
        mask = modifiers;
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_grab_key_checked(c, 1, root, mask, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        grabbed = keycode != 0 && !error;
        free(error);
    }
    ~KeyGrabber()
    {
        xcb_ungrab_key(c, keycode, root, mask);
        xcb_flush(c);
        xcb_disconnect(c);
    }
    KeyGrabber(const KeyGrabber&) = delete;
    KeyGrabber& operator=(const KeyGrabber&) = delete;

    bool grabbed = false;

private:
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    xcb_keycode_t keycode = 0;
    quint16 mask = 0;
};

} // namespace

TEST_F(HotKeysOnX11, EachFixedHotKeyAndTheShortcutPostOnceEvenWithCapsLockOn)
{
    hotkeys->registerHotKeys(defaultShortcut());
    ASSERT_EQ(hotkeys->activeIds().size(), 4u);
    const std::pair<const char*, QString> presses[] = {{"super+F1", "keyboard"},
        {"ctrl+shift+super+6", "copyscreenshot"}, {"shift+super+6", "screenshot"}, {"ctrl+super+Return", "webcam"}};
    QStringList expected;
    for (const auto& [keys, label] : presses) {
        ASSERT_EQ(xdotool({"key", keys}), 0);
        expected << label;
        ASSERT_TRUE(waitUntil([&] { return posted.size() == expected.size(); }, 3000)) << keys;
    }
    // Super+6 alone and Super+Return alone are nobody's hot keys.
    ASSERT_EQ(xdotool({"key", "super+6", "super+Return"}), 0);
    ASSERT_EQ(xdotool({"key", "Caps_Lock"}), 0);
    ASSERT_EQ(xdotool({"key", "super+F1"}), 0);
    EXPECT_TRUE(waitUntil([&] { return posted.size() > expected.size(); }, 3000));
    xdotool({"key", "Caps_Lock"});
    settle(300);
    EXPECT_EQ(posted, expected << "keyboard");
}

TEST_F(HotKeysOnX11, ARecordedShortcutReplacesTheOldOne)
{
    hotkeys->registerHotKeys(defaultShortcut());
    hotkeys->unregisterShortcut();
    hotkeys->registerHotKeys(*shortcutFromKeyEvent(40, "k", EVENT_CONTROL | EVENT_OPTION));
    ASSERT_EQ(xdotool({"key", "super+F1"}), 0);
    ASSERT_EQ(xdotool({"key", "ctrl+alt+k"}), 0);
    EXPECT_TRUE(waitUntil([&] { return !posted.isEmpty(); }, 3000));
    ASSERT_EQ(xdotool({"key", "ctrl+shift+super+6"}), 0);
    EXPECT_TRUE(waitUntil([&] { return posted.size() >= 2; }, 3000));
    settle(300);
    EXPECT_EQ(posted, (QStringList{"keyboard", "copyscreenshot"}));
}

TEST_F(HotKeysOnX11, ACombinationAnotherClientGrabbedFirstStaysInactive)
{
    KeyGrabber other(desktop.display(), KEYSYM_F1, XCB_MOD_MASK_4);
    ASSERT_TRUE(other.grabbed);

    testing::internal::CaptureStdout();
    hotkeys->registerHotKeys(defaultShortcut());
    const QString log = QString::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_TRUE(log.contains(QStringLiteral("hot key not available: keyboard Super+F1"))) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("hot key not available")), 1) << log.toStdString();
    EXPECT_EQ(hotkeys->activeIds().size(), 3u);

    // The other client gets Super+F1; the hot keys that were free still work.
    ASSERT_EQ(xdotool({"key", "super+F1"}), 0);
    ASSERT_EQ(xdotool({"key", "ctrl+shift+super+6"}), 0);
    EXPECT_TRUE(waitUntil([&] { return !posted.isEmpty(); }, 3000));
    settle(300);
    EXPECT_EQ(posted, QStringList{"copyscreenshot"});
    // Letting go of the refused shortcut is harmless.
    hotkeys->unregisterShortcut();
    EXPECT_EQ(hotkeys->activeIds().size(), 3u);
}
