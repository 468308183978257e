#include "wv2/runtime.h"

namespace wv2 {
bool ensure_runtime(const std::filesystem::path&) { return true; }
}  // namespace wv2
