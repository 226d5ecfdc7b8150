#pragma once

#include <QtGlobal>

namespace varlo {

// When to try a failing service again: after each failure in a row the pause
// doubles, from `first` up to `longest`; a success starts afresh.
class RetryBackOff
{
public:
    RetryBackOff(qint64 firstMs, qint64 longestMs) : m_firstMs(firstMs), m_longestMs(longestMs) {}

    bool mayTry(qint64 nowMs) const { return m_failures == 0 || nowMs >= m_nextTryMs; }
    void failed(qint64 nowMs);
    void succeeded() { m_failures = 0; }

private:
    qint64 m_firstMs;
    qint64 m_longestMs;
    int m_failures = 0;
    qint64 m_nextTryMs = 0;
};

} // namespace varlo
