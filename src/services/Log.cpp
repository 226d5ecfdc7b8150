#include "services/Log.h"

namespace varlo {

Q_LOGGING_CATEGORY(lcNotify, "app.varlo.Varlo.notify")

} // namespace varlo
