#include "voktools/class_table.h"

#include <array>
#include <cctype>

namespace vok {

namespace {

constexpr std::array<ClassEntry, 13> kClasses{{
#include "frame/class_table_data.inc"
}};

std::string_view StripBraces(std::string_view s) {
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') return s.substr(1, s.size() - 2);
  return s;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::span<const ClassEntry> ClassTable() { return kClasses; }

const ClassEntry* FindClass(std::string_view name) {
  for (const ClassEntry& c : kClasses) {
    if (SameIgnoringCase(c.prog_id, name) ||
        SameIgnoringCase(StripBraces(c.clsid), StripBraces(name))) {
      return &c;
    }
  }
  return nullptr;
}

}  // namespace vok
