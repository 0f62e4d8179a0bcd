#include "html/page_restorer.h"

#include <algorithm>
#include <cstring>

#include "common/io_failure.h"
#include "html/page_scanner.h"
#include "voktools/ascii.h"

namespace vok {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kAttribute = "ASP2HTML=\"";
constexpr std::string_view kEscaped = "&lt;!-- asp2html";
constexpr size_t npos = std::string_view::npos;
// How far before a block that was put back a placeholder formed across the
// join may start.
constexpr size_t kJoin = kScriptMarker.size() - 1;
// Page text moved into the line at most at a time, and up to past the next
// placeholder, enough for its number, its "-->" and the quote after it ...
constexpr size_t kPiece = 1 << 16;
constexpr size_t kPastPlaceholder = 32;
// ... but not less than this, so that a dense line is not taken apart a
// placeholder at a time (each block put back moves the rest of the piece).
constexpr size_t kSmallPiece = 512;

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

}  // namespace

std::string MarkerLabel(std::string_view marker) {
  if (marker.starts_with(kScriptMarker)) marker.remove_prefix(kScriptMarker.size());
  while (!marker.empty() && marker.front() == ' ') marker.remove_prefix(1);
  const size_t close = marker.find("-->");
  marker =
      close != npos ? marker.substr(0, close) : marker.substr(0, marker.find_first_of(" \r\n"));
  while (!marker.empty() && marker.back() == ' ') marker.remove_suffix(1);
  return std::string(marker.substr(0, 64));
}

void Restorer::Run() {
  // Lines without a placeholder, plain or escaped, go out as they are, many
  // at a time; the window starts at a line's start between rounds.
  int64_t clear_to = 0;  // no placeholder from the window's start to here
  while (true) {
    Check(w_.Refill());
    listener_.progress();
    const std::string_view v = w_.view();
    const int64_t at = w_.offset();
    const size_t hit =
        FindPlaceholderCandidate(v, clear_to > at ? static_cast<size_t>(clear_to - at) : 0);
    if (hit == npos && w_.at_end()) {
      out_.Append(v);
      w_.Drop(v.size());
      return;
    }
    const size_t line_start = LineStartBefore(v, hit == npos ? v.size() : hit);
    clear_to = at + static_cast<int64_t>(hit == npos ? v.size() : hit);
    out_.Append(v.substr(0, line_start));
    w_.Drop(line_start);
    // A placeholder, or a line longer than the window: its line in pieces.
    if (hit != npos || line_start == 0) RestoreLine();
  }
}

void Restorer::RestoreLine() {
  line_.clear();
  done_ = avail_ = from_ = close_from_ = 0;
  close_for_ = npos;
  searched_ = false;
  more_ = true;
  line_offset_ = w_.offset();
  while (true) {
    std::string_view text(line_.data(), avail_);
    const size_t pos =
        searched_ ? npos : FindAnchored(text, kScriptMarker, kScriptMarkerAnchor, from_);
    searched_ = false;
    if (pos == npos) {
      if (!more_) break;
      // No placeholder starts before the last bytes.
      from_ = std::max(from_, avail_ > kJoin ? avail_ - kJoin : 0);
      Emit();
      Pull();
      continue;
    }
    from_ = pos;
    const bool attribute = pos >= kAttribute.size() &&
                           text.compare(pos - kAttribute.size(), kAttribute.size(), kAttribute) == 0;
    const size_t start = attribute ? pos - kAttribute.size() : pos;
    // Neither form of the placeholder's start holds a "-->".
    const size_t close =
        text.find("-->", close_for_ == pos ? close_from_ : pos + kScriptMarker.size());
    // The quote after the "-->" of a placeholder in an attribute goes too.
    if (more_ && (close == npos || (attribute && close + 3 == avail_))) {
      close_for_ = pos;  // until something changes before it
      close_from_ = close == npos ? std::max(pos + kScriptMarker.size(), avail_ - std::min<size_t>(avail_, 2))
                                  : close;
      Emit();
      Pull();
      continue;
    }
    if (close == npos) {
      close_for_ = npos;
      listener_.error("Line " + std::to_string(LineNumber()) +
                      " : placeholder without \"-->\" left as it stands");
      listener_.mismatch({Mismatch::Kind::kLeftAsItStands, MarkerLabel(text.substr(pos)),
                          LineNumber(), "no \"-->\" on its line"});
      from_ = pos + 1;
      continue;
    }
    close_for_ = npos;
    size_t end = close + 3;
    if (attribute) end = std::min(end + 1, avail_);
    std::string_view marker = text.substr(start, end - start);
    if (attribute) marker = marker.substr(kAttribute.size(), marker.size() - kAttribute.size() - 1);
    if (!script_.Lookup(marker, &block_)) {
      listener_.mismatch({Mismatch::Kind::kNoBlock, MarkerLabel(marker), LineNumber(), {}});
      line_.erase(start, end - start);
      avail_ -= end - start;
      // Nothing to put back: a placeholder may now form across the join.
      from_ = start >= kJoin ? start - kJoin : 0;
      continue;
    }
    std::string& block = block_.text;
    if (block.size() < 2) {
      listener_.error("Line " + std::to_string(LineNumber()) + " : the block of " +
                      std::string(marker) +
                      " is shorter than its separator; placeholder left as it stands");
      listener_.mismatch({Mismatch::Kind::kLeftAsItStands, MarkerLabel(marker), LineNumber(),
                          "its block is shorter than its separator"});
      from_ = end;
      continue;
    }
    if (block_.repeated) {
      listener_.mismatch({Mismatch::Kind::kRepeated, MarkerLabel(marker), LineNumber(), {}});
    }
    if (!block_.at_end || ClosedBlock(block)) block.resize(block.size() - 2);
    line_.replace(start, end - start, block);
    avail_ = avail_ - (end - start) + block.size();
    text = std::string_view(line_.data(), avail_);
    // The next placeholder: one formed across either join counts, one
    // inside the block does not.
    const size_t inserted_end = start + block.size();
    size_t search = start >= kJoin ? start - kJoin : 0;
    size_t next = FindAnchored(text, kScriptMarker, kScriptMarkerAnchor, search);
    if (next != npos && next >= start && next + kScriptMarker.size() <= inserted_end) {
      search = std::max(start, inserted_end - kJoin);
      next = FindAnchored(text, kScriptMarker, kScriptMarkerAnchor, search);
    }
    from_ = next != npos ? next : search;
    searched_ = next == npos;  // to the end of the text there is
  }
  out_.Append(std::string_view(line_).substr(done_));
  line_.clear();
}

