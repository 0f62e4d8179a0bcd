#include "voktools/asp2html.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/replacement_file.h"
#include "common/text_window.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/ascii.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"
#include "voktools/messages.h"

namespace vok {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kMarkerStart = "<!-- ASP2HTML";
// Searches for kMarkerStart look for its "!" first.
constexpr size_t kMarkerAnchor = 1;
constexpr std::string_view kAttribute = "ASP2HTML=\"";
constexpr size_t npos = std::string_view::npos;

// Whether text at i begins with word, ignoring ASCII case.
bool StartsWithLower(std::string_view text, size_t i, std::string_view word) {
  return i <= text.size() && EqualsIgnoreCase(text.substr(i, word.size()), word);
}

bool EndsWithLower(std::string_view text, size_t end, std::string_view word) {
  return end >= word.size() && StartsWithLower(text, end - word.size(), word);
}

std::string Placeholder(int64_t n) { return "<!-- ASP2HTML " + std::to_string(n) + " -->"; }

// What follows "<!-- ASP2HTML" in a marker, up to its "-->" (else its first
// word), without the spaces around it: the placeholder's number, as a rule.
std::string MarkerLabel(std::string_view marker) {
  if (marker.starts_with(kMarkerStart)) marker.remove_prefix(kMarkerStart.size());
  while (!marker.empty() && marker.front() == ' ') marker.remove_prefix(1);
  const size_t close = marker.find("-->");
  marker =
      close != npos ? marker.substr(0, close) : marker.substr(0, marker.find_first_of(" \r\n"));
  while (!marker.empty() && marker.back() == ' ') marker.remove_suffix(1);
  return std::string(marker.substr(0, 64));
}

// A failed read or write once the files are open.
struct IoFailure {
  Status status;
};

// Output gathered in memory and handed to the file in large pieces.
class Output {
 public:
  explicit Output(ReplacementFile& file) : file_(file) { buf_.reserve(kSize); }
  void Append(std::string_view s) {
    if (buf_.size() + s.size() > kSize) Flush();
    if (s.size() >= kSize) {
      Check(file_.file().Append(s));
    } else {
      buf_.append(s);
    }
  }
  void Flush() {
    if (!buf_.empty()) Check(file_.file().Append(buf_));
    buf_.clear();
  }
  void Close() {
    Flush();
    Check(file_.Close());
  }

 private:
  static constexpr size_t kSize = 1 << 18;
  static void Check(const Status& s) {
    if (!s.ok()) throw IoFailure{s};
  }
  ReplacementFile& file_;
  std::string buf_;
};

// An output that replaces its target only when complete.
struct PendingOutput {
  ReplacementFile file;
  std::unique_ptr<Output> out;
};

// The script file as restoration reads it: an index of every line that
// begins with "<!-- ASP2HTML", built in one pass at the first lookup, and
// block text read through a cache of aligned 1 MB pieces.
class ScriptFile {
 public:
  struct Block {
    std::string text;
    bool at_end = false;  // the collection stopped at the end of the file
    bool repeated = false;  // an earlier lookup took it already
  };

  // The marker lines that no lookup took, in file order: each one's text up
  // to its first "-->" (or its line end).
  std::vector<std::string> Unused() {
    if (!indexed_) BuildIndex();
    std::vector<std::string> markers;
    std::string text;
    for (size_t id = 0; id < entries_.size(); ++id) {
      if (uses_[id] != 0) continue;
      const Entry& e = entries_[id];
      if (e.key_size > 0) {
        markers.emplace_back(std::string_view(keys_).substr(e.key_at, e.key_size));
        continue;
      }
      ReadRange(e.start, std::min(e.line_end, e.start + static_cast<int64_t>(kMaxKey)), &text);
      markers.push_back(text.substr(0, text.find_first_of("\r\n")));
    }
    return markers;
  }

  explicit ScriptFile(std::unique_ptr<ReadableFile> file) : file_(std::move(file)) {}

  // The block after the first line that begins with marker, looked for from
  // where the last block ended, then from the start of the file.
  bool Lookup(std::string_view marker, Block* block) {
    if (!indexed_) BuildIndex();
    size_t id = marker.ends_with("-->") && marker.size() <= kMaxKey ? HashLookup(marker)
                                                                    : SlowLookup(marker);
    if (id == npos) return false;
    block->repeated = ++uses_[id] > 1;
    const int64_t from = entries_[id].line_end;
    const bool last = id + 1 == entries_.size();
    const int64_t to = last ? file_->Size() : entries_[id + 1].start;
    ReadRange(from, to, &block->text);
    block->at_end = last;
    resume_ = to;
    return true;
  }

