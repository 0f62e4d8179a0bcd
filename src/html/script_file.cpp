#include "html/script_file.h"

#include <algorithm>
#include <cerrno>

#include "common/io_failure.h"
#include "common/text_window.h"

namespace vok {

namespace {

constexpr size_t npos = std::string_view::npos;
// Marker lines are looked up by their text through the first "-->".
constexpr size_t kMaxKey = 256;
constexpr int64_t kCacheChunk = 1 << 20;

}  // namespace

bool ScriptFile::Lookup(std::string_view marker, Block* block) {
  if (!indexed_) BuildIndex();
  size_t id;
  if (marker.ends_with("-->") && marker.size() <= kMaxKey) {
    id = index_.Find(marker, resume_);
  } else {
    // A marker that is not a whole "<!-- ASP2HTML n -->": each line start
    // is compared in turn.
    std::string text;
    id = index_.FindIf(resume_, [&](const MarkerIndex::Entry& e) {
      const int64_t end = e.start + static_cast<int64_t>(marker.size());
      if (end > file_->Size()) return false;
      ReadRange(e.start, end, &text);
      return text == marker;
    });
  }
  if (id == MarkerIndex::npos) return false;
  block->repeated = index_.Take(id);
  const int64_t from = index_.entry(id).end;
  const bool last = id + 1 == index_.size();
  const int64_t to = last ? file_->Size() : index_.entry(id + 1).start;
  ReadRange(from, to, &block->text);
  block->at_end = last;
  resume_ = to;
  return true;
}

std::vector<std::string> ScriptFile::Unused() {
  if (!indexed_) BuildIndex();
  std::vector<std::string> markers;
  std::string text;
  for (size_t id = 0; id < index_.size(); ++id) {
    if (index_.taken(id)) continue;
    if (std::string_view key = index_.label(id); !key.empty()) {
      markers.emplace_back(key);
      continue;
    }
    const MarkerIndex::Entry& e = index_.entry(id);
    ReadRange(e.start, std::min(e.end, e.start + static_cast<int64_t>(kMaxKey)), &text);
    markers.push_back(text.substr(0, text.find_first_of("\r\n")));
  }
  return markers;
}

void ScriptFile::BuildIndex() {
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
    size_t i = FindAnchored(v, kScriptMarker, kScriptMarkerAnchor);
    if (i == npos) {
      if (w.at_end()) break;
      size_t keep = std::min(v.size(), kScriptMarker.size() - 1);
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
    index_.AddEntry(w.offset() + static_cast<int64_t>(i),
                    w.offset() + static_cast<int64_t>(line_end));
    std::string_view line = v.substr(i, (eol == npos ? v.size() : eol) - i);
    size_t close = line.find("-->");
    if (close != npos && close + 3 <= kMaxKey) index_.AddKey(line.substr(0, close + 3));
    drop(line_end);
  }
}

void ScriptFile::ReadRange(int64_t from, int64_t to, std::string* out) {
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
      Check(file_->Seek(from));
      Check(ReadFully(*file_, n, out->data() + old));
      return;
    }
    cache_at_ = from - from % kCacheChunk;
    cache_.resize(static_cast<size_t>(std::min(kCacheChunk, file_->Size() - cache_at_)));
    Check(file_->Seek(cache_at_));
    Status s = ReadFully(*file_, cache_.size(), cache_.data());
    if (!s.ok()) cache_.clear();
    Check(s);
  }
}

}  // namespace vok
