// clsRTFUtil extraction followed by insertion. The first byte of the input
// picks the chunk size (72 to 300 bytes), so that group starts, braces and
// placeholders fall on every position of a read; the rest is the RTF file.
// Both runs must succeed, the text in between must hold no group start, and
// insertion must give back the file byte for byte.
//
// Two kinds of file cannot come back and are skipped: one that already holds
// a placeholder, and one whose last group is still open at the end while the
// file ends with CR LF (that CR LF reads as the object's own end).
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/with_env.h"
#include "fuzz_files.h"

#include "voktools/rtf_util.h"

namespace {

constexpr std::string_view kObjectMarker = "{\\object";
constexpr std::string_view kPictMarker = "{\\pict";
constexpr std::string_view kPlaceholderStart = "{\\v\\vok OBJ ";

[[noreturn]] void Fail(const char* what) { vok::fuzz::Fail("rtf roundtrip", what); }

size_t FindGroupStart(std::string_view text, size_t from) {
  for (size_t i = from; (i = text.find('{', i)) != std::string_view::npos; ++i) {
    std::string_view rest = text.substr(i);
    if (rest.starts_with(kObjectMarker) || rest.starts_with(kPictMarker)) return i;
  }
  return std::string_view::npos;
}

// Whether text ends inside a group: outside, a group starts at "{\object" or
// "{\pict"; inside, every brace counts, escaped or not, until they balance.
bool EndsInsideGroup(std::string_view text) {
  size_t i = 0;
  while ((i = FindGroupStart(text, i)) != std::string_view::npos) {
    int64_t depth = 0;
    for (; i < text.size(); ++i) {
      if (text[i] == '{') {
        ++depth;
      } else if (text[i] == '}' && --depth == 0) {
        break;
      }
    }
    if (i == text.size()) return true;
    ++i;
  }
  return false;
}

const std::string& FolderPath() {
  static const vok::fuzz::Folder folder("rtf_roundtrip_fuzz");
  return folder.path();
}

void WriteFile(const std::string& path, std::string_view content) {
  vok::fuzz::WriteWholeFile(path, content);
}

std::string ReadFile(const std::string& path) { return vok::fuzz::ReadWholeFile(path); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t chunk = 72 + data[0] % 229;
  const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (content.find(kPlaceholderStart) != std::string_view::npos) return 0;
  if (content.ends_with("\r\n") && EndsInsideGroup(content)) return 0;

  const std::string rtf = FolderPath() + "doc.rtf";
  const std::string obj = FolderPath() + "doc.obj";
  WriteFile(rtf, content);

  vok::clsRTFUtil util;
  util.RTFFile(rtf);
  util.ObjFile(obj);
  ForceChunkSizeForTesting(util, chunk);
  if (util.ExtractObjects() != vok::clsRTFUtil::kOK) Fail("extraction failed");
  if (util.LastMoveResult() != 0) Fail("extraction left its text in the temporary file");
  const std::string text = ReadFile(rtf);
  if (text.find(kObjectMarker) != std::string::npos ||
      text.find(kPictMarker) != std::string::npos) {
    Fail("a group start is left in the text");
  }
  if (util.InsertObjects() != vok::clsRTFUtil::kOK) Fail("insertion failed");
  if (util.LastMoveResult() != 0) Fail("insertion left its text in the temporary file");
  if (ReadFile(rtf) != content) Fail("insertion did not give back the input");
  return 0;
}
