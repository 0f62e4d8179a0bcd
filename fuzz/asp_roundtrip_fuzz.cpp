// clsASP2HTML protection followed by restoration; the input is the page.
// The HTML and script files must be what the scanner model makes of the
// page, and restoring them must give back the page, with a double quote
// added before and after every server block that stood right after "=" in a
// tag outside quotes (the quotes protection put around its placeholder stay).
//
// Pages that cannot come back are checked for the protection only: a block
// started inside an open block of its own kind, and text that restoration
// reads as a placeholder ("asp2html" or "&lt;!--" in any letter case).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "support/asp_oracle.h"
#include "voktools/asp2html.h"
#include "voktools/collection.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "asp roundtrip: %s\n", what);
  std::abort();
}

// A private folder for the files of every run, removed when the fuzzer exits.
class Folder {
 public:
  Folder() {
    const char* tmp = std::getenv("TMPDIR");
    path_ =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/asp_roundtrip_fuzz_XXXXXX";
    if (::mkdtemp(path_.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ += '/';
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const std::string& FolderPath() {
  static const Folder folder;
  return folder.path();
}

void WriteFile(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out.flush()) Fail("cannot write the page");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read an output back");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
  converter.SetChunkSizeForTesting(static_cast<int32_t>(32 + size % 64));
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
