#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "app/settings/shortcut.h"
#include "platform/pointer_keys.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vistrale;

namespace {

GlobalKeybindPreferences controlOptionK()
{
    return *shortcutFromKeyEvent(40, QStringLiteral("k"), EVENT_CONTROL | EVENT_OPTION);
}

} // namespace

TEST(Shortcut, IsCommandF1WhenNothingIsStored)
{
    QTemporaryDir dir;
    const auto settings = Settings::atPath(dir.filePath("Vistrale.conf"));
    const GlobalKeybindPreferences shortcut = loadShortcut(*settings);
    EXPECT_TRUE(shortcut.function);
    EXPECT_TRUE(shortcut.command);
    EXPECT_FALSE(shortcut.control || shortcut.shift || shortcut.option || shortcut.capsLock);
    EXPECT_FALSE(shortcut.characters);
    EXPECT_EQ(shortcut.keyCode, 122u);
    EXPECT_EQ(shortcutDisplayString(shortcut), QStringLiteral("Super+F1"));
    EXPECT_EQ(hotKeyModifiers(shortcut), HOTKEY_COMMAND);
}

TEST(Shortcut, RecordedControlOptionKSurvivesARestart)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Vistrale.conf");
    const GlobalKeybindPreferences recorded = controlOptionK();
    EXPECT_EQ(shortcutDisplayString(recorded), QStringLiteral("Ctrl+Alt+K"));
    EXPECT_TRUE(shortcutFromKeyEvent(35, QStringLiteral("p"), 0)) << "a key without modifiers is one too";
    {
        auto settings = Settings::atPath(path);
        saveShortcut(*settings, recorded);
    }
    const auto settings = Settings::atPath(path);
    EXPECT_EQ(loadShortcut(*settings), recorded);
}

TEST(Shortcut, DecodesWhatItEncodesWhateverTheCharacters)
{
    GlobalKeybindPreferences shortcut;
    shortcut.shift = true;
    shortcut.capsLock = true;
    shortcut.keyCode = 4294967295u;
    EXPECT_EQ(decodeShortcut(encodeShortcut(shortcut)), shortcut);
    for (const QString& characters : {QStringLiteral("\""), QStringLiteral("\\"), QStringLiteral("é"),
             QStringLiteral("\n\t"), QStringLiteral("ß😀"), QString()}) {
        shortcut.characters = characters;
        EXPECT_EQ(decodeShortcut(encodeShortcut(shortcut)), shortcut) << characters.toStdString();
    }
}

TEST(Shortcut, LoadsCommandF1FromCorruptData)
{
    const QByteArray complete
        = R"({"function":false,"control":true,"command":false,"shift":false,"option":true,"capsLock":false,"characters":"k","keyCode":40})";
    ASSERT_TRUE(decodeShortcut(complete));
    QByteArray wrongType = complete;
    wrongType.replace("\"control\":true", "\"control\":1");
    QByteArray missingField = complete;
    missingField.replace("\"shift\":false,", "");
    QByteArray missingKey = complete;
    missingKey.replace(",\"keyCode\":40", "");
    QByteArray textKey = complete;
    textKey.replace("40", "\"40\"");
    QByteArray fractionKey = complete;
    fractionKey.replace("40", "40.5");
    QByteArray negativeKey = complete;
    negativeKey.replace("40", "-1");
    QByteArray hugeKey = complete;
    hugeKey.replace("40", "4294967296");
    QByteArray numberCharacters = complete;
    numberCharacters.replace("\"k\"", "7");
    const QByteArray corrupt[]
        = {"", "not json", QByteArray("\xff\xfe\x00", 3), "[true]", "{}", complete.left(complete.size() - 1), wrongType,
            missingField, missingKey, textKey, fractionKey, negativeKey, hugeKey, numberCharacters};

    QTemporaryDir dir;
    auto settings = Settings::atPath(dir.filePath("Vistrale.conf"));
    for (const QByteArray& data : corrupt) {
        settings->setData(keys::DEFAULT_SHORTCUT, data);
        EXPECT_EQ(loadShortcut(*settings), defaultShortcut()) << data.toStdString();
    }
    // Stored as text instead of data.
    settings->setText(keys::DEFAULT_SHORTCUT, QString::fromUtf8(complete));
    EXPECT_EQ(loadShortcut(*settings), defaultShortcut());
}

TEST(ShortcutDisplay, PutsTheGlyphsInControlOptionCommandShiftCapsLockOrder)
{
    GlobalKeybindPreferences all;
    all.control = all.option = all.command = all.shift = all.capsLock = true;
    all.characters = QStringLiteral("q");
    EXPECT_EQ(shortcutDisplayString(all), QStringLiteral("Shift+Ctrl+Alt+Super+Caps Lock+Q"));

    GlobalKeybindPreferences shiftCommand;
    shiftCommand.shift = shiftCommand.command = true;
    shiftCommand.characters = QStringLiteral("6");
    EXPECT_EQ(shortcutDisplayString(shiftCommand), QStringLiteral("Shift+Super+6"));

    GlobalKeybindPreferences modifiersOnly;
    modifiersOnly.option = true;
    EXPECT_EQ(shortcutDisplayString(modifiersOnly), QStringLiteral("Alt"));
    EXPECT_EQ(shortcutDisplayString(GlobalKeybindPreferences{}), QString());
}

TEST(ShortcutDisplay, NamesFunctionKeysByTheirKeyCode)
{
    const std::pair<quint32, const char*> keysShown[] = {{122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"}, {96, "F5"},
        {97, "F6"}, {98, "F7"}, {100, "F8"}, {101, "F9"}, {109, "F10"}, {103, "F11"}, {111, "F12"}, {105, "F13"},
        {107, "F14"}, {113, "F15"}, {106, "F1"}, {64, "F1"}};
    GlobalKeybindPreferences shortcut;
    shortcut.function = true;
    shortcut.control = true;
    // The function flag wins over the characters the key produced.
    shortcut.characters = QStringLiteral("x");
    for (const auto& [keyCode, name] : keysShown) {
        shortcut.keyCode = keyCode;
        EXPECT_EQ(shortcutDisplayString(shortcut), QStringLiteral("Ctrl+") + QLatin1String(name)) << keyCode;
    }
}
