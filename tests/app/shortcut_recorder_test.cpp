#include "app/hotkeys.h"
#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "app/shortcut_recorder.h"
#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_services.h"
#include "platform/notification_center.h"
#include "platform/pointer_keys.h"

#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

using namespace vistrale;

namespace {

constexpr quint32 KEY_K = 40, KEY_F1 = 122, KEY_F2 = 120, KEY_RETURN = 36, KEY_KEYPAD_ENTER = 76, KEY_SHIFT = 56;

RecordedKey controlOptionK()
{
    return RecordedKey{KEY_K, QStringLiteral("k"), EVENT_CONTROL | EVENT_OPTION};
}

// The recorder on fake dialogs, with a settings file and hot keys of its own.
struct Recorder {
    Recorder() { settings = Settings::atPath(dir.filePath("Vistrale.conf")); }

    void configure() { configureShortcut(dialogs, *settings, hotkeys); }
    GlobalKeybindPreferences stored() const { return loadShortcut(*settings); }
    bool active(quint32 keyCode, quint32 modifiers) const
    {
        return std::any_of(keys.hotKeys.begin(), keys.hotKeys.end(),
            [&](const auto& entry) { return entry.second.keyCode == keyCode && entry.second.modifiers == modifiers; });
    }

    QTemporaryDir dir;
    std::unique_ptr<Settings> settings;
    FakeDialogs dialogs;
    FakePointerKeys keys;
    NotificationCenter center;
    HotkeySolution hotkeys{keys, center};
};

} // namespace

// --- The alert ---------------------------------------------------------------------

TEST(ShortcutRecorder, ActivatesTheApplicationAndShowsTheAlertWithTheStoredShortcut)
{
    Recorder r;
    r.dialogs.answers = {false};
    r.configure();
    EXPECT_EQ(r.dialogs.activations, 1);
    ASSERT_EQ(r.dialogs.shown.size(), 1u);
    const AlertSpec& alert = r.dialogs.shown[0];
    EXPECT_EQ(alert.message, QStringLiteral("Keyboard Shortcut"));
    EXPECT_EQ(alert.informative, QStringLiteral("Press a key combination you want to use, e.g. Super+F1"));
    EXPECT_EQ(alert.defaultButton, QStringLiteral("Save"));
    EXPECT_EQ(alert.secondButton, QStringLiteral("Cancel"));
    EXPECT_EQ(r.dialogs.recorderLabels, QStringList{QStringLiteral("Super+F1")});
    EXPECT_EQ(keyboardShortcutMenuTitle(*r.settings), QStringLiteral("Keyboard Shortcut...\tSuper+F1"));

    // The label and the menu item show the stored shortcut, not the default.
    saveShortcut(*r.settings, *shortcutFromKeyEvent(KEY_K, "k", EVENT_CONTROL | EVENT_OPTION));
    r.dialogs.answers = {false};
    r.configure();
    EXPECT_EQ(r.dialogs.recorderLabels.last(), QStringLiteral("Ctrl+Alt+K"));
    EXPECT_EQ(keyboardShortcutMenuTitle(*r.settings), QStringLiteral("Keyboard Shortcut...\tCtrl+Alt+K"));
}

// --- Recording and saving ----------------------------------------------------------

TEST(ShortcutRecorder, StoresControlOptionKWhenSavedAndShowsIt)
{
    Recorder r;
    r.dialogs.pressedKeys = {controlOptionK()};
    r.dialogs.answers = {true};
    r.configure();

    EXPECT_EQ(r.stored(), *shortcutFromKeyEvent(KEY_K, "k", EVENT_CONTROL | EVENT_OPTION));
    EXPECT_EQ(r.dialogs.recorderLabels, (QStringList{QStringLiteral("Super+F1"), QStringLiteral("Ctrl+Alt+K")}));
    EXPECT_EQ(r.settings->data(keys::DEFAULT_SHORTCUT),
        QByteArray(R"({"function":false,"control":true,"command":false,"shift":false,"option":true,)"
                   R"("capsLock":false,"characters":"k","keyCode":40})"));
}

TEST(ShortcutRecorder, RegistersTheNewShortcutInPlaceOfTheOld)
{
    Recorder r;
    r.hotkeys.registerHotKeys(r.stored());
    r.dialogs.pressedKeys = {controlOptionK()};
    r.configure();
    EXPECT_FALSE(r.active(KEY_F1, HOTKEY_COMMAND));
    EXPECT_TRUE(r.active(KEY_K, HOTKEY_CONTROL | HOTKEY_OPTION));
    EXPECT_EQ(r.keys.hotKeys.size(), 4u);

    QStringList posted;
    r.center.addObserver(
        KEYBOARD_NOTIFICATION, [&](const QVariantMap& info) { posted << info.value("label").toString(); });
    r.keys.pressHotKey(KEY_K, HOTKEY_CONTROL | HOTKEY_OPTION);
    EXPECT_EQ(posted, QStringList{"keyboard"});
}

