// clsRetrieveFile against the file it reads. The first byte of the input
// picks the chunk size and the way lines are fetched; the rest is the file.
// The lines must give back the file byte for byte, each cut right after its
// line end, and the counters must agree with the lines.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "voktools/retrieve_file.h"

namespace {

constexpr std::array<int32_t, 16> kLargerChunks = {17,  31,  32,  63,   64,   100,  127,  128,
                                                   255, 256, 511, 1000, 1024, 4096, 4097, 65536};

int32_t ChunkFor(uint8_t b) {
  unsigned pick = b & 0x1F;
  return pick < 16 ? static_cast<int32_t>(pick + 1) : kLargerChunks[pick - 16];
}

enum class Fetch { kNextLine, kGetLineFromFile, kAlternate };

Fetch FetchFor(uint8_t b) {
  switch ((b >> 5) & 3) {
    case 0:
      return Fetch::kNextLine;
    case 1:
      return Fetch::kGetLineFromFile;
    default:
      return Fetch::kAlternate;
  }
}

bool IsEnd(char c) { return c == '\r' || c == '\n'; }

[[noreturn]] void Fail(const char* what, size_t line) {
  std::fprintf(stderr, "line reader: %s (line %zu)\n", what, line);
  std::abort();
}

// One temporary file, rewritten for every input. Its name is removed at once
// and the reader reaches it through the descriptor's /proc entry, so nothing
// is left behind however the fuzzer ends.
int ScratchFd() {
  static const int fd = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string name =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/line_reader_fuzz_XXXXXX";
    int made = ::mkstemp(name.data());
    if (made < 0) {
      std::perror("mkstemp");
      std::abort();
    }
    ::unlink(name.c_str());
    return made;
  }();
  return fd;
}

std::string WriteScratch(std::string_view content) {
  const int fd = ScratchFd();
  if (::ftruncate(fd, 0) != 0) std::abort();
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n =
        ::pwrite(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string path = WriteScratch(content);

  vok::clsRetrieveFile reader;
  reader.Filename(path);
  reader.ChunkSize(ChunkFor(mode));
  if (!reader.OpenFile()) Fail("cannot open the file", 0);

  const Fetch fetch = FetchFor(mode);
  std::string copy;
  std::string joined;
  size_t lines = 0;
  int32_t ended = 0;
  bool last_unended = false;
  while (true) {
    std::string_view line;
    bool more;
    if (fetch == Fetch::kNextLine || (fetch == Fetch::kAlternate && lines % 2 == 0)) {
      more = reader.NextLine(&line);
    } else {
      copy = "left over";  // must be replaced, also at the end
      more = reader.GetLineFromFile(copy);
      line = copy;
    }
    if (!more) {
      if (!line.empty()) Fail("a line at the end", lines);
      break;
    }
    ++lines;
    if (last_unended) Fail("a line after one without a line end", lines);
    if (line.empty()) Fail("an empty line", lines);

    // The text, then one line end: CR, LF, or a CR LF / LF CR pair.
    size_t body = line.size();
    if (IsEnd(line[body - 1])) {
      --body;
      if (body > 0 && IsEnd(line[body - 1]) && line[body - 1] != line[body]) --body;
      ++ended;
    } else {
      last_unended = true;
    }
    for (size_t i = 0; i < body; ++i) {
      if (IsEnd(line[i])) Fail("a line end inside a line", lines);
    }
    // A single CR or LF must not have left the other half of its pair behind.
    size_t next = joined.size() + line.size();
    if (line.size() - body == 1 && next < content.size() && IsEnd(content[next]) &&
        content[next] != line.back()) {
      Fail("a CR LF or LF CR pair cut in two", lines);
    }
    joined.append(line);
    if (joined.size() > content.size() || content.compare(0, joined.size(), joined) != 0) {
      Fail("the lines differ from the file", lines);
    }
    if (reader.LineNumber() != ended) Fail("LineNumber differs from the lines ended", lines);
  }

  if (joined.size() != content.size()) Fail("the lines stop short of the end of the file", lines);
  if (reader.LineNumber() != ended) Fail("LineNumber changed at the end", lines);
  if (!content.empty() && reader.Progress() != 100) Fail("Progress is not 100 at the end", lines);
  if (reader.Position() != static_cast<int32_t>(content.size()) + 1) {
    Fail("Position is not past the end", lines);
  }
  std::string_view after;
  if (reader.NextLine(&after) || !after.empty()) Fail("a line after the end", lines);
  reader.CloseFile();
  return 0;
}
