#include "platform/qt/qt_recorded_key.h"

#include "platform/keycodes.h"

namespace vistrale {
namespace {

constexpr quint32 X_LOCK_MASK = 1u << 1;
constexpr quint32 KEYSYM_F1 = 0xffbe;

struct QtKeysym {
    int qtKey;
    quint32 keysym;
};

// Qt keys outside Latin-1 and their keysyms (X11/keysymdef.h).
// clang-format off
constexpr QtKeysym namedKeys[] = {
    {Qt::Key_Return, 0xff0d}, {Qt::Key_Enter, 0xff8d},  {Qt::Key_Tab, 0xff09},    {Qt::Key_Backtab, 0xfe20},
    {Qt::Key_Backspace, 0xff08}, {Qt::Key_Escape, 0xff1b}, {Qt::Key_Delete, 0xffff}, {Qt::Key_Home, 0xff50},
    {Qt::Key_End, 0xff57},    {Qt::Key_PageUp, 0xff55}, {Qt::Key_PageDown, 0xff56}, {Qt::Key_Left, 0xff51},
    {Qt::Key_Up, 0xff52},     {Qt::Key_Right, 0xff53},  {Qt::Key_Down, 0xff54},   {Qt::Key_Help, 0xff6a},
    {Qt::Key_Clear, 0xff0b},
};
// clang-format on

quint32 keysymForQtKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return KEYSYM_F1 + quint32(qtKey - Qt::Key_F1);
    if (qtKey >= Qt::Key_Space && qtKey <= Qt::Key_AsciiTilde) {
        const bool keypad = modifiers & Qt::KeypadModifier;
        // Keypad keysyms sit 0xff80 above the ASCII they type.
        if (keypad && ((qtKey >= Qt::Key_Asterisk && qtKey <= Qt::Key_9) || qtKey == Qt::Key_Equal))
            return 0xff80 + quint32(qtKey);
        // Qt names letters in upper case whatever the level.
        if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z && !(modifiers & Qt::ShiftModifier))
            return quint32(qtKey) + ('a' - 'A');
        return quint32(qtKey);
    }
    if (qtKey >= Qt::Key_nobreakspace && qtKey <= Qt::Key_ydiaeresis)
        return quint32(qtKey);
    for (const QtKeysym& named : namedKeys) {
        if (named.qtKey == qtKey)
            return named.keysym;
    }
    return 0;
}

} // namespace

std::optional<RecordedKey> recordedKeyFromQt(
    int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey, quint32 nativeModifiers)
{
    const quint32 keysym = nativeVirtualKey ? nativeVirtualKey : keysymForQtKey(qtKey, modifiers);
    const std::optional<quint32> keyCode = macKeyCodeForKeysym(keysym);
    if (!keyCode)
        return std::nullopt;
    RecordedKey key;
    key.keyCode = *keyCode;
    key.charactersIgnoringModifiers = charactersForKeysym(keysym);
    if (modifiers & Qt::MetaModifier)
        key.modifierFlags |= EVENT_COMMAND;
    if (modifiers & Qt::AltModifier)
        key.modifierFlags |= EVENT_OPTION;
    if (modifiers & Qt::ControlModifier)
        key.modifierFlags |= EVENT_CONTROL;
    if (modifiers & Qt::ShiftModifier)
        key.modifierFlags |= EVENT_SHIFT;
    if (nativeVirtualKey && (nativeModifiers & X_LOCK_MASK))
        key.modifierFlags |= EVENT_CAPS_LOCK;
    if (isFunctionKeysym(keysym))
        key.modifierFlags |= EVENT_FUNCTION;
    return key;
}

} // namespace vistrale
