#include "settings/KeyCombo.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace varlo {

namespace {

struct NamedKey
{
    quint32 code;
    const char* label; // UTF-8
};

// Ascending by code.
constexpr NamedKey namedKeys[] = {
    {0, "A"},       {1, "S"},       {2, "D"},     {3, "F"},     {4, "H"},    {5, "G"},       {6, "Z"},
    {7, "X"},       {8, "C"},       {9, "V"},     {11, "B"},    {12, "Q"},   {13, "W"},      {14, "E"},
    {15, "R"},      {16, "Y"},      {17, "T"},    {18, "1"},    {19, "2"},   {20, "3"},      {21, "4"},
    {22, "6"},      {23, "5"},      {24, "="},    {25, "9"},    {26, "7"},   {27, "-"},      {28, "8"},
    {29, "0"},      {30, "]"},      {31, "O"},    {32, "U"},    {33, "["},   {34, "I"},      {35, "P"},
    {36, "\u21A9"}, {37, "L"},      {38, "J"},    {39, "'"},    {40, "K"},   {41, ";"},      {42, "\\"},
    {43, ","},      {44, "/"},      {45, "N"},    {46, "M"},    {47, "."},   {48, "\u21E5"}, {49, "Space"},
    {50, "`"},      {51, "\u232B"}, {96, "F5"},   {97, "F6"},   {98, "F7"},  {99, "F3"},     {100, "F8"},
    {101, "F9"},    {103, "F11"},   {109, "F10"}, {111, "F12"}, {118, "F4"}, {120, "F2"},    {122, "F1"},
};
static_assert(std::size(namedKeys) == 63);

std::optional<quint32> unsignedMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number < 0 || number > 4294967295.0 || std::floor(number) != number)
        return std::nullopt;
    return static_cast<quint32>(number);
}

} // namespace

QString KeyCombo::displayString() const
{
    if (isEmpty())
        return {};
    QString text;
    if (modifiers & CarbonModifier::Control)
        text += QChar(0x2303);
    if (modifiers & CarbonModifier::Option)
        text += QChar(0x2325);
    if (modifiers & CarbonModifier::Shift)
        text += QChar(0x21E7);
    if (modifiers & CarbonModifier::Command)
        text += QChar(0x2318);
    return text + keyName(keyCode);
}

quint32 KeyCombo::carbonModifiers(quint64 eventFlags)
{
    quint32 mask = 0;
    if (eventFlags & EventModifierFlag::Shift)
        mask |= CarbonModifier::Shift;
    if (eventFlags & EventModifierFlag::Control)
        mask |= CarbonModifier::Control;
    if (eventFlags & EventModifierFlag::Option)
        mask |= CarbonModifier::Option;
    if (eventFlags & EventModifierFlag::Command)
        mask |= CarbonModifier::Command;
    return mask;
}

QString KeyCombo::keyName(quint32 keyCode)
{
    const auto* found = std::find_if(std::begin(namedKeys), std::end(namedKeys),
                                     [keyCode](const NamedKey& key) { return key.code == keyCode; });
    return found == std::end(namedKeys) ? QStringLiteral("?") : QString::fromUtf8(found->label);
}

QList<quint32> KeyCombo::namedKeyCodes()
{
    QList<quint32> codes;
    codes.reserve(static_cast<qsizetype>(std::size(namedKeys)));
    for (const NamedKey& key : namedKeys)
        codes.append(key.code);
    return codes;
}

QByteArray KeyCombo::toJson() const
{
    const QJsonObject object{{QStringLiteral("keyCode"), static_cast<qint64>(keyCode)},
                             {QStringLiteral("modifiers"), static_cast<qint64>(modifiers)}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<KeyCombo> KeyCombo::fromJson(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto keyCode = unsignedMember(object, QStringLiteral("keyCode"));
    const auto modifiers = unsignedMember(object, QStringLiteral("modifiers"));
    if (!keyCode || !modifiers)
        return std::nullopt;
    return KeyCombo{*keyCode, *modifiers};
}

} // namespace varlo
