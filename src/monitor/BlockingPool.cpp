#include "monitor/BlockingPool.h"

namespace varlo {

QThreadPool& blockingPool()
{
    static QThreadPool* const pool = [] {
        // Leaked on purpose: workers may still run while statics are torn down.
        auto* created = new QThreadPool;
        created->setMaxThreadCount(8);
        created->setExpiryTimeout(30000);
        return created;
    }();
    return *pool;
}

} // namespace varlo
