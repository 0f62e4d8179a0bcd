#include "voktools/rtf_util.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cerrno>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "frame/builtin_classes.h"
#include "common/io_failure.h"
#include "common/marker_index.h"
#include "common/progress.h"
#include "common/replacement_file.h"
#include "common/text_window.h"
#include "frame/with_env.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/automation_error.h"
#include "voktools/collection.h"
#include "voktools/common.h"
#include "voktools/events.h"

namespace vok {

namespace {

constexpr std::string_view kObjectMarker = "{\\object";
constexpr std::string_view kPictMarker = "{\\pict";
constexpr std::string_view kPlaceholderStart = "{\\v\\vok OBJ ";
// Searches for the markers look for their "J" first: control words are
// lowercase, so it is rare in RTF, unlike "{".
constexpr size_t kPlaceholderAnchor = 10;
// An object ends at the first CR LF that the next header line follows.
constexpr std::string_view kObjectEnd = "\r\n{\\v\\vok OBJ ";
constexpr std::string_view kCRLF = "\r\n";
// Text kept back when no marker was found: every marker is shorter.
constexpr size_t kTail = 32;
// Header lines up to this length (with their CR LF) are looked up by hash.
constexpr size_t kMaxIndexedKey = 64;
constexpr int32_t kSmallestTestChunk = 72;

constexpr size_t npos = std::string_view::npos;

std::string Placeholder(int64_t n) {
  return std::string(kPlaceholderStart) + std::to_string(n) + " }";
}

// Where the first "{\object" or "{\pict" group starts in text, or npos.
// Sixteen positions at a time are tested for "{\o" and "{\p" at once, so
// that the many other groups of RTF text cost no call each.
size_t FindGroupStart(std::string_view text) {
  const char* s = text.data();
  const size_t n = text.size();
  auto is_marker = [&](size_t i) {
    std::string_view rest = text.substr(i);
    return rest.starts_with(kObjectMarker) || rest.starts_with(kPictMarker);
  };
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i brace = _mm_set1_epi8('{');
  const __m128i slash = _mm_set1_epi8('\\');
  const __m128i o = _mm_set1_epi8('o');
  const __m128i p = _mm_set1_epi8('p');
  for (; i + 18 <= n; i += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 2));
    __m128i hit = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(a, brace), _mm_cmpeq_epi8(b, slash)),
                                _mm_or_si128(_mm_cmpeq_epi8(c, o), _mm_cmpeq_epi8(c, p)));
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0;
         mask &= mask - 1) {
      size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
      if (is_marker(at)) return at;
    }
  }
#endif
  while ((i = text.find('{', i)) != npos) {
    if (is_marker(i)) return i;
    ++i;
  }
  return npos;
}

// The length of a header line ("{\v\vok OBJ " digits " }" CR LF) that ends
// text, or 0.
size_t TrailingHeaderLength(std::string_view text) {
  constexpr std::string_view kClose = " }\r\n";
  if (!text.ends_with(kClose)) return 0;
  size_t digits_end = text.size() - kClose.size();
  size_t i = digits_end;
  while (i > 0 && text[i - 1] >= '0' && text[i - 1] <= '9') --i;
  if (i == digits_end || i < kPlaceholderStart.size()) return 0;
  const size_t start = i - kPlaceholderStart.size();
  if (text.substr(start, kPlaceholderStart.size()) != kPlaceholderStart) return 0;
  // Longer lines are not kept back in the window, and no run writes them.
  if (text.size() - start > kTail) return 0;
  return text.size() - start;
}

// What stands between "{\v\vok OBJ " and the "}" of a placeholder or header
// line, without the spaces around it: its number, as a rule.
std::string PlaceholderLabel(std::string_view key) {
  if (key.starts_with(kPlaceholderStart)) key.remove_prefix(kPlaceholderStart.size());
  key = key.substr(0, key.find('}'));
  while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
  while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
  return std::string(key);
}

// The object file as insertion reads it: one stream that advances from header
// to header, and, once a lookup does not find its header where the stream
// stands, an index of every header position built in one pass over a second
// handle. Lookups then jump straight to the first match at or after the
// current point, wrapping around to the start of the file once.
class ObjectSource {
 public:
  ObjectSource(FileSystem& fs, std::string path, std::unique_ptr<ReadableFile> file, int32_t chunk)
      : fs_(fs), path_(std::move(path)), file_(std::move(file)) {
    window_.Reset(file_.get(), file_->Size(), chunk);
  }

