// Objects of a registered library: a host that knows only a class id finds
// the library file in the registry store, loads it and creates the object
// through the library's class factory. Calls on the object then go through
// the library's C interface; the member table is this build's table of the
// same class.
#pragma once

#include <string_view>

#include "voktools/dispatch.h"

namespace vok {
class Registry;
}

namespace vok::cli {

// A new object of the class (class id, or programmatic name looked up in the
// store) from the library registered for it. AutomationError 429 when the
// class is not registered or not known to this build, the library does not
// load or lacks the entry point, or its factory fails; the description says
// which.
ObjectRef CreateRegisteredObject(Registry& store, std::string_view prog_id_or_clsid);

}  // namespace vok::cli
