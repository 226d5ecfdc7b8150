#pragma once

#include <QLoggingCategory>

namespace varlo {
Q_DECLARE_LOGGING_CATEGORY(lcShell)
}
