// The classes this build holds. The frame only declares the list; the
// library's top level (classes.cpp) defines it, since it sees every class.
#pragma once

#include <string_view>

#include "voktools/dispatch.h"
#include "voktools/export.h"
#include "voktools/variant.h"

namespace vok::detail {

// A new object of the class, or null when this build does not hold it.
ObjectRef CreateBuiltin(std::string_view class_name);
bool IsBuiltin(std::string_view class_name);
// The member table of the class, without making an object (hosts that call
// an object of the class elsewhere, through the C interface); null when this
// build does not hold the class.
const ClassTypeInfo* BuiltinTypeInfo(std::string_view class_name);

// Defined beside each class; the class's TypeInfo returns it. Hidden,
// though its instances name public classes.
template <typename T>
VOK_LOCAL const ClassTypeInfo& TypeInfoOf();

}  // namespace vok::detail
