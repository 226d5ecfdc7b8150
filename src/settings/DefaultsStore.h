#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <QVariantList>
#include <optional>

namespace varlo {

// A per-user key/value store of JSON values with the typed reads the settings
// rely on. Absent (or wrongly typed) string, array and data read as nullopt; a
// bool reads as false and a number as 0 when absent. Numbers and bools convert
// into each other, nothing converts from or to a string.
class DefaultsStore
{
public:
    virtual ~DefaultsStore() = default;

    // Undefined when the key is absent.
    virtual QJsonValue value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QJsonValue& value) = 0;
    virtual void remove(const QString& key) = 0;

    bool contains(const QString& key) const { return !value(key).isUndefined(); }
    std::optional<QString> string(const QString& key) const;
    std::optional<QVariantList> array(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    double doubleValue(const QString& key) const;
    qint64 integer(const QString& key) const;
    bool boolean(const QString& key) const;

    void setString(const QString& key, const QString& text) { setValue(key, text); }
    void setIntegerArray(const QString& key, const QList<qint64>& numbers);
    // Stored as {"base64": "..."} so it can be told apart from a string.
    void setData(const QString& key, const QByteArray& bytes);
    void setDouble(const QString& key, double number) { setValue(key, number); }
    void setInteger(const QString& key, qint64 number) { setValue(key, number); }
    void setBoolean(const QString& key, bool flag) { setValue(key, flag); }
};

// Keeps the values in memory only; counts writes so tests can assert on them.
class MemoryDefaultsStore : public DefaultsStore
{
public:
    MemoryDefaultsStore() = default;
    explicit MemoryDefaultsStore(QJsonObject values) : m_values(std::move(values)) {}

    QJsonValue value(const QString& key) const override { return m_values.value(key); }
    void setValue(const QString& key, const QJsonValue& value) override;
    void remove(const QString& key) override;

    QJsonObject values() const { return m_values; }
    int writeCount() const { return m_writeCount; }

private:
    QJsonObject m_values;
    int m_writeCount = 0;
};

// The per-user JSON file ($XDG_CONFIG_HOME/Varlo/settings.json). Read once at
// construction; an unreadable or corrupt file reads as empty and is left alone
// until the next real write. Changes are written atomically on a background
// writer shortly after they happen, and at destruction.
class JsonDefaultsStore : public QObject, public DefaultsStore
{
    Q_OBJECT
public:
    explicit JsonDefaultsStore(QString filePath, QObject* parent = nullptr);
    ~JsonDefaultsStore() override;

    static QString standardFilePath();

    QJsonValue value(const QString& key) const override { return m_values.value(key); }
    void setValue(const QString& key, const QJsonValue& value) override;
    void remove(const QString& key) override;

    QString filePath() const { return m_filePath; }
    // Starts any pending write now and waits for every write to finish.
    void flush();

private:
    void scheduleWrite();
    void startWrite();

    QString m_filePath;
    QJsonObject m_values;
    bool m_dirty = false;
    QTimer m_writeTimer;
    QThreadPool m_writer; // one thread: writes land in the order they started
};

} // namespace varlo