TEST(ShortcutRecorder, LetsGoOfTheShortcutHotKeyWhileItRuns)
{
    Recorder r;
    r.hotkeys.registerHotKeys(r.stored());
    bool shortcutActive = true;
    size_t others = 0;
    r.dialogs.whileShown = [&](const AlertSpec&) {
        shortcutActive = r.active(KEY_F1, HOTKEY_COMMAND);
        others = r.keys.hotKeys.size();
    };
    r.dialogs.answers = {false};
    r.configure();
    EXPECT_FALSE(shortcutActive);
    EXPECT_EQ(others, 3u);
    EXPECT_TRUE(r.active(KEY_F1, HOTKEY_COMMAND));
}

TEST(ShortcutRecorder, KeepsTheLastRecordedKeyWhenSeveralArePressed)
{
    Recorder r;
    r.dialogs.pressedKeys
        = {controlOptionK(), RecordedKey{KEY_F2, QString(QChar(0xF705)), EVENT_FUNCTION | EVENT_COMMAND}};
    r.configure();
    EXPECT_EQ(r.dialogs.recorderLabels,
        (QStringList{QStringLiteral("Super+F1"), QStringLiteral("Ctrl+Alt+K"), QStringLiteral("Super+F2")}));
    EXPECT_EQ(r.stored().keyCode, KEY_F2);
    EXPECT_TRUE(r.stored().function && r.stored().command);
    EXPECT_TRUE(r.active(KEY_F2, HOTKEY_COMMAND));
}

// --- Keys that record nothing ------------------------------------------------------

TEST(ShortcutRecorder, ReturnKeypadEnterAndKeysWithoutCharactersRecordNothing)
{
    const std::vector<RecordedKey> ignored[] = {
        {RecordedKey{KEY_RETURN, "\r", EVENT_COMMAND}, RecordedKey{KEY_KEYPAD_ENTER, "\x03", 0}},
        {RecordedKey{KEY_SHIFT, QString(), EVENT_SHIFT}},
    };
    for (const auto& pressed : ignored) {
        Recorder r;
        r.dialogs.pressedKeys = pressed;
        r.dialogs.answers = {true};
        r.configure();
        EXPECT_EQ(r.dialogs.recorderLabels, QStringList{QStringLiteral("Super+F1")});
        EXPECT_FALSE(r.settings->data(keys::DEFAULT_SHORTCUT));
    }
    // Return after a recorded key keeps that key pending.
    Recorder r;
    r.dialogs.pressedKeys = {controlOptionK(), RecordedKey{KEY_RETURN, "\r", 0}};
    r.configure();
    EXPECT_EQ(r.stored().keyCode, KEY_K);
}

// --- Cancelling --------------------------------------------------------------------

TEST(ShortcutRecorder, CancelKeepsTheOldShortcutAndRegistersTheHotKeysAgain)
{
    Recorder r;
    const GlobalKeybindPreferences old
        = *shortcutFromKeyEvent(KEY_F2, QString(QChar(0xF705)), EVENT_FUNCTION | EVENT_SHIFT);
    saveShortcut(*r.settings, old);
    const QByteArray before = *r.settings->data(keys::DEFAULT_SHORTCUT);
    r.hotkeys.registerHotKeys(old);
    r.dialogs.pressedKeys = {controlOptionK()};
    r.dialogs.answers = {false};
    r.configure();

    EXPECT_EQ(r.settings->data(keys::DEFAULT_SHORTCUT), before);
    EXPECT_TRUE(r.active(KEY_F2, HOTKEY_SHIFT));
    EXPECT_FALSE(r.active(KEY_K, HOTKEY_CONTROL | HOTKEY_OPTION));
    EXPECT_EQ(r.keys.hotKeys.size(), 4u);
    // Registered again, with a new id.
    EXPECT_EQ(r.hotkeys.lastHotKeyId(), 5u);
}

TEST(ShortcutRecorder, SavingWithoutAKeyOrCancellingRegistersTheHotKeysAgainEvenIfNoneWere)
{
    for (bool registeredBefore : {true, false}) {
        SCOPED_TRACE(registeredBefore);
        Recorder r;
        if (registeredBefore)
            r.hotkeys.registerHotKeys(r.stored());
        // Save after registering, Cancel without.
        r.dialogs.answers = {registeredBefore};
        r.configure();
        EXPECT_FALSE(r.settings->data(keys::DEFAULT_SHORTCUT));
        EXPECT_TRUE(r.active(KEY_F1, HOTKEY_COMMAND));
        EXPECT_EQ(r.keys.hotKeys.size(), 4u);
        EXPECT_EQ(r.hotkeys.lastHotKeyId(), registeredBefore ? 5u : 4u);
    }
}

TEST(ShortcutRecorder, AnswersTheRecordOnlyForSave)
{
    FakeDialogs dialogs;
    dialogs.pressedKeys = {controlOptionK()};
    dialogs.answers = {false};
    EXPECT_FALSE(recordShortcut(dialogs, "Super+F1"));
    dialogs.pressedKeys = {controlOptionK()};
    dialogs.answers = {true};
    const auto recorded = recordShortcut(dialogs, "Super+F1");
    ASSERT_TRUE(recorded);
    EXPECT_EQ(*recorded, *shortcutFromKeyEvent(KEY_K, "k", EVENT_CONTROL | EVENT_OPTION));
    EXPECT_EQ(dialogs.activations, 2);
}