 private:
  struct Entry {
    int64_t start;     // offset of "<!-- ASP2HTML"
    int64_t line_end;  // offset after the line's end
    size_t hash;       // of the key: the line up to its first "-->"
    uint32_t key_at;   // the key in keys_; key_size 0: the line has none
    uint32_t key_size;
  };
  // Marker lines are looked up by their text through the first "-->".
  static constexpr size_t kMaxKey = 256;
  static constexpr int64_t kCacheChunk = 1 << 20;

  static void Check(const Status& s) {
    if (!s.ok()) throw IoFailure{s};
  }

  // Of the lines whose key is marker, the first at or after resume_, else
  // the first in the file.
  size_t HashLookup(std::string_view marker) const {
    if (table_.empty()) return npos;
    const size_t h = std::hash<std::string_view>{}(marker);
    const size_t mask = table_.size() - 1;
    size_t after = npos, first = npos;
    const auto tag = static_cast<uint32_t>(h >> 32);
    for (size_t i = h & mask; table_[i].id != 0; i = (i + 1) & mask) {
      if (table_[i].tag != tag) continue;
      const size_t id = table_[i].id - 1;
      const Entry& e = entries_[id];
      if (e.hash != h || std::string_view(keys_).substr(e.key_at, e.key_size) != marker) continue;
      if (first == npos || id < first) first = id;
      if (e.start >= resume_ && (after == npos || id < after)) after = id;
    }
    return after != npos ? after : first;
  }

  void BuildTable() {
    size_t keyed = 0;
    for (const Entry& e : entries_) keyed += e.key_size > 0 ? 1 : 0;
    if (keyed == 0) return;
    size_t size = 16;
    while (size < 2 * keyed) size *= 2;
    table_.assign(size, Slot{});
    for (size_t id = 0; id < entries_.size(); ++id) {
      if (entries_[id].key_size == 0) continue;
      size_t i = entries_[id].hash & (size - 1);
      while (table_[i].id != 0) i = (i + 1) & (size - 1);
      table_[i] =
          Slot{static_cast<uint32_t>(id + 1), static_cast<uint32_t>(entries_[id].hash >> 32)};
    }
  }

  // A marker that is not a whole "<!-- ASP2HTML n -->": each line start is
  // compared in turn.
  size_t SlowLookup(std::string_view marker) {
    auto first = std::lower_bound(entries_.begin(), entries_.end(), resume_,
                                  [](const Entry& e, int64_t at) { return e.start < at; });
    const size_t begin = static_cast<size_t>(first - entries_.begin());
    std::string text;
    for (size_t k = 0; k < entries_.size(); ++k) {
      size_t id = (begin + k) % entries_.size();
      int64_t at = entries_[id].start;
      if (at + static_cast<int64_t>(marker.size()) > file_->Size()) continue;
      ReadRange(at, at + static_cast<int64_t>(marker.size()), &text);
      if (text == marker) return id;
    }
    return npos;
  }

  void BuildIndex() {
    indexed_ = true;
    Check(file_->Seek(0));
    TextWindow w;
    w.Reset(file_.get(), file_->Size(), 1 << 20);
    char before = '\n';  // the byte before the window: the start of the file is a line start
    auto drop = [&](size_t n) {
      if (n == 0) return;
      before = w.view()[n - 1];
      w.Drop(n);
    };
    while (true) {
      Check(w.Refill());
      std::string_view v = w.view();
      size_t i = FindAnchored(v, kMarkerStart, kMarkerAnchor);
      if (i == npos) {
        if (w.at_end()) break;
        size_t keep = std::min(v.size(), kMarkerStart.size() - 1);
        drop(v.size() - keep);
        if (v.size() == keep) Check(w.ReadMore(static_cast<size_t>(w.chunk())));
        continue;
      }
      const char prev = i > 0 ? v[i - 1] : before;
      if (prev != '\r' && prev != '\n') {
        drop(i + 1);
        continue;
      }
      // The whole line, with the byte after its end (a CR LF or LF CR pair).
      size_t eol = FindAnyOf(v, "\r\n", i);
      if ((eol == npos || eol + 1 >= v.size()) && !w.at_end()) {
        drop(i);
        Check(w.ReadMore(static_cast<size_t>(w.chunk())));
        continue;
      }
      const size_t line_end = LineEndAfter(v, eol);
      Entry e{w.offset() + static_cast<int64_t>(i), w.offset() + static_cast<int64_t>(line_end), 0,
              0, 0};
      std::string_view line = v.substr(i, (eol == npos ? v.size() : eol) - i);
      size_t close = line.find("-->");
      if (close != npos && close + 3 <= kMaxKey) {
        std::string_view key = line.substr(0, close + 3);
        e.hash = std::hash<std::string_view>{}(key);
        e.key_at = static_cast<uint32_t>(keys_.size());
        e.key_size = static_cast<uint32_t>(key.size());
        keys_.append(key);
      }
      entries_.push_back(e);
      drop(line_end);
    }
    BuildTable();
    uses_.assign(entries_.size(), 0);
  }

