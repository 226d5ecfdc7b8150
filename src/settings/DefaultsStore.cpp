#include "settings/DefaultsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>
#include <limits>

namespace varlo {

namespace {

const QString dataMember = QStringLiteral("base64");
constexpr int writeDelayMs = 200;

qint64 toInteger(double number)
{
    if (std::isnan(number))
        return 0;
    if (number >= 9.2233720368547758e18)
        return std::numeric_limits<qint64>::max();
    if (number <= -9.2233720368547758e18)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(number);
}

QJsonObject readObject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    return document.isObject() ? document.object() : QJsonObject{};
}

void writeObject(const QString& path, const QJsonObject& values)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QJsonDocument(values).toJson(QJsonDocument::Indented));
    file.commit();
}

} // namespace

std::optional<QString> DefaultsStore::string(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (!stored.isString())
        return std::nullopt;
    return stored.toString();
}

std::optional<QVariantList> DefaultsStore::array(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (!stored.isArray())
        return std::nullopt;
    return stored.toArray().toVariantList();
}

std::optional<QByteArray> DefaultsStore::data(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (!stored.isObject())
        return std::nullopt;
    const QJsonValue encoded = stored.toObject().value(dataMember);
    if (!encoded.isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(encoded.toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

double DefaultsStore::doubleValue(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (stored.isBool())
        return stored.toBool() ? 1.0 : 0.0;
    return stored.isDouble() ? stored.toDouble() : 0.0;
}

qint64 DefaultsStore::integer(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (stored.isBool())
        return stored.toBool() ? 1 : 0;
    if (!stored.isDouble())
        return 0;
    // Integers that JSON kept exact come back exact; others truncate toward zero.
    const QVariant variant = stored.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    return toInteger(stored.toDouble());
}

bool DefaultsStore::boolean(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (stored.isBool())
        return stored.toBool();
    return stored.isDouble() && stored.toDouble() != 0.0;
}

void DefaultsStore::setIntegerArray(const QString& key, const QList<qint64>& numbers)
{
    QJsonArray array;
    for (qint64 number : numbers)
        array.append(number);
    setValue(key, array);
}

void DefaultsStore::setData(const QString& key, const QByteArray& bytes)
{
    setValue(key, QJsonObject{{dataMember, QString::fromLatin1(bytes.toBase64())}});
}

void MemoryDefaultsStore::setValue(const QString& key, const QJsonValue& value)
{
    m_values.insert(key, value);
    ++m_writeCount;
}

void MemoryDefaultsStore::remove(const QString& key)
{
    m_values.remove(key);
    ++m_writeCount;
}

JsonDefaultsStore::JsonDefaultsStore(QString filePath, QObject* parent)
    : QObject(parent), m_filePath(std::move(filePath)), m_values(readObject(m_filePath))
{
    m_writer.setMaxThreadCount(1);
    m_writeTimer.setSingleShot(true);
    m_writeTimer.setInterval(writeDelayMs);
    connect(&m_writeTimer, &QTimer::timeout, this, &JsonDefaultsStore::startWrite);
}

JsonDefaultsStore::~JsonDefaultsStore()
{
    flush();
}

QString JsonDefaultsStore::standardFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Varlo/settings.json");
}

void JsonDefaultsStore::setValue(const QString& key, const QJsonValue& value)
{
    m_values.insert(key, value);
    scheduleWrite();
}

void JsonDefaultsStore::remove(const QString& key)
{
    m_values.remove(key);
    scheduleWrite();
}

void JsonDefaultsStore::flush()
{
    m_writeTimer.stop();
    startWrite();
    m_writer.waitForDone();
}

void JsonDefaultsStore::scheduleWrite()
{
    m_dirty = true;
    m_writeTimer.start();
}

void JsonDefaultsStore::startWrite()
{
    if (!m_dirty)
        return;
    m_dirty = false;
    // Fire and forget: flush() waits on the pool, not on the future.
    (void)QtConcurrent::run(&m_writer, writeObject, m_filePath, m_values);
}

} // namespace varlo
