#include "monitor/PortSource.h"

namespace varlo {

PortSource::~PortSource() = default;

} // namespace varlo
