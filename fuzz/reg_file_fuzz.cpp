// A registry file read, applied to an empty store and written out again.
//
// A file that does not parse must say on which line. One that parses is
// applied to an empty store; each root is then exported, and the export must
// parse, and give, applied to another empty store, the same export again.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_files.h"
#include "platform/sqlite_registry.h"
#include "reg_file.h"

namespace {

[[noreturn]] void Fail(const char* what) { vok::fuzz::Fail("registry file", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<vok::RegistryChange> changes;
  vok::cli::RegFileError error;
  if (!vok::cli::ParseRegFile(bytes, &changes, &error)) {
    if (error.line < 1 || error.reason.empty()) Fail("a refused file without a line and reason");
    return 0;
  }
  vok::SqliteRegistry first(":memory:");
  if (!first.Apply(changes).ok()) return 0;  // for example a value set on a deleted root
  for (uint32_t root : {vok::reg::kCurrentUser, vok::reg::kLocalMachine, vok::reg::kUsers}) {
    std::string text;
    vok::cli::RegExportCounts counts;
    if (!vok::cli::ExportRegText(first, {root, ""}, &text, &counts).ok()) continue;
    std::vector<vok::RegistryChange> again;
    if (!vok::cli::ParseRegFile(text, &again, &error)) Fail("an export that does not parse");
    vok::SqliteRegistry second(":memory:");
    if (!second.Apply(again).ok()) Fail("an export that cannot be applied");
    std::string text2;
    if (!vok::cli::ExportRegText(second, {root, ""}, &text2, &counts).ok()) {
      Fail("the import of an export cannot be exported");
    }
    if (text2 != text) Fail("export, import and export again differ");
  }
  return 0;
}
