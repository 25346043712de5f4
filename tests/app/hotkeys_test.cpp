#include "app/hotkeys.h"
#include "platform/fake/fake_desktop.h"
#include "platform/notification_center.h"
#include "platform/pointer_keys.h"

#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>

using namespace vistrale;

namespace {

constexpr quint32 KEY_6 = 22, KEY_RETURN = 36, KEY_K = 40, KEY_F1 = 122;
constexpr quint32 COPY_SCREENSHOT_MASK = HOTKEY_CONTROL | HOTKEY_SHIFT | HOTKEY_COMMAND;
constexpr quint32 SCREENSHOT_MASK = HOTKEY_SHIFT | HOTKEY_COMMAND;
constexpr quint32 WEBCAM_MASK = HOTKEY_CONTROL | HOTKEY_COMMAND;

GlobalKeybindPreferences controlOptionK()
{
    return *shortcutFromKeyEvent(KEY_K, QStringLiteral("k"), EVENT_CONTROL | EVENT_OPTION);
}

// Hot keys on the fake keyboard, with the labels every "keyboard" notification carried.
struct HotKeys {
    HotKeys()
    {
        center.addObserver(
            KEYBOARD_NOTIFICATION, [this](const QVariantMap& info) { posted << info.value("label").toString(); });
    }

    // How many active registrations use that combination.
    size_t registered(quint32 keyCode, quint32 modifiers) const
    {
        return std::count_if(keys.hotKeys.begin(), keys.hotKeys.end(),
            [&](const auto& entry) { return entry.second.keyCode == keyCode && entry.second.modifiers == modifiers; });
    }