  void ReadRange(int64_t from, int64_t to, std::string* out) {
    out->clear();
    if (to <= from) return;
    out->reserve(static_cast<size_t>(to - from));
    while (from < to) {
      if (from >= cache_at_ && from < cache_at_ + static_cast<int64_t>(cache_.size())) {
        int64_t n = std::min(to, cache_at_ + static_cast<int64_t>(cache_.size())) - from;
        out->append(cache_.data() + (from - cache_at_), static_cast<size_t>(n));
        from += n;
        continue;
      }
      if (to - from >= kCacheChunk) {
        size_t n = static_cast<size_t>(to - from);
        size_t old = out->size();
        out->resize(old + n);
        size_t got = 0;
        Check(file_->Seek(from));
        Check(file_->Read(n, out->data() + old, &got));
        if (got < n) throw IoFailure{Status::FromErrno(EIO)};
        return;
      }
      cache_at_ = from - from % kCacheChunk;
      cache_.resize(static_cast<size_t>(std::min(kCacheChunk, file_->Size() - cache_at_)));
      size_t got = 0;
      Check(file_->Seek(cache_at_));
      Check(file_->Read(cache_.size(), cache_.data(), &got));
      if (got < cache_.size()) {
        cache_.clear();
        throw IoFailure{Status::FromErrno(EIO)};
      }
    }
  }

  std::unique_ptr<ReadableFile> file_;
  bool indexed_ = false;
  std::vector<Entry> entries_;
  std::vector<uint32_t> uses_;  // lookups that took each entry
  std::string keys_;  // the keys of all entries, one after another
  // Entry + 1 (0: free) by key hash, linear probing, with the hash's high
  // half to pass over other keys without touching their entries.
  struct Slot {
    uint32_t id = 0;
    uint32_t tag = 0;
  };
  std::vector<Slot> table_;
  int64_t resume_ = 0;
  std::string cache_;
  int64_t cache_at_ = -1;
};

// Whether a block that runs to the end of the script file was closed on the
// page, so that its last CR LF is the separator: a block left open holds no
// end of its kind ("%>" after "<%", else "</script>" or "</java>") at all.
bool ClosedBlock(std::string_view text) {
  if (!text.ends_with(kCRLF)) return false;
  if (text.starts_with("<%")) return text.find("%>") != npos;
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower.find("</script>") != npos || lower.find("</java>") != npos;
}

// The first position from `from` on where a placeholder, plain ("<!--
// ASP2HTML") or escaped ("&lt;!-- asp2html" in any case), has its "!", or
// a "!" whose text runs past the end of text; npos when there is none.
size_t FindPlaceholderCandidate(std::string_view text, size_t from) {
  while (from < text.size()) {
    const void* hit = std::memchr(text.data() + from, '!', text.size() - from);
    if (hit == nullptr) return npos;
    const size_t i = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    if (i + 12 > text.size()) return i;
    if (text.compare(i, 4, "!-- ") == 0) {
      if (i >= 1 && text[i - 1] == '<' && text.compare(i + 4, 8, "ASP2HTML") == 0) return i;
      if (i >= 4 && StartsWithLower(text, i - 4, "&lt;") &&
          StartsWithLower(text, i + 4, "asp2html")) {
        return i;
      }
    }
    from = i + 1;
  }
  return npos;
}

void Check(const Status& s) {
  if (!s.ok()) throw IoFailure{s};
}

// Line numbers of a file, counted only when a message needs one: the text
// between the last line counted and the one asked for is read again through
// a handle of its own, so counting stays linear however many are asked for.
class LineCounter {
 public:
  LineCounter(FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}

  // The number (from 1) of the line that starts at offset.
  int64_t NumberAt(int64_t offset) {
    if (!file_) {
      Check(fs_.OpenForRead(path_, &file_));
    }
    Check(file_->Seek(counted_to_));
    std::string buf(1 << 16, '\0');
    while (counted_to_ < offset) {
      size_t want = static_cast<size_t>(
          std::min<int64_t>(static_cast<int64_t>(buf.size()), offset - counted_to_));
      size_t got = 0;
      Check(file_->Read(want, buf.data(), &got));
      if (got == 0) break;
      for (size_t k = 0; k < got; ++k) {
        const char c = buf[k];
        if (c != '\r' && c != '\n') {
          open_ = 0;
        } else if (open_ != 0 && c != open_) {
          open_ = 0;  // the second character of a CR LF or LF CR pair
        } else {
          ++ended_;
          open_ = c;
        }
      }
      counted_to_ += static_cast<int64_t>(got);
    }
    return ended_ + 1;
  }

 private:
  FileSystem& fs_;
  std::string path_;
  std::unique_ptr<ReadableFile> file_;
  int64_t counted_to_ = 0;
  int64_t ended_ = 0;  // line ends seen before counted_to_
  char open_ = 0;      // a line end that the next character may pair with
};

}  // namespace

