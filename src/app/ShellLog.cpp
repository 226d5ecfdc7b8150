#include "app/ShellLog.h"

namespace varlo {
Q_LOGGING_CATEGORY(lcShell, "app.varlo.Varlo.shell")
}
