#include "settings/KeyCombo.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace varlo {

namespace {

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