  int64_t size() const { return file_->Size(); }
  int64_t read_total() const { return read_before_seek_ + window_.read_total(); }

  // Copies the object whose header line is key to out; the offset of that
  // header line, or -1 when the key is nowhere in the file (nothing is
  // written then).
  int64_t CopyObject(std::string_view key, WritableFile& out) {
    int64_t at = window_.offset();
    if (AtKey(key)) {
      window_.Drop(key.size());
    } else {
      at = Lookup(key);
      if (at < 0) return -1;
      Seek(at + static_cast<int64_t>(key.size()));
    }
    CopyToEnd(out);
    return at;
  }

  // The header lines, other than the end line, that are not among the
  // offsets in used, in file order. Without an index every copy so far
  // followed the one before from the start of the file, so the stream
  // standing on the end line means that every object was taken.
  std::vector<std::string> Unused(const std::unordered_map<int64_t, int>& used) {
    if (!indexed_) {
      while (window_.size() <= kTail && !window_.at_end()) Check(window_.ReadMore(kMaxIndexedKey));
      if (window_.at_end() && !window_.empty() &&
          TrailingHeaderLength(window_.view()) == window_.size()) {
        return {};
      }
      BuildIndex();
    }
    std::vector<std::string> labels;
    for (size_t id = 0; id < headers_.size(); ++id) {
      const std::string_view key = headers_.label(id);
      const int64_t at = headers_.entry(id).start;
      if (!key.empty() && !used.contains(at) && at + static_cast<int64_t>(key.size()) != size()) {
        labels.push_back(PlaceholderLabel(key));
      }
    }
    return labels;
  }

 private:
  // Whether the stream stands on key (the lookup of headers in the order they
  // were written).
  bool AtKey(std::string_view key) {
    if (key.size() > kMaxIndexedKey) return false;
    while (window_.size() < key.size() && !window_.at_end())
      Check(window_.ReadMore(kMaxIndexedKey));
    return window_.view().starts_with(key);
  }

  void Seek(int64_t offset) {
    read_before_seek_ += window_.read_total();
    Check(file_->Seek(offset));
    window_.Reset(file_.get(), file_->Size() - offset, window_.chunk());
  }

  // Copies up to the first CR LF that a header line follows and leaves the
  // stream on that header line. An object still open when the file ends
  // stops before the file's last header line.
  void CopyToEnd(WritableFile& out) {
    while (true) {
      Check(window_.Refill());
      std::string_view v = window_.view();
      size_t q = FindAnchored(v, kObjectEnd, kPlaceholderAnchor + 2);
      if (q != npos) {
        Check(out.Append(v.substr(0, q)));
        window_.Drop(q + kCRLF.size());
        return;
      }
      if (window_.at_end()) {
        size_t keep = TrailingHeaderLength(v);
        Check(out.Append(v.substr(0, v.size() - keep)));
        window_.Drop(v.size() - keep);
        return;
      }
      if (v.size() > kTail) {
        Check(out.Append(v.substr(0, v.size() - kTail)));
        window_.Drop(v.size() - kTail);
      } else {
        Check(window_.ReadMore(static_cast<size_t>(window_.chunk())));
      }
    }
  }

  // The offset of the first occurrence of key at or after the current point,
  // else the first one before it; -1 when there is none.
  int64_t Lookup(std::string_view key) {
    if (!indexed_) BuildIndex();
    const int64_t here = window_.offset();
    size_t id;
    if (key.size() <= kMaxIndexedKey) {
      id = headers_.Find(key, here);
    } else if (!key.starts_with(kPlaceholderStart)) {
      return -1;
    } else {
      // A long key (an edited placeholder) is compared at every header start.
      std::string probe(key.size(), '\0');
      id = headers_.FindIf(here, [&](const MarkerIndex::Entry& e) {
        if (e.start + static_cast<int64_t>(key.size()) > size()) return false;
        Check(index_file_->Seek(e.start));
        size_t got = 0;
        Check(index_file_->Read(probe.size(), probe.data(), &got));
        return got == probe.size() && probe == key;
      });
    }
    return id == MarkerIndex::npos ? -1 : headers_.entry(id).start;
  }

