#include "wv2/runtime.h"

namespace wv2 {
// The engine here is a package dependency: nothing to install.
bool ensure_runtime(const std::filesystem::path&) { return true; }
}  // namespace wv2