std::string RepairEscapedPlaceholders(std::string line) {
  constexpr std::string_view kEscaped = "&lt;!-- asp2html";
  size_t p = 0;
  while ((p = line.find('&', p)) != npos) {
    if (!StartsWithLower(line, p, kEscaped)) {
      ++p;
      continue;
    }
    line.replace(p, kEscaped.size(), kMarkerStart);
    // After the second space from the end of "ASP2HTML": the closing, when
    // exactly one word (the number) stands between.
    size_t i = p + kMarkerStart.size();
    int spaces = 0;
    while (i < line.size() && spaces < 2) {
      if (line[i] == ' ') ++spaces;
      ++i;
    }
    if (spaces == 2 && StartsWithLower(line, i, "--&gt;")) line.replace(i, 6, "-->");
    ++p;
  }
  return line;
}

clsASP2HTML::clsASP2HTML() : clsASP2HTML(CurrentEnv()) {}
clsASP2HTML::clsASP2HTML(Env& env) : env_(env), errors_(Collection::Create()) {}
clsASP2HTML::~clsASP2HTML() { errors_->Clear(); }

std::string clsASP2HTML::GetError(int32_t lngErrPtr) const {
  if (lngErrPtr < 1 || lngErrPtr > errors_->Count()) return {};
  return errors_->Item(lngErrPtr).ToText();
}

void clsASP2HTML::AddError(std::string text) { errors_->Add(Variant(std::move(text))); }

void clsASP2HTML::MakeFileNames(NameSource source) {
  clsCommon common(env_);
  const std::string& from = source == NameSource::kPage ? asp_file_ : htm_file_;
  const std::string folder = common.strParseFileName(from, 0);
  const std::string base = common.strParseFileName(from, 1);
  const std::string ext = common.strParseFileName(from, 2);
  if (scr_file_.empty()) {
    scr_file_ = folder + base + (source == NameSource::kPage ? "_" + ext : std::string()) + ".scr";
  }
  if (asp_file_.empty()) {
    size_t underscore = base.rfind('_');
    std::string suffix = underscore == npos ? "_ZZZ" : base.substr(underscore);
    std::string head;
    for (size_t k = 0; k < 4 && k < suffix.size(); ++k) {
      head += static_cast<char>(std::toupper(static_cast<unsigned char>(suffix[k])));
    }
    if (head == "_ASP" || head == "_JSP" || head == "_WSP" || head == "_HTM") {
      asp_file_ = folder + base.substr(0, base.size() - 4) + "." + base.substr(base.size() - 3);
    } else {
      asp_file_ = folder + base + ".asp";
    }
  }
  if (htm_file_.empty()) htm_file_ = folder + base + "_" + ext + ".htm";
}

namespace {

// Opens an existing regular file for reading, as the line reader would;
// the file layer's description when it cannot.
bool OpenInput(FileSystem& fs, const std::string& path, std::unique_ptr<ReadableFile>* file,
               std::string* why) {
  std::string found;
  Status s = fs.FindFirst(path, FindKind::kFiles, &found);
  FileInfo info;
  if (!s.ok() && fs.GetInfo(path, &info).ok() && !info.is_regular) {
    *why = "not a regular file";
    return false;
  }
  if (s.ok()) s = fs.OpenForRead(path, file);
  if (!s.ok()) *why = s.message();
  return s.ok();
}

// Starts an output for target; the error text when it cannot.
bool StartOutput(Env& env, const std::string& target, const OutputOptions& options,
                 PendingOutput* out, std::string* why) {
  Status s = out->file.Start(env, target, options);
  if (!s.ok()) {
    *why = s.message();
    return false;
  }
  out->out = std::make_unique<Output>(out->file);
  return true;
}

// Drops whatever outputs are still pending (a failed run).
void Abandon(std::vector<PendingOutput*> outputs) {
  for (PendingOutput* p : outputs) {
    p->out.reset();
    p->file.Abandon();
  }
}

// The protection scanner: one line at a time, page text to the HTML output,
// block text to the script output.
class Protector {
 public:
  Protector(Output& html, Output& script) : html_(html), script_(script) {}

  // Scans text[start, limit): the bytes before start were scanned already
  // and are kept only to look back at, those from limit on only to look
  // ahead at. Everything before limit is sent out.
  void Scan(std::string_view text, size_t start, size_t limit) {
    const char* s = text.data();
    const size_t n = text.size();
    // Only '<', '>', the quotes and the line ends can change anything; the
    // text between them goes out in one piece when its destination changes.
    size_t base = start;
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>');
    const __m128i dq = _mm_set1_epi8('"'), sq = _mm_set1_epi8('\'');
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; base < limit; base += 16) {
      __m128i v;
      unsigned valid = 0xFFFF;
      if (base + 16 <= n) {
        v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + base));
      } else {
        alignas(16) char tail[16] = {};
        std::memcpy(tail, s + base, n - base);
        v = _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
      }
      if (limit - base < 16) valid = (1u << (limit - base)) - 1;
      __m128i hit =
          _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt)),
                                    _mm_or_si128(_mm_cmpeq_epi8(v, dq), _mm_cmpeq_epi8(v, sq))),
                       _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
      for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)) & valid; mask != 0;
           mask &= mask - 1) {
        Visit(text, base + static_cast<size_t>(__builtin_ctz(mask)));
      }
    }
