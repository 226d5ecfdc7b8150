#pragma once

#include "monitor/PortEntry.h"

#include <QString>
#include <QtGlobal>

namespace varlo {

// The texts a port row shows, from its group alone.
namespace rowtext {

// "~/src/app · PID 4121", "… · PID 4121 +2"; for a listener of another user "Owned by root".
QString subtitle(const PortGroup& group, const QString& homePath);
// "Terminate process (PID n)" or "Free port :p — terminate all n processes".
QString killToolTip(const PortGroup& group);
// "Port :3000 is held by other unrelated processes too. Kill affects only this one."
QString sharedToolTip(qint64 port);
// "12.5%": one decimal, always a point.
QString cpuText(double percent);
// Megabytes, or gigabytes from 1 GiB on, counted in 1024s: "45.2 MB", "1.25 GB".
QString memoryText(qint64 bytes);
// The URL without its "https://" and "http://".
QString tunnelDisplayURL(const QString& publicURL);
// "Kill all 1 process?", "Kill all 3 processes?".
QString killAllTitle(qsizetype groups);

} // namespace rowtext

// True when the group's process could not be read (another user's listener):
// it can be neither inspected nor ended from here.
bool isUnattributed(const PortGroup& group);

} // namespace varlo
