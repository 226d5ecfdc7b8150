#include "services/hotkey/KeyTranslation.h"

#include "settings/KeyCombo.h"

#include <algorithm>
#include <iterator>

namespace varlo {

namespace {

struct QtKeyCode
{
    quint32 code;
    Qt::Key key;
};

constexpr QtKeyCode qtKeys[] = {
    {0, Qt::Key_A},      {1, Qt::Key_S},          {2, Qt::Key_D},
    {3, Qt::Key_F},      {4, Qt::Key_H},          {5, Qt::Key_G},
    {6, Qt::Key_Z},      {7, Qt::Key_X},          {8, Qt::Key_C},
    {9, Qt::Key_V},      {11, Qt::Key_B},         {12, Qt::Key_Q},
    {13, Qt::Key_W},     {14, Qt::Key_E},         {15, Qt::Key_R},
    {16, Qt::Key_Y},     {17, Qt::Key_T},         {18, Qt::Key_1},
    {19, Qt::Key_2},     {20, Qt::Key_3},         {21, Qt::Key_4},
    {22, Qt::Key_6},     {23, Qt::Key_5},         {24, Qt::Key_Equal},
    {25, Qt::Key_9},     {26, Qt::Key_7},         {27, Qt::Key_Minus},
    {28, Qt::Key_8},     {29, Qt::Key_0},         {30, Qt::Key_BracketRight},
    {31, Qt::Key_O},     {32, Qt::Key_U},         {33, Qt::Key_BracketLeft},
    {34, Qt::Key_I},     {35, Qt::Key_P},         {36, Qt::Key_Return},
    {37, Qt::Key_L},     {38, Qt::Key_J},         {39, Qt::Key_Apostrophe},
    {40, Qt::Key_K},     {41, Qt::Key_Semicolon}, {42, Qt::Key_Backslash},
    {43, Qt::Key_Comma}, {44, Qt::Key_Slash},     {45, Qt::Key_N},
    {46, Qt::Key_M},     {47, Qt::Key_Period},    {48, Qt::Key_Tab},
    {49, Qt::Key_Space}, {50, Qt::Key_QuoteLeft}, {51, Qt::Key_Backspace},
    {96, Qt::Key_F5},    {97, Qt::Key_F6},        {98, Qt::Key_F7},
    {99, Qt::Key_F3},    {100, Qt::Key_F8},       {101, Qt::Key_F9},
    {103, Qt::Key_F11},  {109, Qt::Key_F10},      {111, Qt::Key_F12},
    {118, Qt::Key_F4},   {120, Qt::Key_F2},       {122, Qt::Key_F1},
};
static_assert(std::size(qtKeys) == 63);

// What the same keys report with Shift held on a US layout; recording only.
constexpr QtKeyCode shiftedQtKeys[] = {
    {18, Qt::Key_Exclam},      {19, Qt::Key_At},         {20, Qt::Key_NumberSign}, {21, Qt::Key_Dollar},
    {22, Qt::Key_AsciiCircum}, {23, Qt::Key_Percent},    {24, Qt::Key_Plus},       {25, Qt::Key_ParenLeft},
    {26, Qt::Key_Ampersand},   {27, Qt::Key_Underscore}, {28, Qt::Key_Asterisk},   {29, Qt::Key_ParenRight},
    {30, Qt::Key_BraceRight},  {33, Qt::Key_BraceLeft},  {39, Qt::Key_QuoteDbl},   {41, Qt::Key_Colon},
    {42, Qt::Key_Bar},         {43, Qt::Key_Less},       {44, Qt::Key_Question},   {47, Qt::Key_Greater},
    {48, Qt::Key_Backtab},     {50, Qt::Key_AsciiTilde},
};

template<std::size_t N> const QtKeyCode* findKey(const QtKeyCode (&table)[N], int qtKey)
{
    const auto* found = std::find_if(std::begin(table), std::end(table),
                                     [qtKey](const QtKeyCode& e) { return e.key == qtKey; });
    return found == std::end(table) ? nullptr : found;
}

} // namespace

std::optional<quint32> keyCodeForQtKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    // Keypad keys have codes of their own that have no name here.
    if (modifiers & Qt::KeypadModifier)
        return std::nullopt;
    if (const QtKeyCode* entry = findKey(qtKeys, qtKey))
        return entry->code;
    if (const QtKeyCode* entry = findKey(shiftedQtKeys, qtKey))
        return entry->code;
    return std::nullopt;
}

std::optional<Qt::Key> qtKeyForKeyCode(quint32 keyCode)
{
    const auto* found = std::find_if(std::begin(qtKeys), std::end(qtKeys),
                                     [keyCode](const QtKeyCode& e) { return e.code == keyCode; });
    if (found == std::end(qtKeys))
        return std::nullopt;
    return found->key;
}

quint64 eventFlagsForQtModifiers(Qt::KeyboardModifiers modifiers)
{
    quint64 flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= EventModifierFlag::Shift;
    if (modifiers & Qt::ControlModifier)
        flags |= EventModifierFlag::Control;
    if (modifiers & Qt::AltModifier)
        flags |= EventModifierFlag::Option;
    if (modifiers & Qt::MetaModifier)
        flags |= EventModifierFlag::Command;
    return flags;
}

} // namespace varlo
