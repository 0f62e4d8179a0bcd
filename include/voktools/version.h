#pragma once

#include "voktools/export.h"

namespace vok {
VOK_PUBLIC_BEGIN
inline constexpr const char* kVersion = "3.1.0";
VOK_PUBLIC_END
}  // namespace vok