#else
    for (; base < limit; ++base) Visit(text, base);
#endif
    Flush(text, limit);
  }

  // The first n bytes of the text are gone from now on.
  void Dropped(std::string_view text, size_t n) {
    for (size_t k = n; k > 0; --k) {
      if (text[k - 1] != ' ') {
        prev_ = static_cast<unsigned char>(text[k - 1]);
        break;
      }
    }
    span_ -= std::min(span_, n);
    pair_end_ = pair_end_ > n ? pair_end_ - n : 0;
  }

  // The end of the page ends its last line.
  void Finish() {
    if (!block_.empty()) script_.Append(block_);
    block_.clear();
  }

 private:
  void Emit(std::string_view text) {
    if (in_server_ || in_script_) {
      block_.append(text);
    } else {
      html_.Append(text);
    }
  }

  // The last character that is not a space before position j.
  int PrevNonSpace(std::string_view line, size_t j) const {
    for (size_t k = j; k > 0; --k) {
      if (line[k - 1] != ' ') return static_cast<unsigned char>(line[k - 1]);
    }
    return prev_;
  }

  void StartServerBlock(std::string_view line, size_t j) {
    ++count_;
    in_server_ = true;
    const bool wrap = in_tag_ && !in_quote_;
    if (wrap) html_.Append(PrevNonSpace(line, j) == '=' ? "\"" : "ASP2HTML=\"");
    std::string placeholder = Placeholder(count_);
    html_.Append(placeholder);
    if (wrap) html_.Append("\"");
    placeholder.append(kCRLF);
    script_.Append(placeholder);
  }

  void StartScript() {
    ++count_;
    in_script_ = true;
    std::string placeholder = Placeholder(count_);
    html_.Append(placeholder);
    placeholder.append(kCRLF);
    script_.Append(placeholder);
  }

  // A byte that may change the state; the others are skipped here.
  void Visit(std::string_view line, size_t j) {
    const char c = line[j];
    if (c == '\r' || c == '\n') {
      LineEnd(line, j);
    } else if (c == '<' || c == '>') {
      Char(line, j);
    } else if ((c == '"' || c == '\'') && in_tag_ && !in_comment_ && !in_server_ && !in_script_) {
      Char(line, j);
    }
  }

  // A line's block text goes to the script file when the line ends (after
  // both characters of a CR LF or LF CR pair).
  void LineEnd(std::string_view text, size_t j) {
    if (j < pair_end_) return;  // the second character of a pair
    const size_t end = LineEndAfter(text, j);
    pair_end_ = end;
    if (!(in_server_ || in_script_)) return;
    Flush(text, end);
    script_.Append(block_);
    block_.clear();
  }

  // Text from span_ to j goes where the text is going now.
  void Flush(std::string_view line, size_t j) {
    if (j <= span_) return;  // a line end's pair already sent out the text up to here
    Emit(line.substr(span_, j - span_));
    span_ = j;
  }

  void Char(std::string_view line, size_t j) {
    const char c = line[j];
    const size_t n = line.size();
    // Quotes only count in a tag's own markup.
    if ((c == '"' || c == '\'') && !(in_tag_ && !in_comment_ && !in_server_ && !in_script_)) {
      return;
    }
    if (c == '<') {
      if (!in_comment_) {
        if (j + 1 < n && line[j + 1] == '%' && !in_script_) {
          Flush(line, j);
          StartServerBlock(line, j);
        } else if ((StartsWithLower(line, j, "<script") || StartsWithLower(line, j, "<java")) &&
                   !in_server_) {
          Flush(line, j);
          StartScript();
        } else if (line.substr(j, 4) == "<!--") {
          in_comment_ = true;
        } else if (!in_server_ && !in_script_ && !in_quote_ && j + 1 < n &&
                   (line[j + 1] == '/' ||
                    (AsciiLower(line[j + 1]) >= 'a' && AsciiLower(line[j + 1]) <= 'z'))) {
          in_tag_ = true;
          in_quote_ = false;
          if (tag_depth_ == 32767) throw AutomationError(err::kOverflow);
          ++tag_depth_;
        }
      }
    } else if (c == '>') {
      if (!in_comment_) {
        if (in_tag_ && !in_script_ && !in_server_ && !in_quote_) {
          if (tag_depth_ == -32768) throw AutomationError(err::kOverflow);
          if (--tag_depth_ == 0) in_tag_ = false;
        }
      } else if (j >= 2 && line.substr(j - 2, 3) == "-->") {
        in_comment_ = false;
      }
    } else if (quote_ != 0 && c == quote_) {
      if (!in_comment_ && in_tag_ && !in_server_ && !in_script_) {
        in_quote_ = false;
        quote_ = 0;
      }
    } else if (c == '"' || c == '\'') {
      if (!in_comment_ && in_tag_ && !in_server_ && !in_script_ && !in_quote_) {
        in_quote_ = true;
        quote_ = c;
      }
    }
    if (c != '>') return;
    // The ends of blocks: "%>" and "</script>" or "</java>". A line end
    // separates lines, so these never span two.
    if (in_server_ && j >= 1 && line[j - 1] == '%') {
      Flush(line, j + 1);
      in_server_ = false;
      block_.append(kCRLF);
      script_.Append(block_);
      block_.clear();
    }
    if (in_script_ &&
        (EndsWithLower(line, j + 1, "</script>") || EndsWithLower(line, j + 1, "</java>"))) {
      Flush(line, j + 1);
      in_script_ = false;
      block_.append(kCRLF);
      script_.Append(block_);
      block_.clear();
      in_quote_ = in_server_ = in_tag_ = false;
    }
  }

  Output& html_;
  Output& script_;
  std::string block_;
  bool in_comment_ = false, in_server_ = false, in_script_ = false;
  bool in_tag_ = false, in_quote_ = false;
  char quote_ = 0;  // 0: none remembered
  int16_t tag_depth_ = 0;
  int prev_ = -1;  // the last character that is not a space; -1 before any
  int64_t count_ = 0;
  size_t span_ = 0;      // where the text not yet sent out begins
  size_t pair_end_ = 0;  // the end of the line end seen last
};

