// Creating the public classes by programmatic name or class id.
#pragma once

#include <string_view>

#include "voktools/class_table.h"
#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {
VOK_PUBLIC_BEGIN

// A new object of the named class. AutomationError 429 when the name is
// unknown, or when the class is not part of this build.
ObjectRef CreateObject(std::string_view prog_id_or_clsid);

// Whether this build can create the class.
bool IsClassAvailable(const ClassEntry& entry);

VOK_PUBLIC_END

}  // namespace vok
