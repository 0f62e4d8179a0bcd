// clsASP2HTML protection followed by restoration; the input is the page.
// The HTML and script files must be what the scanner model makes of the
// page, and restoring them must give back the page, with a double quote
// added before and after every server block that stood right after "=" in a
// tag outside quotes (the quotes protection put around its placeholder stay).
//
// Pages that cannot come back are checked for the protection only: a block
// started inside an open block of its own kind, and text that restoration
// reads as a placeholder ("asp2html" or "&lt;!--" in any letter case).
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/with_env.h"
#include "fuzz_files.h"

#include "support/asp_oracle.h"
#include "voktools/asp2html.h"
#include "voktools/collection.h"

namespace {

[[noreturn]] void Fail(const char* what) { vok::fuzz::Fail("asp roundtrip", what); }

const std::string& FolderPath() {
  static const vok::fuzz::Folder folder("asp_roundtrip_fuzz");
  return folder.path();
}

void WriteFile(const std::string& path, std::string_view content) {
  vok::fuzz::WriteWholeFile(path, content);
}

std::string ReadFile(const std::string& path) { return vok::fuzz::ReadWholeFile(path); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const vok::test::AspExpectation expect = vok::test::ExpectProtection(page);

  const std::string asp = FolderPath() + "page.asp";
  const std::string htm = FolderPath() + "page_asp.htm";
  const std::string scr = FolderPath() + "page_asp.scr";
  const std::string back = FolderPath() + "back.asp";
  WriteFile(asp, page);

  vok::clsASP2HTML converter;
  // Pieces of 32 to 95 bytes, chosen by the page's length, so that every
  // construct also straddles two reads.
  SetChunkSizeForTesting(converter, static_cast<int32_t>(32 + size % 64));
  converter.ASPFile(asp);
  converter.HTMFile(htm);
  converter.SCRFile(scr);
  if (converter.ASP2HTML() != 0) Fail("protection failed");
  if (converter.ErrorList()->Count() != 1) Fail("protection reported more than its title");
  if (ReadFile(htm) != expect.html) Fail("the HTML file differs from the model");
  if (ReadFile(scr) != expect.script) Fail("the script file differs from the model");
  if (!expect.round_trips) return 0;

  converter.ASPFile(back);
  if (converter.HTML2ASP() != 0) Fail("restoration failed");
  if (converter.ErrorList()->Count() != 1) Fail("restoration reported more than its title");
  if (ReadFile(back) != expect.restored) Fail("restoration did not give back the page");
  return 0;
}
