// Kept apart so that changing the feed address rebuilds only this file.
#include "services/UpdaterController.h"

#ifndef VARLO_ENABLE_UPDATER
#define VARLO_ENABLE_UPDATER 0
#endif
#ifndef VARLO_UPDATE_FEED_URL
#define VARLO_UPDATE_FEED_URL ""
#endif
#ifndef VARLO_VERSION
#define VARLO_VERSION "0"
#endif

namespace varlo {

UpdaterController::Config UpdaterController::buildConfig()
{
    Config config;
    config.enabled = VARLO_ENABLE_UPDATER != 0;
    config.checker.feedUrl = QUrl(QStringLiteral(VARLO_UPDATE_FEED_URL));
    config.checker.currentVersion = QStringLiteral(VARLO_VERSION);
    return config;
}

} // namespace varlo
