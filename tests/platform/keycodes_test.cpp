#include "platform/keycodes.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <optional>

using namespace vistrale;

namespace {

struct Expected {
    quint32 mac;
    quint32 keysym;
};

// Carbon's ANSI key codes (Events.h) against the X headers' own keysym names, so that a
// mistyped number in the table shows here.
// clang-format off
constexpr Expected macKeys[] = {
    {0, XK_a}, {1, XK_s}, {2, XK_d}, {3, XK_f}, {4, XK_h}, {5, XK_g}, {6, XK_z}, {7, XK_x},
    {8, XK_c}, {9, XK_v}, {11, XK_b}, {12, XK_q}, {13, XK_w}, {14, XK_e}, {15, XK_r}, {16, XK_y},
    {17, XK_t}, {18, XK_1}, {19, XK_2}, {20, XK_3}, {21, XK_4}, {22, XK_6}, {23, XK_5},
    {24, XK_equal}, {25, XK_9}, {26, XK_7}, {27, XK_minus}, {28, XK_8}, {29, XK_0},
    {30, XK_bracketright}, {31, XK_o}, {32, XK_u}, {33, XK_bracketleft}, {34, XK_i}, {35, XK_p},
    {36, XK_Return}, {37, XK_l}, {38, XK_j}, {39, XK_apostrophe}, {40, XK_k}, {41, XK_semicolon},
    {42, XK_backslash}, {43, XK_comma}, {44, XK_slash}, {45, XK_n}, {46, XK_m}, {47, XK_period},
    {48, XK_Tab}, {49, XK_space}, {50, XK_grave}, {51, XK_BackSpace}, {53, XK_Escape},
    {64, XK_F17}, {65, XK_KP_Decimal}, {67, XK_KP_Multiply}, {69, XK_KP_Add}, {71, XK_Clear},
    {75, XK_KP_Divide}, {76, XK_KP_Enter}, {78, XK_KP_Subtract}, {79, XK_F18}, {80, XK_F19},
    {81, XK_KP_Equal}, {82, XK_KP_0}, {83, XK_KP_1}, {84, XK_KP_2}, {85, XK_KP_3}, {86, XK_KP_4},
    {87, XK_KP_5}, {88, XK_KP_6}, {89, XK_KP_7}, {90, XK_F20}, {91, XK_KP_8}, {92, XK_KP_9},
    {96, XK_F5}, {97, XK_F6}, {98, XK_F7}, {99, XK_F3}, {100, XK_F8}, {101, XK_F9}, {103, XK_F11},
    {105, XK_F13}, {106, XK_F16}, {107, XK_F14}, {109, XK_F10}, {111, XK_F12}, {113, XK_F15},
    {114, XK_Help}, {115, XK_Home}, {116, XK_Prior}, {117, XK_Delete}, {118, XK_F4}, {119, XK_End},
    {120, XK_F2}, {121, XK_Next}, {122, XK_F1}, {123, XK_Left}, {124, XK_Right}, {125, XK_Down},
    {126, XK_Up},
};
// clang-format on

} // namespace

// --- Key codes and keysyms ---------------------------------------------------------

TEST(KeyCodes, MapEveryAnsiMacKeyToItsKeysymAndBack)
{
    for (const Expected& key : macKeys) {
        EXPECT_EQ(keysymForMacKeyCode(key.mac), key.keysym) << "mac " << key.mac;
        EXPECT_EQ(macKeyCodeForKeysym(key.keysym), key.mac) << "keysym " << std::hex << key.keysym;
    }
}

TEST(KeyCodes, KnowNoOtherMacKeys)
{
    int known = 0;
    for (quint32 code = 0; code < 256; ++code)
        known += keysymForMacKeyCode(code).has_value();
    EXPECT_EQ(known, static_cast<int>(std::size(macKeys)));
    EXPECT_FALSE(keysymForMacKeyCode(10)); // the ISO section key
    EXPECT_FALSE(keysymForMacKeyCode(55)); // ⌘ itself
}

TEST(KeyCodes, ReadUpperCaseLettersAndShiftedUsSymbolsAsTheirKeyAndKnowNoModifierOrUnknownKeysym)
{
    // clang-format off
    const std::pair<quint32, std::optional<quint32>> keysyms[] = {
        {XK_K, 40}, {XK_A, 0}, {XK_Z, 6},
        // Shifted symbols: the key they are typed with.
        {XK_asciicircum, 22}, {XK_exclam, 18}, {XK_parenright, 29}, {XK_question, 44}, {XK_asciitilde, 50},
        {XK_ISO_Left_Tab, 48},
        {XK_Shift_L, std::nullopt}, {XK_Super_L, std::nullopt}, {XK_Control_R, std::nullopt},
        {XK_F21, std::nullopt}, {0, std::nullopt},
    };
    // clang-format on
    for (const auto& [keysym, mac] : keysyms)
        EXPECT_EQ(macKeyCodeForKeysym(keysym), mac) << "keysym " << std::hex << keysym;
    // The way back gives the unshifted keysym.
    EXPECT_EQ(keysymForMacKeyCode(22), static_cast<quint32>(XK_6));
}

// --- Characters --------------------------------------------------------------------

TEST(KeyCodes, GiveEachKeysymItsCharacters)
{
    // clang-format off
    const std::pair<quint32, QString> keysyms[] = {
        // Latin keys: their own character.
        {XK_k, "k"}, {XK_K, "K"}, {XK_6, "6"}, {XK_asciicircum, "^"}, {XK_space, " "}, {XK_eacute, "é"},
        // Function and movement keys: AppKit's private characters.
        {XK_F1, QChar(0xF704)}, {XK_F12, QChar(0xF70F)}, {XK_F35, QChar(0xF726)}, {XK_Up, QChar(0xF700)},
        {XK_Right, QChar(0xF703)}, {XK_Delete, QChar(0xF728)}, {XK_Next, QChar(0xF72D)},
        // Control keys: their control characters.
        {XK_Return, "\r"}, {XK_KP_Enter, QChar(0x03)}, {XK_Tab, "\t"}, {XK_BackSpace, QChar(0x7f)},
        {XK_Escape, QChar(0x1b)},
        // Keypad keys: what they type.
        {XK_KP_0, "0"}, {XK_KP_9, "9"}, {XK_KP_Multiply, "*"}, {XK_KP_Divide, "/"}, {XK_KP_Equal, "="},
        // Modifier keys: nothing.
        {XK_Shift_L, ""}, {XK_Super_L, ""}, {XK_Caps_Lock, ""},
    };
    // clang-format on
    for (const auto& [keysym, characters] : keysyms)
        EXPECT_EQ(charactersForKeysym(keysym), characters) << "keysym " << std::hex << keysym;
}

TEST(KeyCodes, TellFunctionKeysApart)
{
    EXPECT_TRUE(isFunctionKeysym(XK_F1));
    EXPECT_TRUE(isFunctionKeysym(XK_F35));
    EXPECT_FALSE(isFunctionKeysym(XK_Shift_L));
    EXPECT_FALSE(isFunctionKeysym(XK_KP_Equal));
    EXPECT_FALSE(isFunctionKeysym(XK_k));
}