// Puts the completed outputs in place, all or none: when one cannot be, the
// ones before it get their previous content back. 1 then, with the
// messages of the failed replacement in errors.
int32_t FinishOutputs(std::vector<PendingOutput*> outputs, Collection& errors) {
  const bool pair = outputs.size() > 1;
  for (size_t i = 0; i < outputs.size(); ++i) {
    outputs[i]->out.reset();
    auto messages = Collection::Create();
    if (outputs[i]->file.Commit(Variant(ObjectRef(messages)), pair) == 0) continue;
    for (const std::string& m : messages->Texts()) errors.Add(Variant(m));
    for (size_t j = i; j-- > 0;) {
      Status s = outputs[j]->file.Revert();
      if (!s.ok()) {
        errors.Add(Variant("Unable to restore : " + outputs[j]->file.target() +
                           std::string(kCRLF) + s.message()));
      }
      outputs[j]->file.Release();
    }
    return 1;
  }
  for (PendingOutput* p : outputs) p->file.Release();
  return 0;
}

}  // namespace

int32_t clsASP2HTML::ASP2HTML() {
  FileSystem& fs = *env_.fs;
  errors_->Clear();
  if (asp_file_.empty()) {
    AddError(std::string(Message(MessageId::kAspNoInputFile)));
    return 1;
  }
  AddError("ASP2HTML : " + asp_file_);
  if (htm_file_.empty() || scr_file_.empty()) MakeFileNames(NameSource::kPage);
  const std::string kUnable(Message(MessageId::kUnableToOpenFile));

  std::unique_ptr<ReadableFile> page_file;
  std::string why;
  if (!OpenInput(fs, asp_file_, &page_file, &why)) {
    AddError(kUnable + asp_file_ + std::string(kCRLF) + why);
    return 1;
  }
  // Both outputs hold the page's content: they are as private as the page.
  const OutputOptions side = SideFileOf(asp_file_);
  PendingOutput html, script;
  if (!StartOutput(env_, htm_file_, side, &html, &why)) {
    AddError(kUnable + htm_file_ + std::string(kCRLF) + why);
    return 1;
  }
  if (!StartOutput(env_, scr_file_, side, &script, &why)) {
    Abandon({&html});
    AddError(kUnable + scr_file_ + std::string(kCRLF) + why);
    return 1;
  }
  try {
    const int64_t length = page_file->Size();
    TextWindow w;
    w.Reset(page_file.get(), length, chunk_);
    Protector scanner(*html.out, *script.out);
    int16_t reported = -1;
    // Bytes kept before and after the part scanned: enough for the longest
    // look back ("</script>") and ahead ("<script").
    constexpr size_t kBehind = 16, kAhead = 8;
    size_t start = 0;
    while (true) {
      Check(w.Refill());
      if (length > 0) {
        auto percent = static_cast<int16_t>(w.read_total() * 100 / length);
        if (percent > reported) {
          reported = percent;
          progress_.Raise(percent);
        }
      }
      std::string_view v = w.view();
      if (w.at_end()) {
        scanner.Scan(v, start, v.size());
        scanner.Finish();
        break;
      }
      if (v.size() < start + kAhead + 1) {
        Check(w.ReadMore(static_cast<size_t>(w.chunk())));
        continue;
      }
      const size_t limit = v.size() - kAhead;
      scanner.Scan(v, start, limit);
      const size_t drop = limit - std::min(limit, kBehind);
      scanner.Dropped(v, drop);
      w.Drop(drop);
      start = limit - drop;
    }
    html.out->Close();
    script.out->Close();
  } catch (const IoFailure& f) {
    Abandon({&html, &script});
    throw AutomationError(err::kDeviceIO, "Device I/O error: " + f.status.message());
  } catch (...) {
    Abandon({&html, &script});
    throw;
  }
  return FinishOutputs({&html, &script}, *errors_);
}

