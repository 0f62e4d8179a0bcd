// Key names as users write them ("HKLM\Software\Example") and the text
// files of registry editors ("Windows Registry Editor Version 5.00" and
// "REGEDIT4"): writing a key tree out, and reading a file into the batch of
// changes it asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace vok::cli {

struct RegKeyName {
  uint32_t root = 0;
  std::string path;  // "" for the root itself
};

// The root (HKEY_LOCAL_MACHINE or HKLM, HKEY_CURRENT_USER or HKCU,
// HKEY_CLASSES_ROOT or HKCR, HKEY_USERS or HKU, in any ASCII case) and the
// path after its '\'. Nothing, with the reason in *why, for an unknown root,
// an empty part (two '\' in a row, a '\' at the end), a part over 255 bytes
// or a path over 512.
std::optional<RegKeyName> ParseKeyName(std::string_view name, std::string* why);

// "HKEY_LOCAL_MACHINE" for reg::kLocalMachine, and so on.
std::string_view RootName(uint32_t root);
// The root's long name, then '\' and the path when there is one.
std::string FullKeyName(uint32_t root, std::string_view path);

// The path of an existing key as the store spells it (the case its parts
// were created with); path itself when a part cannot be found.
std::string StoredPath(Registry& registry, const RegKeyName& key);

// The first line this code writes, and the other one it reads.
inline constexpr std::string_view kRegHeader = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kRegHeader4 = "REGEDIT4";

struct RegExportCounts {
  int64_t keys = 0;
  int64_t values = 0;
};

// The key and every key below it, in the store's order and spelling, as the text of a
// registry file (CR LF line ends, texts as the bytes stored). Fails when a
// key or value name holds a line end, which the format cannot carry.
Status ExportRegText(Registry& registry, const RegKeyName& key, std::string* text,
                     RegExportCounts* counts);

struct RegFileError {
  int64_t line = 0;
  std::string reason;
};

// The changes a registry file asks for, in order: a byte order mark is
// skipped (UTF-8) or the file decoded to UTF-8 (UTF-16, either byte order);
// CR LF and LF line ends. False, with the first fault in *error, when the
// file is not one.
bool ParseRegFile(std::string_view bytes, std::vector<RegistryChange>* changes,
                  RegFileError* error);

}  // namespace vok::cli
