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
  const bool keyed = marker.ends_with("-->") && marker.size() <= kMaxKey;
  if (!indexed_) {
    StartReading();
    if (keyed && has_next_ && next_.key == marker) {
      ++taken_in_order_;
      block->repeated = false;
      has_next_ = NextMarkerLine(&next_, &block->text);
      block->at_end = !has_next_;
      resume_ = has_next_ ? next_.start : file_->Size();
      return true;
    }
    BuildIndex();
  }
  size_t id;
  if (keyed) {
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
  std::vector<std::string> markers;
  if (!indexed_) {
    // Everything before the next marker line was taken in order.
    StartReading();
    for (bool more = has_next_; more; more = NextMarkerLine(&next_, nullptr)) {
      markers.push_back(!next_.key.empty() ? next_.key : next_.text);
    }
    has_next_ = false;
    return markers;
  }
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

void ScriptFile::StartReading() {
  if (reading_) return;
  reading_ = true;
  Check(file_->Seek(0));
  window_.Reset(file_.get(), file_->Size(), static_cast<int32_t>(kCacheChunk));
  has_next_ = NextMarkerLine(&next_, nullptr);
}

bool ScriptFile::NextMarkerLine(MarkerLine* line, std::string* skipped) {
  if (skipped != nullptr) skipped->clear();
  auto drop = [&](size_t n) {
    if (n == 0) return;
    const std::string_view v = window_.view();
    if (skipped != nullptr) skipped->append(v.substr(0, n));
    before_ = v[n - 1];
    window_.Drop(n);
  };
  while (true) {
    Check(window_.Refill());
    const std::string_view v = window_.view();
    const size_t i = FindAnchored(v, kScriptMarker, kScriptMarkerAnchor);
    if (i == npos) {
      if (window_.at_end()) {
        drop(v.size());
        return false;
      }
      const size_t keep = std::min(v.size(), kScriptMarker.size() - 1);
      drop(v.size() - keep);
      if (v.size() == keep) Check(window_.ReadMore(static_cast<size_t>(window_.chunk())));
      continue;
    }
    const char prev = i > 0 ? v[i - 1] : before_;
    if (prev != '\r' && prev != '\n') {
      drop(i + 1);
      continue;
    }
    // The whole line, with the byte after its end (a CR LF or LF CR pair).
    const size_t eol = FindAnyOf(v, "\r\n", i);
    if ((eol == npos || eol + 1 >= v.size()) && !window_.at_end()) {
      drop(i);
      Check(window_.ReadMore(static_cast<size_t>(window_.chunk())));
      continue;
    }
    drop(i);
    const std::string_view rest = window_.view();
    const size_t line_end = LineEndAfter(rest, eol == npos ? npos : eol - i);
    const std::string_view text = rest.substr(0, (eol == npos ? v.size() : eol) - i);
    const size_t close = text.find("-->", kScriptMarker.size());
    line->start = window_.offset();
    line->end = line->start + static_cast<int64_t>(line_end);
    line->key.assign(close != npos && close + 3 <= kMaxKey ? text.substr(0, close + 3) : "");
    line->text.assign(line->key.empty() ? text.substr(0, kMaxKey) : std::string_view());
    before_ = rest[line_end - 1];
    window_.Drop(line_end);
    return true;
  }
}

void ScriptFile::BuildIndex() {
  indexed_ = true;
  Check(file_->Seek(0));
  window_.Reset(file_.get(), file_->Size(), static_cast<int32_t>(kCacheChunk));
  before_ = '\n';  // the start of the file is a line start
  MarkerLine line;
  while (NextMarkerLine(&line, nullptr)) {
    const size_t id = index_.AddEntry(line.start, line.end);
    if (!line.key.empty()) index_.AddKey(line.key);
    // The lines taken in order before the index was needed.
    if (id < taken_in_order_) index_.Take(id);
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
