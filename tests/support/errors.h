#pragma once

#include <functional>

#include "voktools/automation_error.h"

namespace vok::test {

// The automation error number f raises, 0 when it raises none.
inline int ErrorNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace vok::test
