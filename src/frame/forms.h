// The library's own windows that are loaded now, in load order, on this
// thread (objects live in the thread that made them).
#pragma once

#include <vector>

#include "voktools/variant.h"

namespace vok {

void RegisterLoadedForm(const ObjectRef& form);
void UnregisterLoadedForm(const Dispatch* form);
const std::vector<ObjectRef>& LoadedForms();

}  // namespace vok
