#pragma once

namespace vok {
inline constexpr const char* kVersion = "3.1.0";
}  // namespace vok
