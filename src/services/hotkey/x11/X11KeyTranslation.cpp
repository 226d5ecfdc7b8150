#include "services/hotkey/x11/X11KeyTranslation.h"

#include "settings/KeyCombo.h"

#include <X11/keysym.h>
#include <algorithm>
#include <iterator>

namespace varlo::x11 {

namespace {

struct KeysymCode
{
    quint32 code;
    quint32 keysym;
};

constexpr KeysymCode keysyms[] = {
    {0, XK_a},      {1, XK_s},          {2, XK_d},
    {3, XK_f},      {4, XK_h},          {5, XK_g},
    {6, XK_z},      {7, XK_x},          {8, XK_c},
    {9, XK_v},      {11, XK_b},         {12, XK_q},
    {13, XK_w},     {14, XK_e},         {15, XK_r},
    {16, XK_y},     {17, XK_t},         {18, XK_1},
    {19, XK_2},     {20, XK_3},         {21, XK_4},
    {22, XK_6},     {23, XK_5},         {24, XK_equal},
    {25, XK_9},     {26, XK_7},         {27, XK_minus},
    {28, XK_8},     {29, XK_0},         {30, XK_bracketright},
    {31, XK_o},     {32, XK_u},         {33, XK_bracketleft},
    {34, XK_i},     {35, XK_p},         {36, XK_Return},
    {37, XK_l},     {38, XK_j},         {39, XK_apostrophe},
    {40, XK_k},     {41, XK_semicolon}, {42, XK_backslash},
    {43, XK_comma}, {44, XK_slash},     {45, XK_n},
    {46, XK_m},     {47, XK_period},    {48, XK_Tab},
    {49, XK_space}, {50, XK_grave},     {51, XK_BackSpace},
    {96, XK_F5},    {97, XK_F6},        {98, XK_F7},
    {99, XK_F3},    {100, XK_F8},       {101, XK_F9},
    {103, XK_F11},  {109, XK_F10},      {111, XK_F12},
    {118, XK_F4},   {120, XK_F2},       {122, XK_F1},
};
static_assert(std::size(keysyms) == 63);

} // namespace

std::optional<quint32> keysymForKeyCode(quint32 keyCode)
{
    const auto* found = std::find_if(std::begin(keysyms), std::end(keysyms),
                                     [keyCode](const KeysymCode& e) { return e.code == keyCode; });
    if (found == std::end(keysyms))
        return std::nullopt;
    return found->keysym;
}

std::optional<quint32> keyCodeForKeysym(quint32 keysym)
{
    if (keysym >= XK_A && keysym <= XK_Z)
        keysym += XK_a - XK_A;
    const auto* found = std::find_if(std::begin(keysyms), std::end(keysyms),
                                     [keysym](const KeysymCode& e) { return e.keysym == keysym; });
    if (found == std::end(keysyms))
        return std::nullopt;
    return found->code;
}

quint16 xModifiersForCarbon(quint32 carbonModifiers, const ModifierMasks& masks)
{
    quint16 mask = 0;
    if (carbonModifiers & CarbonModifier::Shift)
        mask |= shiftMask;
    if (carbonModifiers & CarbonModifier::Control)
        mask |= controlMask;
    if (carbonModifiers & CarbonModifier::Option)
        mask |= masks.alt;
    if (carbonModifiers & CarbonModifier::Command)
        mask |= masks.super;
    return mask;
}

} // namespace varlo::x11
