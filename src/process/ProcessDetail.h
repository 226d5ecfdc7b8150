#pragma once

#include <QDir>
#include <QString>
#include <QtGlobal>
#include <variant>

namespace varlo {

// A snapshot of one process as `ps` printed it.
struct ProcessDetail
{
    double cpuPercent = 0;
    qint64 memoryBytes = 0;
    qint64 uptimeSeconds = 0;
    QString fullCommand;

    // The arguments without the executable, with the home folder shortened to "~".
    QString argumentsSummary(const QString& homePath = QDir::homePath()) const;

    bool operator==(const ProcessDetail&) const = default;
};

size_t qHash(const ProcessDetail& detail, size_t seed = 0);

// The state of one detail request of the expanded row.
struct DetailState
{
    struct Loading
    {
        bool operator==(const Loading&) const = default;
    };
    struct Unavailable
    {
        bool operator==(const Unavailable&) const = default;
    };
    std::variant<ProcessDetail, Loading, Unavailable> value;

    static DetailState loaded(const ProcessDetail& detail) { return {detail}; }
    static DetailState loading() { return {Loading{}}; }
    static DetailState unavailable() { return {Unavailable{}}; }

    bool isLoading() const { return std::holds_alternative<Loading>(value); }
    bool isUnavailable() const { return std::holds_alternative<Unavailable>(value); }
    const ProcessDetail* detail() const { return std::get_if<ProcessDetail>(&value); }

    bool operator==(const DetailState&) const = default;
};

} // namespace varlo
