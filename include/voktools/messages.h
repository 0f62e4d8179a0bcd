// The library's message catalogue, addressed by number.
#pragma once

#include <cstdint>
#include <string_view>

namespace vok {

// Text of message id; AutomationError 326 for an id the catalogue lacks.
std::string_view Message(int32_t id);
bool HasMessage(int32_t id);

}  // namespace vok