int32_t clsASP2HTML::HTML2ASP() {
  FileSystem& fs = *env_.fs;
  errors_->Clear();
  mismatches_.clear();
  if (htm_file_.empty()) {
    AddError(std::string(Message(MessageId::kHtmlNoInputFile)));
    return 1;
  }
  AddError("HTML2ASP : " + htm_file_);
  if (asp_file_.empty() || scr_file_.empty()) MakeFileNames(NameSource::kHtml);
  const std::string kUnable(Message(MessageId::kUnableToOpenFile));

  std::unique_ptr<ReadableFile> html_file;
  std::string why;
  if (!OpenInput(fs, htm_file_, &html_file, &why)) {
    AddError(kUnable + htm_file_ + std::string(kCRLF) + why);
    return 1;
  }
  PendingOutput page;
  // The page rebuilt keeps its own attributes, or takes its HTML file's.
  OutputOptions rebuilt = InPlace();
  rebuilt.model = htm_file_;
  if (!StartOutput(env_, asp_file_, rebuilt, &page, &why)) {
    AddError(kUnable + asp_file_ + std::string(kCRLF) + why);
    return 1;
  }
  std::unique_ptr<ReadableFile> script_file;
  if (!OpenInput(fs, scr_file_, &script_file, &why)) {
    Abandon({&page});
    AddError(kUnable + scr_file_ + std::string(kCRLF) + why);
    return 1;
  }
  try {
    ScriptFile script(std::move(script_file));
    LineCounter lines(fs, htm_file_);
    const int64_t length = html_file->Size();
    TextWindow w;
    w.Reset(html_file.get(), length, chunk_);
    int16_t reported = -1;
    std::string line;
    ScriptFile::Block block;
    int64_t hit_clear = 0;    // no "!" or "&" from the window start to here
    int64_t no_eol_from = 0;  // no line end from here to the window end
    int64_t eol_clear = 0;    // no line end from the hit to here
    // Lines without a placeholder, plain or escaped, go out as they are,
    // many at a time; only the lines that hold one are taken apart.
    while (true) {
      Check(w.Refill());
      if (length > 0) {
        auto percent = static_cast<int16_t>(w.read_total() * 100 / length);
        if (percent > reported) {
          reported = percent;
          progress_.Raise(percent);
        }
      }
      std::string_view v = w.view();
      // What earlier rounds searched is not searched again, so that a very
      // long line costs no more than a short one.
      const int64_t at = w.offset();
      auto rel = [&](int64_t abs) { return abs > at ? static_cast<size_t>(abs - at) : size_t{0}; };
      const size_t hit = FindPlaceholderCandidate(v, rel(hit_clear));
      if (hit == npos) {
        hit_clear = at + static_cast<int64_t>(v.size());
        if (w.at_end()) {
          page.out->Append(v);
          w.Drop(v.size());
          break;
        }
        // Everything up to the last line end; the rest may continue a line.
        size_t last = LineStartBefore(v, v.size(), rel(no_eol_from));
        if (last == 0) {
          no_eol_from = at + static_cast<int64_t>(v.size());
          Check(w.ReadMore(static_cast<size_t>(w.chunk())));
          continue;
        }
        page.out->Append(v.substr(0, last));
        w.Drop(last);
        continue;
      }
      hit_clear = at + static_cast<int64_t>(hit);
      const size_t line_start = LineStartBefore(v, hit, rel(no_eol_from));
      size_t eol = FindAnyOf(v, "\r\n", std::max(hit, rel(eol_clear)));
      if ((eol == npos || eol + 1 == v.size()) && !w.at_end()) {
        eol_clear = at + static_cast<int64_t>(eol == npos ? v.size() : eol);
        no_eol_from = at + static_cast<int64_t>(line_start);
        page.out->Append(v.substr(0, line_start));
        w.Drop(line_start);
        Check(w.ReadMore(static_cast<size_t>(w.chunk())));
        continue;
      }
      const size_t line_end = LineEndAfter(v, eol);
      page.out->Append(v.substr(0, line_start));
      const int64_t line_offset = w.offset() + static_cast<int64_t>(line_start);
      auto line_number = [&] { return lines.NumberAt(line_offset); };
      line.assign(v.substr(line_start, line_end - line_start));
      w.Drop(line_end);
      if (line.find('&') != npos) line = RepairEscapedPlaceholders(std::move(line));
      size_t pos;
      size_t from = 0;
      while ((pos = FindAnchored(line, kMarkerStart, kMarkerAnchor, from)) != npos) {
        const bool attribute =
            pos >= kAttribute.size() &&
            line.compare(pos - kAttribute.size(), kAttribute.size(), kAttribute) == 0;
        const size_t start = attribute ? pos - kAttribute.size() : pos;
        const size_t close = line.find("-->", start);
        if (close == npos) {
          AddError("Line " + std::to_string(line_number()) +
                   " : placeholder without \"-->\" left as it stands");
          mismatches_.push_back({Mismatch::Kind::kLeftAsItStands,
                                 MarkerLabel(std::string_view(line).substr(pos)), line_number(),
                                 "no \"-->\" on its line"});
          from = pos + 1;
          continue;
        }
        size_t end = close + 3;
        if (attribute) end = std::min(end + 1, line.size());
        std::string removed = line.substr(start, end - start);
        std::string_view marker = removed;
        if (attribute)
          marker = marker.substr(kAttribute.size(), marker.size() - kAttribute.size() - 1);
        line.erase(start, end - start);
        if (!script.Lookup(marker, &block)) {
          mismatches_.push_back({Mismatch::Kind::kNoBlock, MarkerLabel(marker), line_number(), {}});
          // Nothing to put back: a placeholder may now form across the join.
          from = start >= kMarkerStart.size() - 1 ? start - (kMarkerStart.size() - 1) : 0;
          continue;
        }
        std::string& text = block.text;
        if (text.size() < 2) {
          AddError("Line " + std::to_string(line_number()) + " : the block of " +
                   std::string(marker) +
                   " is shorter than its separator; placeholder left as it stands");
          mismatches_.push_back({Mismatch::Kind::kLeftAsItStands, MarkerLabel(marker),
                                 line_number(), "its block is shorter than its separator"});
          line.insert(start, removed);
          from = start + removed.size();
          continue;
        }
        if (block.repeated) {
          mismatches_.push_back({Mismatch::Kind::kRepeated, MarkerLabel(marker), line_number(), {}});
        }
        if (!block.at_end || ClosedBlock(text)) text.resize(text.size() - 2);
        line.insert(start, text);
        // The next placeholder: one formed across either join counts, one
        // inside the inserted text does not.
        const size_t inserted_end = start + text.size();
        size_t next =
            FindAnchored(line, kMarkerStart, kMarkerAnchor,
                         start >= kMarkerStart.size() - 1 ? start - (kMarkerStart.size() - 1) : 0);
        if (next != npos && next >= start && next + kMarkerStart.size() <= inserted_end) {
          next = FindAnchored(line, kMarkerStart, kMarkerAnchor,
                              std::max(start, inserted_end + 1 - kMarkerStart.size()));
        }
        if (next == npos) break;
        from = next;
      }
      page.out->Append(line);
    }
    for (std::string& marker : script.Unused()) {
      mismatches_.push_back({Mismatch::Kind::kUnusedBlock, MarkerLabel(marker), 0, {}});
    }
    page.out->Close();
  } catch (const IoFailure& f) {
    Abandon({&page});
    throw AutomationError(err::kDeviceIO, "Device I/O error: " + f.status.message());
  } catch (...) {
    Abandon({&page});
    throw;
  }
  return FinishOutputs({&page}, *errors_);
}

const ClassTypeInfo& clsASP2HTML::TypeInfo() const {
  using C = clsASP2HTML;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "clsASP2HTML",
      {
          T::Method("ASP2HTML", 1, {}, V::kInt32, &C::ASP2HTML),
          T::Method("HTML2ASP", 2, {}, V::kInt32, &C::HTML2ASP),
          T::Property("ASPFile", 3, M::kGetLet, V::kText, &C::ASPFile, &C::ASPFile),
          T::Property("HTMFile", 4, M::kGetLet, V::kText, &C::HTMFile, &C::HTMFile),
          T::Property("SCRFile", 5, M::kGetLet, V::kText, &C::SCRFile, &C::SCRFile),
          T::Get("ErrorList", 6, V::kObject, &C::ErrorList),
          T::Method("GetError", 7, {{.name = "lngErrPtr", .type = V::kInt32}}, V::kText,
                    &C::GetError),
      }};
  return info;
}

int32_t clsASP2HTML::Advise(EventSink sink) { return progress_.AdviseSink(std::move(sink)); }
void clsASP2HTML::Unadvise(int32_t cookie) { progress_.UnadviseSink(cookie); }

}  // namespace vok
