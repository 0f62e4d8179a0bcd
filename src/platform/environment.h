// The process environment.
#pragma once

#include <string>
#include <string_view>

namespace vok {

// text with each %NAME% replaced by the environment variable NAME; a name
// that is not set, "%%" and a "%" without a partner stay as they stand.
std::string ExpandEnvironment(std::string_view text);

}  // namespace vok
