// The classes this build holds. The frame only declares the list; the
// library's top level (classes.cpp) defines it, since it sees every class.
#pragma once

#include <string_view>

#include "voktools/variant.h"

namespace vok::detail {

// A new object of the class, or null when this build does not hold it.
ObjectRef CreateBuiltin(std::string_view class_name);
bool IsBuiltin(std::string_view class_name);

}  // namespace vok::detail
