// clsHTMLValidate on a page, then on what it wrote. The first byte picks
// the size of the pieces the page is read in (16 to 271 bytes), so that
// lines and tags straddle reads; the rest is the page.
//
// The first run must succeed, list one entry per repair between its title
// and its summary, and give the same page and list as a run that reads the
// page in one piece. The second run, on the validated page, must change
// nothing and report no repair.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frame/with_env.h"
#include "fuzz_files.h"

#include "voktools/collection.h"
#include "voktools/html_validate.h"

namespace {

[[noreturn]] void Fail(const char* what) { vok::fuzz::Fail("html validate", what); }

const std::string& FolderPath() {
  static const vok::fuzz::Folder folder("html_validate_fuzz");
  return folder.path();
}

struct Validated {
  std::string page;
  std::vector<std::string> list;
};

// Writes content as the page, validates it reading pieces of chunk bytes,
// and returns the page and the error list.
Validated Validate(std::string_view content, int32_t chunk) {
  const std::string path = FolderPath() + "page.htm";
  vok::fuzz::WriteWholeFile(path, content);
  vok::clsHTMLValidate v;
  v.Filename(path);
  SetChunkSizeForTesting(v, chunk);
  if (v.HTMLValidate() != 0) Fail("the validation failed");
  Validated r{vok::fuzz::ReadWholeFile(path), v.ErrorList()->Texts()};
  if (r.list.size() < 2 || r.list.front() != "Validate : " + path ||
      r.list.back() !=
          "0 error(s) encountered, " + std::to_string(r.list.size() - 2) + " problem(s) fixed") {
    Fail("the list is not the title, one entry per repair and the summary");
  }
  return r;
}

// Whether the page ends inside a comment with recognised tags open. The end
// tags that the end of the page generates then land inside that comment, so
// the next run finds the same tags open and generates them again. The text
// test is wider than needed ("<!--" in a quoted value, or a comment that a
// script's end tag or "<!-->" closed, counts as open): such pages are only
// checked for their first run.
bool EndsInCommentWithTagsOpen(std::string_view page, const std::vector<std::string>& list) {
  const size_t open = page.rfind("<!--");
  if (open == std::string_view::npos || page.find("-->", open) != std::string_view::npos) {
    return false;
  }
  // Open tags at the end are the last repair reported.
  return list.size() > 2 && list[list.size() - 2].ends_with(" : Terminating unfinished tags");
}

// Lines that begin with "<!--HTMLGlue". A repair that drops a tag without a
// trace (an unnecessary end tag, an empty <A> or <FONT>) in front of such a
// text on its line makes that line a glue line for the next run, which then
// closes the tags open there.
size_t GlueLines(std::string_view page) {
  size_t count = page.starts_with("<!--HTMLGlue") ? 1 : 0;
  for (size_t at = 0; (at = page.find("<!--HTMLGlue", at + 1)) != std::string_view::npos;) {
    if (page[at - 1] == '\r' || page[at - 1] == '\n') ++count;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t chunk = 16 + data[0];
  const std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);

  const Validated first = Validate(page, chunk);
  // In one piece: a read as large as the page (the default size, 1 MB,
  // costs the fuzzer more in clearing buffers than in validating).
  const Validated whole = Validate(page, static_cast<int32_t>(std::max<size_t>(16, page.size())));
  if (whole.page != first.page) Fail("the page read in pieces came out differently");
  if (whole.list != first.list) Fail("the page read in pieces gave another list");
  if (EndsInCommentWithTagsOpen(page, first.list)) return 0;
  if (GlueLines(first.page) > GlueLines(page)) return 0;

  const Validated second = Validate(first.page, chunk);
  if (second.page != first.page) Fail("validating the validated page changed it");
  if (second.list.size() != 2) Fail("validating the validated page reported repairs");
  return 0;
}