  // One pass over the whole file through a second handle: the offset of every
  // "{\v\vok OBJ ", and for those followed by "}" CR LF within
  // kMaxIndexedKey bytes, the header text itself.
  void BuildIndex() {
    indexed_ = true;
    Check(fs_.OpenForRead(path_, &index_file_));
    TextWindow w;
    w.Reset(index_file_.get(), index_file_->Size(), window_.chunk());
    while (true) {
      Check(w.Refill());
      std::string_view v = w.view();
      size_t i = FindAnchored(v, kPlaceholderStart, kPlaceholderAnchor);
      if (i == npos) {
        if (w.at_end()) break;
        size_t drop = v.size() > kTail ? v.size() - kTail : 0;
        w.Drop(drop);
        if (drop == 0) Check(w.ReadMore(static_cast<size_t>(w.chunk())));
        continue;
      }
      if (v.size() - i < kMaxIndexedKey && !w.at_end()) {
        w.Drop(i);
        Check(w.ReadMore(static_cast<size_t>(w.chunk())));
        continue;
      }
      const int64_t at = w.offset() + static_cast<int64_t>(i);
      headers_.AddEntry(at, at);
      std::string_view ahead = v.substr(i, kMaxIndexedKey);
      size_t close = ahead.find('}');
      if (close != npos && ahead.substr(close + 1).starts_with(kCRLF)) {
        headers_.AddKey(ahead.substr(0, close + 1 + kCRLF.size()));
      }
      w.Drop(i + 1);
    }
  }

  FileSystem& fs_;
  std::string path_;
  std::unique_ptr<ReadableFile> file_;
  TextWindow window_;
  int64_t read_before_seek_ = 0;

  bool indexed_ = false;
  std::unique_ptr<ReadableFile> index_file_;
  // Every "{\v\vok OBJ ", known by its header line when it begins one that
  // is at most kMaxIndexedKey bytes long.
  MarkerIndex headers_;
};

// Raises event with the percentage done of total when it grew. Without
// handlers nothing is raised, so the message loop gets no extra turns.
void Report(ProgressEvent<int16_t>& event, ProgressMeter& meter, int64_t done, int64_t total) {
  if (int16_t percent; event.HasListeners() && meter.Grew(done, total, &percent)) {
    event.Raise(percent);
  }
}

// Of two 1-based positions (0: not found), the smaller one that was found.
int64_t EarliestPosition(int64_t a, int64_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  return std::min(a, b);
}

}  // namespace

clsRTFUtil::clsRTFUtil() : clsRTFUtil(CurrentEnv()) {}
clsRTFUtil::clsRTFUtil(Env& env) : env_(env) {}
clsRTFUtil::~clsRTFUtil() = default;

int16_t clsRTFUtil::Commit(ReplacementFile& out) {
  auto messages = Collection::Create();
  const int16_t failed = out.Commit(Variant(ObjectRef(messages)));
  if (failed != 0 && messages->Count() > 0) last_move_message_ = messages->Texts().back();
  return failed;
}

clsCommon& clsRTFUtil::Common() {
  if (!common_) common_ = std::make_unique<WithEnv<clsCommon>>(env_);
  return *common_;
}

std::string clsRTFUtil::DefaultObjFile() {
  clsCommon& c = Common();
  return c.strParseFileName(rtf_file_, 0) + c.strParseFileName(rtf_file_, 1) + ".obj";
}

clsRTFUtil::PlaceholderScan clsRTFUtil::ScanForPlaceholders(int32_t chunk) {
  std::unique_ptr<ReadableFile> file;
  if (!env_.fs->OpenForRead(rtf_file_, &file).ok()) return PlaceholderScan::kUnreadable;
  TextWindow w;
  w.Reset(file.get(), file->Size(), std::max(chunk, 1));
  while (true) {
    if (!w.ReadMore(static_cast<size_t>(w.chunk())).ok()) return PlaceholderScan::kUnreadable;
    if (FindAnchored(w.view(), kPlaceholderStart, kPlaceholderAnchor) != npos) {
      return PlaceholderScan::kFound;
    }
    if (w.at_end()) return PlaceholderScan::kNone;
    // Keep what could begin a placeholder that the next read completes.
    w.Drop(w.size() - std::min(w.size(), kPlaceholderStart.size() - 1));
  }
}

