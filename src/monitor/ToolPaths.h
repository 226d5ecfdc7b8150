#pragma once

#include <QString>
#include <QStringList>

namespace varlo {

// Absolute paths of the command-line tools Varlo runs. Each tool is looked up
// in a fixed candidate list (the macOS location first, then the usual Linux
// ones); the first executable candidate wins. An empty path means the tool is
// absent, which makes every run of it yield the empty result.
struct ToolPaths
{
    QString lsof;
    QString ps;
    QString pgrep;
    QString scutil;
    QString nmcli;
    QString ip;

    // Resolved once per process, on first use.
    static const ToolPaths& system();

    static QString firstExecutable(const QStringList& candidates);

    static const QStringList lsofCandidates;
    static const QStringList psCandidates;
    static const QStringList pgrepCandidates;
    static const QStringList scutilCandidates;
    static const QStringList nmcliCandidates;
    static const QStringList ipCandidates;
};

} // namespace varlo
