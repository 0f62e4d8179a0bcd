#include "bench_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

namespace vok::bench {

namespace {

// splitmix64: small, fast, and the same sequence everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform enough in [0, n) for n far below 2^32.
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>((Next() >> 32) % n); }

 private:
  uint64_t state_;
};

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

Input ResolveInput() {
  Input in;
  if (const char* file = std::getenv("VOK_BENCH_FILE"); file != nullptr && *file != '\0') {
    in.size = FileSize(file);
    if (in.size < 0) {
      in.error = std::string("VOK_BENCH_FILE is not a readable file: ") + file;
      return in;
    }
    in.path = file;
    return in;
  }
  int64_t size = 256LL << 20;
  if (const char* text = std::getenv("VOK_BENCH_SIZE"); text != nullptr && *text != '\0') {
    size = ParseSize(text);
    if (size < 0) {
      in.error = std::string("VOK_BENCH_SIZE is not a size: ") + text;
      return in;
    }
  }
  std::string path = TempFolder() + "voktools_bench_lines_" + std::to_string(size) + ".txt";
  // A complete earlier file is reused: generation writes under another name
  // and renames, so a file of the right size is a finished one.
  if (FileSize(path) != size) {
    std::fprintf(stderr, "Generating %lld bytes of lines in %s\n", static_cast<long long>(size),
                 path.c_str());
    if (!GenerateInput(path, size)) {
      in.error = "cannot generate " + path;
      return in;
    }
  }
  in.path = path;
  in.size = size;
  return in;
}

}  // namespace

int64_t ParseSize(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || n < 0) return -1;
  std::string_view suffix(end);
  int shift = 0;
  if (suffix == "K" || suffix == "k") {
    shift = 10;
  } else if (suffix == "M" || suffix == "m") {
    shift = 20;
  } else if (suffix == "G" || suffix == "g") {
    shift = 30;
  } else if (!suffix.empty()) {
    return -1;
  }
  if (n > (INT64_MAX >> shift)) return -1;
  return static_cast<int64_t>(n) << shift;
}

bool GenerateInput(const std::string& path, int64_t size) {
  static constexpr std::string_view kAlphabet =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ,.;:-'\"()";
  static constexpr std::array<std::string_view, 4> kEnds = {"\r\n", "\n", "\r", "\n\r"};
  Rng rng(0x564F4B42454E4348ULL ^ static_cast<uint64_t>(size));

  // Line text is cut from a block of random characters at random offsets.
  constexpr size_t kTextBlock = 1 << 16;
  constexpr size_t kLongestLine = 8192;
  std::string text(kTextBlock + kLongestLine, '\0');
  for (char& c : text) c = kAlphabet[rng.Below(static_cast<uint32_t>(kAlphabet.size()))];

  const std::string part = path + ".part";
  std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(part.c_str(), "wb"), &std::fclose);
  if (!out) {
    std::fprintf(stderr, "%s: %s\n", part.c_str(), std::strerror(errno));
    return false;
  }
  constexpr size_t kFlushAt = 1 << 20;
  std::string buffer;
  buffer.reserve(kFlushAt + kLongestLine + 2);
  int64_t left = size;
  bool ok = true;
  while (left > 0 && ok) {
    // One line in 200 is 2 to 8 KB long; the rest are 0 to 200 bytes.
    size_t length = rng.Below(200) == 0 ? 2048 + rng.Below(kLongestLine - 2048) : rng.Below(201);
    buffer.append(text, rng.Below(kTextBlock), length);
    buffer.append(kEnds[rng.Below(kEnds.size())]);
    if (buffer.size() >= kFlushAt || static_cast<int64_t>(buffer.size()) >= left) {
      size_t n =
          static_cast<int64_t>(buffer.size()) > left ? static_cast<size_t>(left) : buffer.size();
      ok = std::fwrite(buffer.data(), 1, n, out.get()) == n;
      left -= static_cast<int64_t>(n);
      buffer.clear();
    }
  }
  FILE* f = out.release();
  ok = std::fclose(f) == 0 && ok;
  if (ok && std::rename(part.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
    std::remove(part.c_str());
  }
  return ok;
}

const Input& BenchInput() {
  static const Input input = ResolveInput();
  return input;
}

namespace {
std::string& Scratch() {
  static std::string folder;
  return folder;
}
}  // namespace

const std::string& ScratchFolder() {
  std::string& folder = Scratch();
  if (folder.empty()) {
    std::string pattern = TempFolder() + "voktools_bench_XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) folder = pattern + "/";
  }
  return folder;
}

void RemoveScratchFolder() {
  std::string& folder = Scratch();
  if (folder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  folder.clear();
}

}  // namespace vok::bench
