#include "FakeNotificationServer.h"

namespace varlo::test {

QString notificationsService()
{
    return QStringLiteral("org.freedesktop.Notifications");
}
QString notificationsPath()
{
    return QStringLiteral("/org/freedesktop/Notifications");
}

} // namespace varlo::test