    FakePointerKeys keys;
    NotificationCenter center;
    QStringList posted;
    HotkeySolution solution{keys, center};
};

// Everything logLine wrote while `action` ran, split into lines.
template <typename Action> QStringList logLinesOf(Action action)
{
    testing::internal::CaptureStdout();
    action();
    return QString::fromStdString(testing::internal::GetCapturedStdout()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

// --- Registering -------------------------------------------------------------------

TEST(HotkeySolution, RegistersTheThreeFixedHotKeysThenTheShortcutWithIdsFromOne)
{
    HotKeys h;
    EXPECT_EQ(h.solution.hotKeyCounter(), 0u);
    h.solution.registerHotKeys(defaultShortcut());

    ASSERT_EQ(h.keys.hotKeys.size(), 4u);
    const std::pair<quint32, quint32> expected[] = {
        {KEY_6, COPY_SCREENSHOT_MASK}, {KEY_6, SCREENSHOT_MASK}, {KEY_RETURN, WEBCAM_MASK}, {KEY_F1, HOTKEY_COMMAND}};
    const char* labels[] = {"copyscreenshot", "screenshot", "webcam", "keyboard"};
    for (quint32 id = 1; id <= 4; ++id) {
        ASSERT_TRUE(h.keys.hotKeys.count(id)) << id;
        EXPECT_EQ(h.keys.hotKeys[id].keyCode, expected[id - 1].first) << id;
        EXPECT_EQ(h.keys.hotKeys[id].modifiers, expected[id - 1].second) << id;
        EXPECT_EQ(h.solution.label(id), QString(labels[id - 1])) << id;
    }
    EXPECT_EQ(h.solution.hotKeyCounter(), 4u);
    EXPECT_EQ(h.solution.lastHotKeyId(), 4u);
}

TEST(HotkeySolution, GivesTheShortcutItsCommandShiftOptionControlFlagsButNotCapsLockOrFunction)
{
    HotKeys h;
    GlobalKeybindPreferences all;
    all.function = all.control = all.command = all.shift = all.option = all.capsLock = true;
    all.characters = QStringLiteral("k");
    all.keyCode = KEY_K;
    h.solution.registerHotKeys(all);
    ASSERT_TRUE(h.keys.hotKeys.count(4));
    EXPECT_EQ(h.keys.hotKeys[4].keyCode, KEY_K);
    EXPECT_EQ(h.keys.hotKeys[4].modifiers, 0x1B00u);

    HotKeys other;
    other.solution.registerHotKeys(controlOptionK());
    EXPECT_EQ(other.keys.hotKeys[4].modifiers, HOTKEY_CONTROL | HOTKEY_OPTION);
}

// --- Firing ------------------------------------------------------------------------

TEST(HotkeySolution, PostsKeyboardWithTheLabelOfEachFiredHotKeyOrUnknown)
{
    HotKeys h;
    h.solution.registerHotKeys(defaultShortcut());
    EXPECT_TRUE(h.keys.pressHotKey(KEY_F1, HOTKEY_COMMAND));
    EXPECT_TRUE(h.keys.pressHotKey(KEY_6, COPY_SCREENSHOT_MASK));
    EXPECT_TRUE(h.keys.pressHotKey(KEY_6, SCREENSHOT_MASK));
    EXPECT_TRUE(h.keys.pressHotKey(KEY_RETURN, WEBCAM_MASK));
    // An id it did not register.
    ASSERT_TRUE(h.keys.registerHotKey(99, KEY_K, HOTKEY_COMMAND));
    EXPECT_TRUE(h.keys.pressHotKey(KEY_K, HOTKEY_COMMAND));
    EXPECT_EQ(h.posted, (QStringList{"keyboard", "copyscreenshot", "screenshot", "webcam", "unknown"}));
}

TEST(HotkeySolution, PostsOnTheProcessCentreByDefaultAndLetsGoOfEveryHotKeyAndTheHandlerWhenDestroyed)
{
    FakePointerKeys keys;
    QStringList posted;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    const int token = center.addObserver(
        KEYBOARD_NOTIFICATION, [&](const QVariantMap& info) { posted << info.value("label").toString(); });
    {
        HotkeySolution solution(keys);
        solution.registerHotKeys(defaultShortcut());
        keys.pressHotKey(KEY_6, SCREENSHOT_MASK);
    }
    EXPECT_TRUE(keys.hotKeys.empty());
    ASSERT_TRUE(keys.registerHotKey(7, KEY_K, 0));
    keys.pressHotKey(KEY_K, 0);
    center.removeObserver(token);
    EXPECT_EQ(posted, QStringList{"screenshot"});
}

// --- Combinations that cannot be had -----------------------------------------------

TEST(HotkeySolution, LogsOneLineForACombinationAnotherClientHoldsAndKeepsTheOthers)
{
    HotKeys h;
    h.keys.takenByOthers.push_back({KEY_6, SCREENSHOT_MASK});
    const QStringList lines = logLinesOf([&] { h.solution.registerHotKeys(defaultShortcut()); });

    EXPECT_EQ(lines, QStringList{QStringLiteral("hot key not available: screenshot Shift+Super+6")});
    EXPECT_FALSE(h.keys.hotKeys.count(2));
    EXPECT_FALSE(h.solution.label(2));
    EXPECT_EQ(h.keys.hotKeys.size(), 3u);
    EXPECT_FALSE(h.keys.pressHotKey(KEY_6, SCREENSHOT_MASK));
    EXPECT_TRUE(h.keys.pressHotKey(KEY_6, COPY_SCREENSHOT_MASK));
    EXPECT_TRUE(h.keys.pressHotKey(KEY_F1, HOTKEY_COMMAND));
    EXPECT_EQ(h.posted, (QStringList{"copyscreenshot", "keyboard"}));
    // The refused registration still used its id.
    EXPECT_EQ(h.solution.hotKeyCounter(), 4u);
}

TEST(HotkeySolution, LogsAHeldShortcutWithItsDisplayString)
{
    HotKeys h;
    h.keys.takenByOthers.push_back({KEY_K, HOTKEY_CONTROL | HOTKEY_OPTION});
    const QStringList lines = logLinesOf([&] { h.solution.registerHotKeys(controlOptionK()); });
    EXPECT_EQ(lines, QStringList{QStringLiteral("hot key not available: keyboard Ctrl+Alt+K")});
    EXPECT_EQ(h.keys.hotKeys.size(), 3u);
    // Forgetting the refused shortcut leaves the fixed hot keys alone.
    h.solution.unregisterShortcut();
    EXPECT_EQ(h.keys.hotKeys.size(), 3u);
}

TEST(HotkeySolution, RefusesAShortcutThatIsOneOfTheFixedCombinations)
{
    HotKeys h;
    // The recorder never makes this record, but a settings file can hold it.
    GlobalKeybindPreferences webcamKeys;
    webcamKeys.control = webcamKeys.command = true;
    webcamKeys.characters = QStringLiteral("\r");
    webcamKeys.keyCode = KEY_RETURN;
    const QStringList lines = logLinesOf([&] { h.solution.registerHotKeys(webcamKeys); });
    EXPECT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.value(0).startsWith("hot key not available: keyboard ")) << lines.value(0).toStdString();
    EXPECT_EQ(h.registered(KEY_RETURN, WEBCAM_MASK), 1u);
    h.keys.pressHotKey(KEY_RETURN, WEBCAM_MASK);
    EXPECT_EQ(h.posted, QStringList{"webcam"});
}

TEST(HotkeySolution, TriesAFixedHotKeyAgainThatWasHeldLastTime)
{
    HotKeys h;
    h.keys.takenByOthers.push_back({KEY_RETURN, WEBCAM_MASK});
    logLinesOf([&] { h.solution.registerHotKeys(defaultShortcut()); });
    EXPECT_EQ(h.registered(KEY_RETURN, WEBCAM_MASK), 0u);

    h.keys.takenByOthers.clear();
    h.solution.unregisterShortcut();
    h.solution.registerHotKeys(defaultShortcut());
    EXPECT_EQ(h.registered(KEY_RETURN, WEBCAM_MASK), 1u);
    h.keys.pressHotKey(KEY_RETURN, WEBCAM_MASK);
    EXPECT_EQ(h.posted, QStringList{"webcam"});
}

// --- Reconfiguring -----------------------------------------------------------------

TEST(HotkeySolution, UnregistersOnlyTheShortcutAndKeepsEachCombinationActiveOnceAfterReconfiguring)
{
    HotKeys h;
    h.solution.registerHotKeys(defaultShortcut());
    h.solution.unregisterShortcut();
    EXPECT_EQ(h.keys.hotKeys.size(), 3u);
    EXPECT_FALSE(h.solution.label(4));
    EXPECT_FALSE(h.solution.lastHotKeyId());
    EXPECT_FALSE(h.keys.pressHotKey(KEY_F1, HOTKEY_COMMAND));
    // A second call has nothing left to let go.
    h.solution.unregisterShortcut();
    EXPECT_EQ(h.keys.hotKeys.size(), 3u);

    h.solution.registerHotKeys(controlOptionK());
    EXPECT_EQ(h.keys.hotKeys.size(), 4u);
    EXPECT_EQ(h.registered(KEY_6, COPY_SCREENSHOT_MASK), 1u);
    EXPECT_EQ(h.registered(KEY_6, SCREENSHOT_MASK), 1u);
    EXPECT_EQ(h.registered(KEY_RETURN, WEBCAM_MASK), 1u);
    EXPECT_EQ(h.registered(KEY_F1, HOTKEY_COMMAND), 0u);
    EXPECT_EQ(h.registered(KEY_K, HOTKEY_CONTROL | HOTKEY_OPTION), 1u);
    // The fixed hot keys kept their ids; the shortcut took the next one.
    EXPECT_EQ(h.solution.activeIds(), (std::vector<quint32>{1, 2, 3, 5}));
    EXPECT_EQ(h.solution.lastHotKeyId(), 5u);

    h.keys.pressHotKey(KEY_K, HOTKEY_CONTROL | HOTKEY_OPTION);
    h.keys.pressHotKey(KEY_6, SCREENSHOT_MASK);
    EXPECT_EQ(h.posted, (QStringList{"keyboard", "screenshot"}));
}

TEST(HotkeySolution, ReplacesTheShortcutWhenRegisteredTwiceWithoutLettingGo)
{
    HotKeys h;
    h.solution.registerHotKeys(defaultShortcut());
    h.solution.registerHotKeys(controlOptionK());
    EXPECT_EQ(h.keys.hotKeys.size(), 4u);
    EXPECT_EQ(h.registered(KEY_F1, HOTKEY_COMMAND), 0u);
    EXPECT_EQ(h.registered(KEY_K, HOTKEY_CONTROL | HOTKEY_OPTION), 1u);
    // And the new shortcut is the one unregisterShortcut lets go.
    h.solution.unregisterShortcut();
    EXPECT_EQ(h.keys.hotKeys.size(), 3u);
    EXPECT_EQ(h.registered(KEY_K, HOTKEY_CONTROL | HOTKEY_OPTION), 0u);
}
