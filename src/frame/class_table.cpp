#include "voktools/class_table.h"

#include <array>

#include "voktools/ascii.h"

namespace vok {

namespace {

constexpr std::array<ClassEntry, 13> kClasses{{
#include "frame/class_table_data.inc"
}};

std::string_view StripBraces(std::string_view s) {
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') return s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

std::span<const ClassEntry> ClassTable() { return kClasses; }

const ClassEntry* FindClass(std::string_view name) {
  for (const ClassEntry& c : kClasses) {
    if (EqualsIgnoreCase(c.prog_id, name) ||
        EqualsIgnoreCase(StripBraces(c.clsid), StripBraces(name))) {
      return &c;
    }
  }
  return nullptr;
}

}  // namespace vok
