#include "voktools/factory.h"

#include "frame/builtin_classes.h"
#include "voktools/automation_error.h"

namespace vok {

ObjectRef CreateObject(std::string_view name) {
  const ClassEntry* entry = FindClass(name);
  if (entry == nullptr) throw AutomationError(err::kCannotCreateObject);
  ObjectRef object = detail::CreateBuiltin(entry->class_name);
  if (!object) throw AutomationError(err::kCannotCreateObject, "class not available in this build");
  return object;
}

bool IsClassAvailable(const ClassEntry& entry) { return detail::IsBuiltin(entry.class_name); }

}  // namespace vok
