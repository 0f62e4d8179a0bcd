// The public classes, their programmatic names and identifiers. The
// identifiers were drawn once and never change: hosts bind to them.
#pragma once

#include <span>
#include <string_view>

#include "voktools/export.h"

namespace vok {
VOK_PUBLIC_BEGIN

struct ClassEntry {
  std::string_view class_name;   // "clsCommon"
  std::string_view prog_id;      // "VOKTools.clsCommon"
  std::string_view clsid;        // class identifier
  std::string_view iid;          // default interface "_clsCommon"
  std::string_view event_iid;    // event interface "__clsX", empty when none
  std::string_view earlier_iid;  // an older default interface, empty when none
};

inline constexpr std::string_view kLibraryName = "VOKTools";
inline constexpr std::string_view kTypeLibId = "{8F37FBAA-E5E8-4E6C-87A6-6F4249D0D43A}";
inline constexpr int kTypeLibMajor = 3;
inline constexpr int kTypeLibMinor = 1;
inline constexpr int kTypeLibLocale = 0;

// All thirteen classes.
std::span<const ClassEntry> ClassTable();
// By programmatic name (ASCII case ignored) or by class id (braces optional).
const ClassEntry* FindClass(std::string_view prog_id_or_clsid);

VOK_PUBLIC_END

}  // namespace vok