void clsRTFUtil::ForceChunkSizeForTesting(int32_t chunk) {
  forced_chunk_ = chunk == 0 ? 0 : std::max(chunk, kSmallestTestChunk);
}

int32_t clsRTFUtil::ChunkFor(int64_t larger_length) const {
  if (forced_chunk_ > 0) return forced_chunk_;
  // One eighth, rounded half to even.
  int64_t q = larger_length / 8;
  int64_t r = larger_length % 8;
  if (r > 4 || (r == 4 && (q & 1) != 0)) ++q;
  return static_cast<int32_t>(std::clamp<int64_t>(q, kMinChunk, kMaxChunk));
}

int32_t clsRTFUtil::Begin() {
  last_move_result_ = 0;
  last_move_message_.clear();
  last_failure_message_.clear();
  if (rtf_file_.empty()) return kNoFileName;
  if (!Common().FileExists(rtf_file_)) return kNoSuchFile;
  if (obj_file_.empty()) obj_file_ = DefaultObjFile();
  return kOK;
}

int32_t clsRTFUtil::ExtractObjects() {
  FileSystem& fs = *env_.fs;
  if (const int32_t refused = Begin(); refused != kOK) return refused;
  // An object file that is the RTF file would replace the document.
  if (obj_file_ == rtf_file_ || SameFile(fs, obj_file_, rtf_file_)) return kCannotOpenObj;

  // The old object file is replaced only by a complete new one, and the
  // RTF file only once that is on disk.
  std::unique_ptr<ReadableFile> rtf;
  if (!fs.OpenForRead(rtf_file_, &rtf).ok()) return kCannotOpenRTF;
  ReplacementFile obj_out, rtf_out;
  if (!obj_out.Start(env_, obj_file_, SideFileOf(rtf_file_)).ok()) {
    return kCannotOpenObj;
  }
  if (!rtf_out.Start(env_, rtf_file_, InPlace()).ok()) return kCannotOpenTemp;

  const int64_t length = rtf->Size();
  TextWindow w;
  w.Reset(rtf.get(), length, ChunkFor(length));
  ByteFinder open('{'), close('}');
  ProgressMeter progress;
  int64_t counter = 0;
  int64_t depth = 0;
  bool inside = false;
  WritableFile& temp = rtf_out.file();
  WritableFile& obj = obj_out.file();
  try {
    while (!(w.empty() && w.at_end())) {
      PumpHostMessages();
      Check(w.Refill());
      Report(progress_, progress, w.read_total(), length);
      std::string_view v = w.view();
      if (inside) {
        size_t o = open.Find(w);
        size_t c = close.Find(w);
        int64_t first = EarliestPosition(o == npos ? 0 : static_cast<int64_t>(o) + 1,
                                         c == npos ? 0 : static_cast<int64_t>(c) + 1);
        if (first == 0) {
          Check(obj.Append(v));
          w.Drop(v.size());
          continue;
        }
        const size_t n = static_cast<size_t>(first);
        Check(obj.Append(v.substr(0, n)));
        depth += n == o + 1 ? 1 : -1;
        if (depth == 0) {
          Check(obj.Append(kCRLF));
          inside = false;
        }
        w.Drop(n);
        continue;
      }
      size_t p = FindGroupStart(v);
      if (p != npos) {
        ++counter;
        std::string placeholder = Placeholder(counter);
        Check(obj.Append(placeholder));
        Check(obj.Append(kCRLF));
        Check(temp.Append(v.substr(0, p)));
        Check(temp.Append(placeholder));
        w.Drop(p);
        inside = true;
        depth = 0;
      } else if (v.size() > kTail && !w.at_end()) {
        Check(temp.Append(v.substr(0, v.size() - kTail)));
        w.Drop(v.size() - kTail);
      } else {
        // At the end of the file no marker can complete: all of it goes.
        Check(temp.Append(v));
        w.Drop(v.size());
      }
    }
    Check(obj.Append(Placeholder(counter + 1)));
    Check(obj.Append(kCRLF));
    Check(obj_out.Close());
    Check(rtf_out.Close());
  } catch (const IoFailure& f) {
    last_failure_message_ = f.status.message();
    // The RTF file and the old object file are as they were.
    return kReadWriteFailed;
  }
  rtf.reset();
  if (Commit(obj_out) != 0) return kCannotOpenObj;
  last_move_result_ = Commit(rtf_out);
  return kOK;
}

