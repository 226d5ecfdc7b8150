#pragma once

namespace varlo {

// Runs Varlo: the display check, the single-instance guard, the parts, the
// event loop, and the final writes. The process's exit status.
int runApplication(int argc, char* argv[]);

} // namespace varlo
