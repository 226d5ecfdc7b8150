#pragma once

#include <QLoggingCategory>

namespace varlo {

// Notification and monitor diagnostics, under the application id.
Q_DECLARE_LOGGING_CATEGORY(lcNotify)

} // namespace varlo
