// Simulated kernel32 file system.
#include "internal.h"

namespace sim::detail {
void ResetFiles() {}
}  // namespace sim::detail
