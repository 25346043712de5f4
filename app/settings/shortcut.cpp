#include "app/settings/shortcut.h"

#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "platform/pointer_keys.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace vistrale {

GlobalKeybindPreferences defaultShortcut()
{
    GlobalKeybindPreferences shortcut;
    shortcut.function = true;
    shortcut.command = true;
    shortcut.keyCode = 122;
    return shortcut;
}

QByteArray encodeShortcut(const GlobalKeybindPreferences& shortcut)
{
    // Written by hand so that the fields keep the record's order.
    auto flag = [](bool value) { return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false"); };
    QByteArray json = "{\"function\":" + flag(shortcut.function) + ",\"control\":" + flag(shortcut.control)
        + ",\"command\":" + flag(shortcut.command) + ",\"shift\":" + flag(shortcut.shift)
        + ",\"option\":" + flag(shortcut.option) + ",\"capsLock\":" + flag(shortcut.capsLock);
    if (shortcut.characters) {
        const QByteArray text = QJsonDocument(QJsonObject{{"c", *shortcut.characters}}).toJson(QJsonDocument::Compact);
        // {"c":"..."} -> "..."
        json += ",\"characters\":" + text.mid(5, text.size() - 6);
    }
    json += ",\"keyCode\":" + QByteArray::number(shortcut.keyCode) + "}";
    return json;
}

std::optional<GlobalKeybindPreferences> decodeShortcut(const QByteArray& data)
{
    if (data.size() > 4096)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    GlobalKeybindPreferences shortcut;
    const std::pair<const char*, bool*> flags[]
        = {{"function", &shortcut.function}, {"control", &shortcut.control}, {"command", &shortcut.command},
            {"shift", &shortcut.shift}, {"option", &shortcut.option}, {"capsLock", &shortcut.capsLock}};
    for (const auto& [name, field] : flags) {
        const QJsonValue value = object.value(name);
        if (!value.isBool())
            return std::nullopt;
        *field = value.toBool();
    }
    const QJsonValue characters = object.value("characters");
    if (characters.isString())
        shortcut.characters = characters.toString();
    else if (!characters.isUndefined() && !characters.isNull())
        return std::nullopt;
    const QJsonValue keyCode = object.value("keyCode");
    const double code = keyCode.toDouble(-1);
    if (!keyCode.isDouble() || code < 0 || code > 4294967295.0
        || code != static_cast<double>(static_cast<qint64>(code)))
        return std::nullopt;
    shortcut.keyCode = static_cast<quint32>(code);
    return shortcut;
}

GlobalKeybindPreferences loadShortcut(const Settings& settings)
{
    if (const auto data = settings.data(keys::DEFAULT_SHORTCUT))
        if (const auto shortcut = decodeShortcut(*data))
            return *shortcut;
    return defaultShortcut();
}

void saveShortcut(Settings& settings, const GlobalKeybindPreferences& shortcut)
{
    settings.setData(keys::DEFAULT_SHORTCUT, encodeShortcut(shortcut));
}

namespace {

int functionKeyNumber(quint32 keyCode)
{
    switch (keyCode) {
    case 120:
        return 2;
    case 99:
        return 3;
    case 118:
        return 4;
    case 96:
        return 5;
    case 97:
        return 6;
    case 98:
        return 7;
    case 100:
        return 8;
    case 101:
        return 9;
    case 109:
        return 10;
    case 103:
        return 11;
    case 111:
        return 12;
    case 105:
        return 13;
    case 107:
        return 14;
    case 113:
        return 15;
    default:
        return 1;
    }
}

} // namespace

QString keyCombinationText(KeyModifiers modifiers, const QString& key)
{
    QStringList parts;
    if (modifiers.shift)
        parts << QStringLiteral("Shift");
    if (modifiers.control)
        parts << QStringLiteral("Ctrl");
    if (modifiers.option)
        parts << QStringLiteral("Alt");
    if (modifiers.command)
        parts << QStringLiteral("Super");
    if (modifiers.capsLock)
        parts << QStringLiteral("Caps Lock");
    if (!key.isEmpty())
        parts << key;
    return parts.join('+');
}

QString keyCombinationText(const QKeySequence& sequence)
{
    if (sequence.isEmpty())
        return {};
    const QKeyCombination combination = sequence[0];
    const Qt::KeyboardModifiers flags = combination.keyboardModifiers();
    const KeyModifiers modifiers{flags.testFlag(Qt::ShiftModifier), flags.testFlag(Qt::ControlModifier),
        flags.testFlag(Qt::AltModifier), flags.testFlag(Qt::MetaModifier), false};
    return keyCombinationText(modifiers, QKeySequence(combination.key()).toString(QKeySequence::PortableText));
}

QString shortcutDisplayString(const GlobalKeybindPreferences& shortcut)
{
    QString key;
    if (shortcut.function)
        key = QStringLiteral("F%1").arg(functionKeyNumber(shortcut.keyCode));
    else if (shortcut.characters)
        key = shortcut.characters->toUpper();
    return keyCombinationText(
        {shortcut.shift, shortcut.control, shortcut.option, shortcut.command, shortcut.capsLock}, key);
}

std::optional<GlobalKeybindPreferences> shortcutFromKeyEvent(
    quint32 keyCode, const QString& charactersIgnoringModifiers, quint32 modifierFlags)
{
    if (keyCode == 36 || keyCode == 76)
        return std::nullopt;
    if (charactersIgnoringModifiers.isEmpty())
        return std::nullopt;
    GlobalKeybindPreferences shortcut;
    shortcut.function = modifierFlags & EVENT_FUNCTION;
    shortcut.control = modifierFlags & EVENT_CONTROL;
    shortcut.command = modifierFlags & EVENT_COMMAND;
    shortcut.shift = modifierFlags & EVENT_SHIFT;
    shortcut.option = modifierFlags & EVENT_OPTION;
    shortcut.capsLock = modifierFlags & EVENT_CAPS_LOCK;
    shortcut.characters = charactersIgnoringModifiers;
    shortcut.keyCode = keyCode;
    return shortcut;
}

quint32 hotKeyModifiers(const GlobalKeybindPreferences& shortcut)
{
    quint32 mask = 0;
    if (shortcut.command)
        mask |= HOTKEY_COMMAND;
    if (shortcut.shift)
        mask |= HOTKEY_SHIFT;
    if (shortcut.option)
        mask |= HOTKEY_OPTION;
    if (shortcut.control)
        mask |= HOTKEY_CONTROL;
    return mask;
}

} // namespace vistrale
