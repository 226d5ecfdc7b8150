#pragma once

#include <QEventLoop>
#include <QList>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QtGlobal>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <type_traits>

namespace varlo::test {

// Distinct loopback ports that were free a moment ago.
QList<quint16> freeLoopbackPorts(int count);
inline quint16 freeLoopbackPort()
{
    return freeLoopbackPorts(1).constFirst();
}

// Absolute path of the varlo-test-listener helper built with the tests.
QString listenerProgram();

// Runs the varlo-test-listener helper. The destructor ends it (and with it its
// workers); nothing else is ever signalled.
class TestListener
{
public:
    struct Options
    {
        int workers = 0;
        bool ignoreTerm = false;
        bool reusePort = false;
        bool ipv6 = false;
        bool bothFamilies = false; // 127.0.0.1 and ::1
        // docker-proxy's argument shape for the first port, instead of the helper's own options
        bool proxyArguments = false;
        QString program; // another path to the helper, such as a symlink named docker-proxy
        QString workingDirectory;
        QByteArray name; // the command name, when not the helper's own

        static Options withWorkers(int count)
        {
            Options options;
            options.workers = count;
            return options;
        }
    };

    TestListener() = default;
    TestListener(const TestListener&) = delete;
    TestListener& operator=(const TestListener&) = delete;
    ~TestListener();

    // Starts listening on `ports`; false when the helper did not report ready in time.
    bool start(const QList<quint16>& ports, const Options& options);
    bool start(const QList<quint16>& ports) { return start(ports, Options{}); }

    qint64 pid() const { return m_pid; }
    QList<qint64> workerPids() const { return m_workers; }
    QList<qint64> allPids() const;
    // True while the process with this pid (ours) has not exited.
    static bool isAlive(qint64 pid);

private:
    std::unique_ptr<QProcess> m_process;
    qint64 m_pid = 0;
    QList<qint64> m_workers;
};

// Waits for `condition` on the event loop, up to `limit`.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

namespace detail {
template<typename T> struct TaskState
{
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
    bool done = false;
    QPointer<QEventLoop> loop;
};

template<typename T> QCoro::Task<void> drive(QCoro::Task<T> task, std::shared_ptr<TaskState<T>> state)
{
    if constexpr (std::is_void_v<T>) {
        co_await std::move(task);
        state->result = true;
    } else {
        state->result = co_await std::move(task);
    }
    state->done = true;
    if (state->loop)
        state->loop->quit();
}
} // namespace detail

// Runs a coroutine on a local event loop with a watchdog, since QCoro::waitFor
// has no time-out. Gives nullopt (or false for void tasks) when it did not finish in time.
template<typename T>
auto awaitTask(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    auto state = std::make_shared<detail::TaskState<T>>();
    QEventLoop loop;
    state->loop = &loop;
    auto driver = detail::drive<T>(std::move(task), state);
    if (!state->done) {
        QTimer::singleShot(limit, &loop, &QEventLoop::quit);
        loop.exec();
    }
    state->loop = nullptr;
    return std::move(state->result);
}

} // namespace varlo::test
