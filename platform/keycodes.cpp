#include "platform/keycodes.h"

namespace vistrale {
namespace {

struct KeyPair {
    quint32 mac;
    quint32 keysym;
};

// Keysyms by value (X11/keysymdef.h), so that no X header is needed here.
// clang-format off
constexpr quint32 KEYSYM_BACKSPACE = 0xff08, KEYSYM_TAB = 0xff09, KEYSYM_CLEAR = 0xff0b, KEYSYM_RETURN = 0xff0d,
                  KEYSYM_ESCAPE = 0xff1b, KEYSYM_HOME = 0xff50, KEYSYM_LEFT = 0xff51, KEYSYM_UP = 0xff52,
                  KEYSYM_RIGHT = 0xff53, KEYSYM_DOWN = 0xff54, KEYSYM_PRIOR = 0xff55, KEYSYM_NEXT = 0xff56,
                  KEYSYM_END = 0xff57, KEYSYM_HELP = 0xff6a, KEYSYM_KP_ENTER = 0xff8d, KEYSYM_KP_MULTIPLY = 0xffaa,
                  KEYSYM_KP_ADD = 0xffab, KEYSYM_KP_SUBTRACT = 0xffad, KEYSYM_KP_DECIMAL = 0xffae,
                  KEYSYM_KP_DIVIDE = 0xffaf, KEYSYM_KP_0 = 0xffb0, KEYSYM_KP_EQUAL = 0xffbd, KEYSYM_F1 = 0xffbe,
                  KEYSYM_F35 = 0xffe0, KEYSYM_DELETE = 0xffff, KEYSYM_ISO_LEFT_TAB = 0xfe20;

constexpr quint32 f(int n) { return KEYSYM_F1 + quint32(n - 1); }
constexpr quint32 kp(int digit) { return KEYSYM_KP_0 + quint32(digit); }

// Mac virtual key codes of the ANSI layout (Carbon's Events.h) and their unshifted
// keysyms; printable ASCII keysyms equal their character.
// clang-format off
constexpr KeyPair keyTable[] = {
    {0, 'a'}, {1, 's'}, {2, 'd'}, {3, 'f'}, {4, 'h'}, {5, 'g'}, {6, 'z'}, {7, 'x'},
    {8, 'c'}, {9, 'v'}, {11, 'b'}, {12, 'q'}, {13, 'w'}, {14, 'e'}, {15, 'r'}, {16, 'y'},
    {17, 't'}, {18, '1'}, {19, '2'}, {20, '3'}, {21, '4'}, {22, '6'}, {23, '5'},
    {24, '='}, {25, '9'}, {26, '7'}, {27, '-'}, {28, '8'}, {29, '0'},
    {30, ']'}, {31, 'o'}, {32, 'u'}, {33, '['}, {34, 'i'}, {35, 'p'},
    {36, KEYSYM_RETURN}, {37, 'l'}, {38, 'j'}, {39, '\''}, {40, 'k'}, {41, ';'},
    {42, '\\'}, {43, ','}, {44, '/'}, {45, 'n'}, {46, 'm'}, {47, '.'},
    {48, KEYSYM_TAB}, {49, ' '}, {50, '`'}, {51, KEYSYM_BACKSPACE}, {53, KEYSYM_ESCAPE},
    {64, f(17)}, {65, KEYSYM_KP_DECIMAL}, {67, KEYSYM_KP_MULTIPLY}, {69, KEYSYM_KP_ADD}, {71, KEYSYM_CLEAR},
    {75, KEYSYM_KP_DIVIDE}, {76, KEYSYM_KP_ENTER}, {78, KEYSYM_KP_SUBTRACT}, {79, f(18)}, {80, f(19)},
    {81, KEYSYM_KP_EQUAL}, {82, kp(0)}, {83, kp(1)}, {84, kp(2)}, {85, kp(3)}, {86, kp(4)},
    {87, kp(5)}, {88, kp(6)}, {89, kp(7)}, {90, f(20)}, {91, kp(8)}, {92, kp(9)},
    {96, f(5)}, {97, f(6)}, {98, f(7)}, {99, f(3)}, {100, f(8)}, {101, f(9)}, {103, f(11)},
    {105, f(13)}, {106, f(16)}, {107, f(14)}, {109, f(10)}, {111, f(12)}, {113, f(15)},
    {114, KEYSYM_HELP}, {115, KEYSYM_HOME}, {116, KEYSYM_PRIOR}, {117, KEYSYM_DELETE}, {118, f(4)}, {119, KEYSYM_END},
    {120, f(2)}, {121, KEYSYM_NEXT}, {122, f(1)}, {123, KEYSYM_LEFT}, {124, KEYSYM_RIGHT}, {125, KEYSYM_DOWN},
    {126, KEYSYM_UP},
};
// clang-format on
// clang-format on

// What the same keys type with Shift on the US layout; only read from keysym to key.
// clang-format off
constexpr KeyPair shiftedTable[] = {
    {18, '!'}, {19, '@'}, {20, '#'}, {21, '$'}, {22, '^'}, {23, '%'}, {24, '+'}, {25, '('},
    {26, '&'}, {27, '_'}, {28, '*'}, {29, ')'}, {30, '}'}, {33, '{'}, {39, '"'}, {41, ':'},
    {42, '|'}, {43, '<'}, {44, '?'}, {47, '>'}, {48, KEYSYM_ISO_LEFT_TAB}, {50, '~'},
};
// clang-format on

struct KeyCharacter {
    quint32 keysym;
    char16_t character;
};

// AppKit's characters for keys that type no Latin-1 character.
// clang-format off
constexpr KeyCharacter specialCharacters[] = {
    {KEYSYM_RETURN, u'\r'},      {KEYSYM_KP_ENTER, 0x03},   {KEYSYM_TAB, u'\t'},     {KEYSYM_ISO_LEFT_TAB, 0x19},
    {KEYSYM_BACKSPACE, 0x7f},    {KEYSYM_ESCAPE, 0x1b},     {KEYSYM_UP, 0xf700},     {KEYSYM_DOWN, 0xf701},
    {KEYSYM_LEFT, 0xf702},       {KEYSYM_RIGHT, 0xf703},    {KEYSYM_DELETE, 0xf728}, {KEYSYM_HOME, 0xf729},
    {KEYSYM_END, 0xf72b},        {KEYSYM_PRIOR, 0xf72c},    {KEYSYM_NEXT, 0xf72d},   {KEYSYM_CLEAR, 0xf739},
    {KEYSYM_HELP, 0xf746},
};
// clang-format on

} // namespace

std::optional<quint32> keysymForMacKeyCode(quint32 macKeyCode)
{
    for (const KeyPair& pair : keyTable) {
        if (pair.mac == macKeyCode)
            return pair.keysym;
    }
    return std::nullopt;
}

std::optional<quint32> macKeyCodeForKeysym(quint32 keysym)
{
    if (keysym >= 'A' && keysym <= 'Z')
        keysym += 'a' - 'A';
    for (const KeyPair& pair : keyTable) {
        if (pair.keysym == keysym)
            return pair.mac;
    }
    for (const KeyPair& pair : shiftedTable) {
        if (pair.keysym == keysym)
            return pair.mac;
    }
    return std::nullopt;
}

bool isFunctionKeysym(quint32 keysym)
{
    return keysym >= KEYSYM_F1 && keysym <= KEYSYM_F35;
}

QString charactersForKeysym(quint32 keysym)
{
    // Latin-1 keysyms are their own code points.
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
        return QString(QChar(char16_t(keysym)));
    if (isFunctionKeysym(keysym))
        return QString(QChar(char16_t(0xf704 + (keysym - KEYSYM_F1))));
    // Keypad keysyms sit 0xff80 above the ASCII they type (KP_0 = 0xffb0 -> '0').
    if ((keysym >= KEYSYM_KP_MULTIPLY && keysym <= kp(9)) || keysym == KEYSYM_KP_EQUAL)
        return QString(QChar(char16_t(keysym - 0xff80)));
    for (const KeyCharacter& special : specialCharacters) {
        if (special.keysym == keysym)
            return QString(QChar(special.character));
    }
    return {};
}

} // namespace vistrale