int32_t clsRTFUtil::InsertObjects() {
  FileSystem& fs = *env_.fs;
  if (const int32_t refused = Begin(); refused != kOK) return refused;

  std::unique_ptr<ReadableFile> rtf;
  if (!fs.OpenForRead(rtf_file_, &rtf).ok()) return kCannotOpenRTF;
  std::unique_ptr<ReadableFile> obj;
  if (!fs.OpenForRead(obj_file_, &obj).ok()) return kCannotOpenObj;
  ReplacementFile rtf_out;
  if (!rtf_out.Start(env_, rtf_file_, InPlace()).ok()) return kCannotOpenTemp;

  const int64_t length = rtf->Size();
  const int32_t chunk = ChunkFor(std::max(length, obj->Size()));
  ObjectSource objects(fs, obj_file_, std::move(obj), chunk);
  const int64_t total = length + objects.size();
  TextWindow w;
  w.Reset(rtf.get(), length, chunk);
  WritableFile& temp = rtf_out.file();
  int32_t result = kOK;
  mismatches_ = {};
  Mismatches found;
  std::unordered_map<int64_t, int> used;  // header offset: copies taken
  ProgressMeter progress;
  auto report = [&] { Report(progress_, progress, w.read_total() + objects.read_total(), total); };
  try {
    while (!(w.empty() && w.at_end())) {
      Check(w.Refill());
      report();
      std::string_view v = w.view();
      size_t p = FindAnchored(v, kPlaceholderStart, kPlaceholderAnchor);
      if (p == npos) {
        size_t n = v.size() > kTail && !w.at_end() ? v.size() - kTail : v.size();
        Check(temp.Append(v.substr(0, n)));
        w.Drop(n);
        continue;
      }
      Check(temp.Append(v.substr(0, p)));
      w.Drop(p);
      // The placeholder runs to the first "}", read as far as needed.
      size_t searched = 0;
      size_t end;
      while ((end = w.view().find('}', searched)) == npos && !w.at_end()) {
        searched = w.size();
        Check(w.ReadMore(static_cast<size_t>(chunk)));
      }
      if (end == npos) {
        // Cut off by the end of the file: kept as it stands.
        Check(temp.Append(w.view()));
        w.Drop(w.size());
        continue;
      }
      std::string key(w.view().substr(0, end + 1));
      key.append(kCRLF);
      w.Drop(end + 1);
      const int64_t at = objects.CopyObject(key, temp);
      if (at < 0) {
        result = kObjectMissing;
        found.missing.push_back(PlaceholderLabel(key));
      } else if (at + static_cast<int64_t>(key.size()) == objects.size()) {
        // The end line: no object follows it, and nothing was put back.
        found.missing.push_back(PlaceholderLabel(key));
      } else if (++used[at] == 2) {
        found.repeated.push_back(PlaceholderLabel(key));
      }
      report();
    }
    found.unused = objects.Unused(used);
    Check(rtf_out.Close());
  } catch (const IoFailure& f) {
    last_failure_message_ = f.status.message();
    return kReadWriteFailed;
  }
  rtf.reset();
  mismatches_ = std::move(found);
  last_move_result_ = Commit(rtf_out);
  return result;
}

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsRTFUtil>() {
  using C = clsRTFUtil;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "clsRTFUtil",
      {
          T::Property("RTFFile", 1, M::kLetGet, V::kText, &C::RTFFile, &C::RTFFile),
          T::Property("ObjFile", 2, M::kLetGet, V::kText, &C::ObjFile, &C::ObjFile),
          T::Method("ExtractObjects", 3, {}, V::kInt32, &C::ExtractObjects),
          T::Method("InsertObjects", 4, {}, V::kInt32, &C::InsertObjects),
      }};
  return info;
}

const ClassTypeInfo& clsRTFUtil::TypeInfo() const { return detail::TypeInfoOf<clsRTFUtil>(); }

}  // namespace vok
