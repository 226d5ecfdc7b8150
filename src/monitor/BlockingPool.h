#pragma once

#include <QThreadPool>

namespace varlo {

// The threads for tool runs and /proc reads. Kept apart from Qt's global pool,
// which is as small as the machine has cores, so that a stop or a kill never
// queues behind a slow `docker ps`: these threads mostly wait.
QThreadPool& blockingPool();

} // namespace varlo