void Restorer::Pull() {
  while (true) {
    Check(w_.Refill());
    listener_.progress();
    const std::string_view v = w_.view();
    if (v.empty()) {
      more_ = false;
      break;
    }
    size_t take = std::min(v.size(), kPiece);
    const size_t hit = FindPlaceholderCandidate(v.substr(0, take), 0);
    if (hit != npos) take = std::min(take, std::max(hit + kPastPlaceholder, kSmallPiece));
    const size_t eol = FindAnyOf(v.substr(0, take), "\r\n");
    if (eol != npos) {
      // A line end's second byte may be in the part not yet read.
      if (eol + 1 == v.size() && !w_.at_end()) {
        Check(w_.ReadMore(static_cast<size_t>(w_.chunk())));
        continue;
      }
      take = LineEndAfter(v, eol);
      more_ = false;
    }
    line_.append(v.substr(0, take));
    w_.Drop(take);
    if (w_.empty() && w_.at_end()) more_ = false;
    break;
  }
  RepairEscapes();
}

void Restorer::RepairEscapes() {
  size_t p = avail_;
  while ((p = line_.find('&', p)) != npos) {
    const size_t n = line_.size();
    if (more_ && n - p < kEscaped.size()) break;
    if (!StartsWithLower(line_, p, kEscaped)) {
      ++p;
      continue;
    }
    // Its "--&gt;" turns into "-->" when it follows the second space after
    // "asp2html", one word standing between.
    size_t i = p + kEscaped.size();
    int spaces = 0;
    while (i < n && spaces < 2) spaces += line_[i++] == ' ';
    if (more_ && (spaces < 2 || i + 6 > n)) break;
    if (spaces == 2 && StartsWithLower(line_, i, "--&gt;")) line_.replace(i, 6, "-->");
    line_.replace(p, kEscaped.size(), kScriptMarker);
    ++p;
  }
  avail_ = p == npos ? line_.size() : p;
}

void Restorer::Emit() {
  // A later step starts no placeholder before from_ - kAttribute.size(), and
  // looks back from there through '<' that a placeholder may start at: one
  // before "!", or before a placeholder's first byte ('<', or 'A' of the
  // attribute form) that a block may yet take the place of. Text before 24
  // bytes without such a '<' is out of reach (each step back is at most
  // kJoin + kAttribute.size() bytes).
  constexpr size_t kReach = kJoin + kAttribute.size() + 2;  // 24
  const size_t floor = done_ + kReach;
  if (from_ < floor + kAttribute.size() + kReach) return;
  size_t p = from_ - kAttribute.size() - kReach;
  for (size_t q = p + kReach; q-- > p;) {
    const char next = line_[q + 1];
    if (line_[q] == '<' && (next == '!' || next == '<' || next == 'A')) {
      if (q < floor) return;
      p = q - kReach;  // the bytes from the new p to this '<' are looked at next
    }
  }
  out_.Append(std::string_view(line_).substr(done_, p - done_));
  done_ = p;
  if (done_ < kPiece || 2 * done_ < line_.size()) return;
  line_.erase(0, done_);
  avail_ -= done_;
  from_ -= done_;
  if (close_for_ != npos) {
    close_for_ -= done_;
    close_from_ -= done_;
  }
  done_ = 0;
}

}  // namespace vok
