#include "frame/forms.h"

#include <algorithm>

namespace vok {

namespace {
std::vector<ObjectRef>& Forms() {
  thread_local std::vector<ObjectRef> forms;
  return forms;
}
}  // namespace

void RegisterLoadedForm(const ObjectRef& form) { Forms().push_back(form); }

void UnregisterLoadedForm(const Dispatch* form) {
  auto& forms = Forms();
  forms.erase(std::remove_if(forms.begin(), forms.end(),
                             [form](const ObjectRef& f) { return f.get() == form; }),
              forms.end());
}

const std::vector<ObjectRef>& LoadedForms() { return Forms(); }

}  // namespace vok
