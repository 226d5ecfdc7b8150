#include "monitor/SystemPortSource.h"

#include "monitor/PortScanner.h"

#ifdef Q_OS_LINUX
#include "monitor/ProcNetSource.h"
#endif

namespace varlo {

#ifdef Q_OS_LINUX

namespace {

class KernelThenLsof : public PortSource
{
public:
    explicit KernelThenLsof(SocketLister lister) : m_kernel(std::make_shared<ProcNetSource>(std::move(lister))) {}

    QCoro::Task<std::optional<QList<PortEntry>>> scan(bool includeDetails) override
    {
        return scanEither(m_kernel, m_lsof, includeDetails);
    }

private:
    // Holds its own references: the source may be gone before the scan ends.
    static QCoro::Task<std::optional<QList<PortEntry>>> scanEither(std::shared_ptr<ProcNetSource> kernel,
                                                                   PortScanner lsof, bool includeDetails)
    {
        QCoro::Task<std::optional<QList<PortEntry>>> first = kernel->scan(includeDetails);
        std::optional<QList<PortEntry>> entries = co_await std::move(first);
        if (entries)
            co_return entries;
        QCoro::Task<std::optional<QList<PortEntry>>> second = lsof.scan(includeDetails);
        co_return co_await std::move(second);
    }

    std::shared_ptr<ProcNetSource> m_kernel;
    PortScanner m_lsof;
};

} // namespace

ChosenPortSource choosePortSource(SocketLister lister)
{
    if (lister && lister())
        return {std::make_unique<KernelThenLsof>(std::move(lister)), QStringLiteral("netlink")};
    return {std::make_unique<PortScanner>(), QStringLiteral("lsof")};
}

#else

ChosenPortSource choosePortSource()
{
    return {std::make_unique<PortScanner>(), QStringLiteral("lsof")};
}

#endif

} // namespace varlo
