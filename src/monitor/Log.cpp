#include "monitor/Log.h"

namespace varlo {

// Debug lines only when asked for (QT_LOGGING_RULES), like the system log.
Q_LOGGING_CATEGORY(lcNotify, "app.varlo.Varlo.notify", QtInfoMsg)

} // namespace varlo
