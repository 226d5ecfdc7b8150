#include "detectors/RetryBackOff.h"

#include <algorithm>

namespace varlo {

void RetryBackOff::failed(qint64 nowMs)
{
    qint64 pause = m_firstMs;
    for (int i = 0; i < m_failures && pause < m_longestMs; ++i)
        pause *= 2;
    m_nextTryMs = nowMs + std::min(pause, m_longestMs);
    m_failures = std::min(m_failures + 1, 64);
}

} // namespace varlo
