#include "voktools/html_validate.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "frame/builtin_classes.h"
#include "common/progress.h"
#include "common/replacement_file.h"
#include "common/split_format.h"
#include "common/text_window.h"
#include "frame/forms.h"
#include "frame/with_env.h"
#include "html/html_options.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/windowing.h"
#include "voktools/ascii.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"
#include "voktools/messages.h"

namespace vok {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kSentinel = "@@@@";
constexpr size_t npos = std::string_view::npos;

// For each byte: itself upper-cased when it is a letter or digit (a byte of
// a tag's name), else 0.
constexpr std::array<char, 256> kNameUpper = [] {
  std::array<char, 256> upper{};
  for (int c = 0; c < 256; ++c) {
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) upper[c] = static_cast<char>(c);
    if (c >= 'a' && c <= 'z') upper[c] = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}();

// A tag's name as the rules know it (text runs from its "<" to its ">"):
// "/" for an end tag, then the letters and digits, upper-cased. Returns its
// size; as much of it as fits goes into buffer.
size_t TagName(std::string_view text, char (&buffer)[16]) {
  size_t stop = text.size() > 1 && text[0] == '<' && text[1] == '/' ? 2 : 1;
  size_t size = stop - 1;
  if (size > 0) buffer[0] = '/';
  for (; stop < text.size(); ++stop, ++size) {
    const char upper = kNameUpper[static_cast<uint8_t>(text[stop])];
    if (upper == '\0') break;
    if (size < sizeof buffer) buffer[size] = upper;
  }
  return size;
}

// The first "<" or ">" in text at or after from, or text.size(). Text
// between tags is mostly short: its first bytes are tried one at a time.
size_t FindBracket(std::string_view text, size_t from) {
  for (const size_t near = std::min(text.size(), from + 8); from < near; ++from) {
    if (text[from] == '<' || text[from] == '>') return from;
  }
  return from == text.size() ? from : std::min(FindAnyOf(text, "<>", from), text.size());
}

// The bytes a tag's scan stops at: its end, a "<" that may cut it short and
// the quotes of its values.
constexpr std::array<bool, 256> kTagStop = [] {
  std::array<bool, 256> stop{};
  for (const char c : {'<', '>', '"', '\''}) stop[static_cast<uint8_t>(c)] = true;
  return stop;
}();

// s without leading and trailing CR, LF and spaces (tabs stay).
std::string_view TrimWhite(std::string_view s) {
  const auto white = [](char c) { return c == ' ' || c == '\r' || c == '\n'; };
  while (!s.empty() && white(s.front())) s.remove_prefix(1);
  while (!s.empty() && white(s.back())) s.remove_suffix(1);
  return s;
}

// A flag text as a number; anything else reads as 0.
int32_t FlagValue(std::string_view text) {
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() ? value : 0;
}

// value in decimal, written into digits.
std::string_view Decimal(int32_t value, char (&digits)[12]) {
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  return std::string_view(digits, static_cast<size_t>(end - digits));
}

// The last byte of text that is not a space, or none (0).
// The last byte of text other than a space, which may be a NUL; false when
// there is none.
bool LastNonSpace(std::string_view text, char* c) {
  const size_t i = text.find_last_not_of(' ');
  if (i == npos) return false;
  *c = text[i];
  return true;
}

// What a scan of part of a line may look at past its end: enough for the end
// of a script or style element ("</SCRIPT" and the byte after it) and of a
// comment ("</SCRIPT>").
constexpr size_t kLookAhead = 16;

// Where the end tag that begins with end_tag ("</SCRIPT") starts in line at
// or after from: end_tag in any case, then a space, tab, form feed, "/",
// ">", a line end or the end of the line.
size_t FindRawTextEnd(std::string_view line, std::string_view end_tag, size_t from) {
  for (size_t at = line.find('<', from); at != npos; at = line.find('<', at + 1)) {
    if (line.size() - at < end_tag.size() ||
        !EqualsIgnoreCase(line.substr(at, end_tag.size()), end_tag)) {
      continue;
    }
    const size_t next = at + end_tag.size();
    if (next == line.size() || std::string_view(" \t\f/>\r\n").find(line[next]) != npos) {
      return at;
    }
  }
  return npos;
}

// The names the rules recognise, each with an index in the order added,
// found by a name in place: open addressing over a table a few times larger
// than the most names there can be.
class NameTable {
 public:
  // The index of name, or -1; key is Key(name).
  int32_t Find(std::string_view name, uint64_t key) const {
    for (size_t slot = Hash(key, name.size());; slot = (slot + 1) & (kSlots - 1)) {
      const Slot& at = slots_[slot];
      if (at.index < 0 || (at.key == key && Same(at.index, name))) return at.index;
    }
  }
  // The index of name, added at the end unless it is there already.
  int32_t Add(std::string_view name) {
    const uint64_t key = Key(name);
    size_t slot = Hash(key, name.size());
    for (; slots_[slot].index >= 0; slot = (slot + 1) & (kSlots - 1)) {
      if (slots_[slot].key == key && Same(slots_[slot].index, name)) return slots_[slot].index;
    }
    slots_[slot] = {key, static_cast<int32_t>(names_.size())};
    names_.emplace_back(name);
    return slots_[slot].index;
  }
  int32_t Find(std::string_view name) const { return Find(name, Key(name)); }
  std::string_view Name(int32_t index) const { return names_[static_cast<size_t>(index)]; }
  size_t size() const { return names_.size(); }

  // The first eight bytes of a name, zero after its end, as one number.
  static uint64_t Key(std::string_view name) {
    char first[8] = {};
    for (size_t i = 0; i < name.size() && i < 8; ++i) first[i] = name[i];
    return KeyOf(first);
  }
  // The same of the eight bytes at first, which hold the first ones of a
  // name and zeros after its end.
  static uint64_t KeyOf(const char* first) {
    uint64_t key;
    std::memcpy(&key, first, sizeof key);
    return key;
  }

 private:
  // Twice the rows of the table (a start and an end name each), four times.
  static constexpr size_t kSlots = 8 * clsHTMLValidate::kMaxTags;
  // A slot holds the first eight bytes of its name, so that most names
  // are told apart without comparing texts.
  struct Slot {
    uint64_t key = 0;
    int32_t index = -1;
  };
  static size_t Hash(uint64_t key, size_t size) {
    return static_cast<size_t>(((key ^ size) * 0x9E3779B97F4A7C15ull) >> 40) & (kSlots - 1);
  }
  // Whether the name at index is name, given that their first eight bytes
  // are the same.
  bool Same(int32_t index, std::string_view name) const {
    const std::string& at = names_[static_cast<size_t>(index)];
    return at.size() == name.size() &&
           (name.size() <= 8 || std::string_view(at).substr(8) == name.substr(8));
  }
  std::vector<std::string> names_;
  std::vector<Slot> slots_ = std::vector<Slot>(kSlots);
};

// The quoted values of a tag: c closes the quote open at *level, or opens
// one right after "=", or after "+" inside another; a tenth one has no slot
// and stays plain text.
void StepQuotes(char c, char prev, int32_t* level, std::array<char, 10>* quotes) {
  if (*level > 0 && c == (*quotes)[static_cast<size_t>(*level)]) {
    --*level;
  } else if ((c == '"' || c == '\'') && (prev == '=' || (prev == '+' && *level > 0)) && *level < 9) {
    (*quotes)[static_cast<size_t>(++*level)] = c;
  }
}

}  // namespace

// One validation: the scanner state, the tag stack and the output.
class clsHTMLValidate::Run {
 public:
  explicit Run(clsHTMLValidate& v) : v_(v), errors_(*v.errors_) {}

  int32_t Go();

 private:
  void Report(int32_t line, int32_t row, std::string_view text) {
    char line_digits[12];
    char row_digits[12];
    const std::string_view texts[] = {Decimal(line, line_digits), Decimal(row, row_digits), text};
    std::string message;
    at_position_.Fill(texts, &message);
    errors_.Add(Variant(std::move(message)));
    ++fixed_count_;
    Changed(line);
  }
  // A repair on line: the first one inside a SCRIPT or STYLE element marks
  // that element as changed.
  void Changed(int32_t line) {
    if (element_.empty() || element_changed_) return;
    element_changed_ = true;
    v_.last_run_.script_text_changes.push_back({element_, line});
  }
  // The message filled with a and b; valid until the next fill.
  std::string_view Fill(const SplitFormat& message, std::string_view a, std::string_view b = {}) {
    const std::string_view texts[] = {a, b};
    message.Fill(texts, &filled_);
    return filled_;
  }
  // The messages of repairs, read once.
  const SplitFormat at_position_{Message(MessageId::kInformationAtPosition)};
  const SplitFormat empty_tag_{Message(MessageId::kIgnoringEmptyTag)};
  const SplitFormat previous_tag_{Message(MessageId::kTerminatingPreviousTag)};
  const SplitFormat overlapping_tags_{Message(MessageId::kOverlappingTags)};
  const SplitFormat unnecessary_end_tag_{Message(MessageId::kIgnoringUnnecessaryEndTag)};
  std::string filled_;
  void Write(std::string_view text) {
    if (text.empty() || !write_status_.ok()) return;
    write_status_ = out_.file().Append(text);
  }
  // Scans line[0, limit): a whole line when it ends there, else the part of
  // one that the bytes from limit on cannot change (they are only looked at).
  void ScanLine(std::string_view line, size_t limit, bool ends);
  // False when c is to be scanned again (it begins the content of a SCRIPT
  // or STYLE element kept as it stands).
  bool ScanChar(char c);
  // From i, where scan has a "<" outside any tag, comment or script text:
  // a tag that ends within scan, that cannot begin a comment and that no
  // second "<" cuts short goes through whole, as ScanChar would take it
  // byte by byte. Returns where the scan goes on, or i when the tag is not
  // such a one (nothing has changed then).
  size_t ScanSimpleTag(std::string_view scan, size_t i);
  // in_line: text is part of the line being scanned (it may go out as it
  // stands without a copy).
  void ProcessTag(int32_t line, int32_t row, std::string_view text, bool in_line = false);
  // Closes the tags above the topmost entry of name (-1: all of them).
  size_t CloseTo(int32_t name);
  void CloseOverlapped(int32_t name);
  void Push(int32_t name, std::string_view text);

  clsHTMLValidate& v_;
  Collection& errors_;
  ReplacementFile out_;
  Status write_status_;

  int32_t line_ = 0;
  int32_t col_ = 0;
  size_t line_pos_ = 0;  // bytes of the current line scanned before
  // The output of the current line not yet written, and after it kept_:
  // bytes of the line that go out as they stand, not copied until
  // something else goes out or the line is done.
  std::string output_;
  std::string_view kept_;
  std::string& Out() {
    if (!kept_.empty()) {
      output_.append(kept_);
      kept_ = {};
    }
    return output_;
  }
  // text is part of the line being scanned.
  void Keep(std::string_view text) {
    if (text.data() == kept_.data() + kept_.size()) {
      kept_ = std::string_view(kept_.data(), kept_.size() + text.size());
    } else {
      Out();
      kept_ = text;
    }
  }
  void Emit(std::string_view text, bool in_line) {
    if (in_line) {
      Keep(text);
    } else {
      Out() += text;
    }
  }
  // Writes what the line put out so far.
  void WriteOut() {
    if (output_.empty()) {
      Write(kept_);
    } else {
      Write(Out());
    }
    output_.clear();
    kept_ = {};
  }
  std::string tag_text_;
  bool in_tag_ = false;
  bool in_quote_ = false;
  bool in_comment_ = false;
  std::array<char, 10> quotes_{};
  int32_t quote_level_ = 0;
  // The last byte other than a space, which decides whether a quote opens a
  // value: read only inside a tag, whose "<" sets it.
  char prev_char_ = '\0';
  int32_t tag_line_ = 0;
  int32_t tag_col_ = 0;
  int32_t error_count_ = 0;
  int32_t fixed_count_ = 0;
  std::vector<TagEntry> stack_;
  int32_t stack_top_ = 0;
  bool in_p_ = false;
  // While the content of a SCRIPT or STYLE element is kept as it stands:
  // the start of its end tag ("</SCRIPT"); empty otherwise.
  std::string raw_end_;
  // The SCRIPT or STYLE element open now, if any, and whether a repair has
  // changed it.
  std::string element_;
  bool element_changed_ = false;
  // What the table says of a name; the first row that matches wins.
  // Names outside the table with rules of their own: P, /P, /BODY and /HTML.
  enum class TagKind : uint8_t { kUnrecognised, kStart, kEnd, kParagraph, kParagraphEnd, kBodyEnd };
  struct Recognised {
    TagKind kind = TagKind::kUnrecognised;
    bool nests = false;  // a start tag may open inside one of its kind (flag other than 0)
    int32_t tag = -1;    // the name the stack holds for it: its own, or the end tag's without "/"
    // SCRIPT or STYLE for a start or end tag of one of those elements
    // (element_end tells which), whatever the table says of it.
    std::string_view element;
    bool element_end = false;
  };
  // recognised is what the table says of text's name, and name that name
  // (empty when the table does not have it).
  void ApplyTagRules(int32_t line, int32_t row, std::string_view text, bool in_line,
                     std::string_view name, const Recognised& recognised);
  // Every name of the table, start and end, and what each one is.
  NameTable names_;
  std::vector<Recognised> recognised_;
  // How many entries of each name the stack holds, so that no test walks a
  // deep stack.
  std::vector<int32_t> on_stack_;
  bool IsOnStack(int32_t name) const { return on_stack_[static_cast<size_t>(name)] > 0; }
  bool TopIs(std::string_view name) const {
    const int32_t top = stack_[static_cast<size_t>(stack_top_)].name;
    return top >= 0 && names_.Name(top) == name;
  }
  void CloseAll() {
    CloseTo(-1);
    stack_top_ = 0;
    std::fill(on_stack_.begin(), on_stack_.end(), 0);
    element_.clear();
  }
};

int32_t clsHTMLValidate::Run::Go() {
  FileSystem& fs = *v_.env_.fs;
  const std::string& page = v_.filename_;
  errors_.Add(Variant(std::string(Message(MessageId::kValidating)) + page));
  if (v_.backup_) {
    Status s = CopyFile(v_.env_, page, page + ".bak", SideFileOf(page));
    if (!s.ok()) {
      errors_.Add(Variant(std::string(Message(MessageId::kErrorBackingUp)) + page +
                          std::string(kCRLF) + s.message()));
      return 1;
    }
  }
  std::unique_ptr<ReadableFile> in;
  Status s = fs.OpenForRead(page, &in);
  if (!s.ok()) {
    errors_.Add(Variant(std::string(Message(MessageId::kUnableToOpenFile)) + page +
                        std::string(kCRLF) + s.message()));
    return 1;
  }
  s = out_.Start(v_.env_, page, InPlace());
  if (!s.ok()) {
    // The page is named when it is what cannot be replaced, else the
    // folder where the new page is written.
    FileInfo info;
    const bool page_at_fault = fs.GetInfo(page, &info).ok() && !info.is_regular;
    const std::string what = page_at_fault ? page : FolderOf(page);
    errors_.Add(Variant(std::string(Message(MessageId::kUnableToOpenFile)) + what +
                        std::string(kCRLF) + s.message()));
    return 1;
  }
  stack_.assign(1, TagEntry{-1, std::string(kSentinel)});
  stack_top_ = 0;
  for (int32_t r = 0; r <= v_.last_tag_; ++r) {
    const TagRow& row = v_.tags_[static_cast<size_t>(r)];
    const int32_t start = names_.Add(row.name);
    if (static_cast<size_t>(start) == recognised_.size()) {
      recognised_.push_back({TagKind::kStart, FlagValue(row.flag) != 0, start, {}, false});
    }
    if (static_cast<size_t>(names_.Add("/" + row.name)) == recognised_.size()) {
      recognised_.push_back({TagKind::kEnd, false, start, {}, false});
    }
  }
  // The names with rules of their own, unless the table has them.
  for (const auto& [name, kind] : {std::pair{"P", TagKind::kParagraph},
                                   std::pair{"/P", TagKind::kParagraphEnd},
                                   std::pair{"/BODY", TagKind::kBodyEnd},
                                   std::pair{"/HTML", TagKind::kBodyEnd}}) {
    if (static_cast<size_t>(names_.Add(name)) == recognised_.size()) {
      recognised_.push_back({kind, false, -1, {}, false});
    }
  }
  // The elements whose content may be kept as it stands, in the table or not.
  for (const std::string_view element : {std::string_view("SCRIPT"), std::string_view("STYLE")}) {
    for (const bool end : {false, true}) {
      const auto at = static_cast<size_t>(names_.Add(end ? "/" + std::string(element)
                                                         : std::string(element)));
      if (at == recognised_.size()) recognised_.push_back({});
      recognised_[at].element = element;
      recognised_[at].element_end = end;
    }
  }
  on_stack_.assign(names_.size(), 0);

  const int64_t size = in->Size();
  ProgressMeter progress;
  TextWindow w;
  w.Reset(in.get(), size, v_.chunk_);
  while (s.ok()) {
    s = w.Refill();
    if (!s.ok()) break;
    std::string_view view = w.view();
    if (view.empty()) break;
    // A line ends after its CR, LF, CR LF or LF CR; the pair may go on in
    // the next piece.
    const size_t eol = FindAnyOf(view, "\r\n");
    if (!w.at_end() && (eol == npos || eol + 1 >= view.size())) {
      if (eol == npos && view.size() >= std::max<size_t>(w.chunk(), 4 * kLookAhead)) {
        // A long line: what the bytes after it cannot change goes now.
        const size_t limit = view.size() - kLookAhead;
        ScanLine(view, limit, false);
        w.Drop(limit);
      } else {
        s = w.ReadMore(static_cast<size_t>(w.chunk()));
      }
      continue;
    }
    const size_t end = LineEndAfter(view, eol);
    if (int16_t percent; progress.Grew(w.read_total(), size, &percent)) v_.progress_.Raise(percent);
    ScanLine(view.substr(0, end), end, true);
    w.Drop(end);
  }
  if (s.ok()) {
    if (stack_top_ > 0) {
      CloseAll();
      Report(line_, col_, Message(MessageId::kTerminatingUnfinishedTags));
    }
    // A tag still open at the end stays as it stood, after everything else.
    if (in_tag_) Out() += tag_text_;
    Write(Out());
    s = write_status_;
  }
  if (s.ok()) s = out_.Close();
  in.reset();
  if (!s.ok()) {
    // The page stays as it was; the unfinished copy goes.
    out_.Abandon();
    errors_.Add(Variant(std::string(Message(MessageId::kErrorCopying)) + page + std::string(kCRLF) +
                        s.message()));
    error_count_ += 1;
  } else {
    error_count_ += out_.Commit(Variant(ObjectRef(v_.errors_)));
  }
  errors_.Add(Variant(v_.common_->FormatString(Message(MessageId::kValidationSummary),
                                               {Variant(error_count_), Variant(fixed_count_)})));
  v_.last_run_.listed = fixed_count_;
  return error_count_;
}

void clsHTMLValidate::Run::ScanLine(std::string_view line, size_t limit, bool ends) {
  if (line_pos_ == 0 && !line.empty() && line[0] == '<' && line.starts_with("<!--HTMLGlue")) {
    // The previous document ends here, and any element in it.
    raw_end_.clear();
    element_.clear();
    if (in_comment_) {
      Report(line_, col_, Message(MessageId::kTerminatingComment));
      in_comment_ = in_tag_ = false;
      Out() += "-->";
      Out() += kCRLF;
      tag_text_.clear();
    }
    if (stack_top_ > 0) {
      CloseAll();
      Report(line_, col_, Message(MessageId::kTerminatingUnfinishedTags));
    }
  }
  if (line_pos_ == 0) ++line_;
  // Searches stop at limit; only the end of a script or style element looks
  // beyond it.
  const std::string_view scan = line.substr(0, limit);
  size_t i = 0;
  while (i < limit) {
    if (!raw_end_.empty()) {
      // Script or style text, kept as it stands up to its end tag.
      size_t end = FindRawTextEnd(line, raw_end_, i);
      if (end >= limit) end = npos;
      const size_t stop = end == npos ? limit : end;
      Keep(line.substr(i, stop - i));
      if (end != npos) raw_end_.clear();
      i = stop;
      continue;
    }
    // Plain text up to the next bracket, and comment text up to the next
    // ">" (the only character that can end a comment), go over whole.
    if (in_comment_) {
      const size_t run = std::min(scan.find('>', i), limit) - i;
      if (run > 0) {
        tag_text_.append(scan.substr(i, run));
        i += run;
        continue;
      }
    } else if (!in_tag_) {
      const size_t bracket = FindBracket(scan, i);
      if (bracket > i) Keep(scan.substr(i, bracket - i));
      if ((i = bracket) == limit) continue;
      if (scan[i] == '<') {
        if (const size_t next = ScanSimpleTag(scan, i); next != i) {
          i = next;
          continue;
        }
      }
    } else if (tag_text_.size() >= 4) {
      // Inside a tag, past its opening: only brackets and quotes matter.
      const size_t run = std::min(FindAnyOf(scan, "<>\"'", i), limit) - i;
      if (run > 0) {
        tag_text_.append(scan.substr(i, run));
        LastNonSpace(scan.substr(i, run), &prev_char_);
        i += run;
        continue;
      }
    }
    col_ = static_cast<int32_t>(line_pos_ + i + 1);
    if (ScanChar(line[i])) ++i;
  }
  if (!ends) {
    // The output only grows at its end, and of a comment only the last
    // bytes decide anything: both go out now.
    line_pos_ += limit;
    if (in_comment_ && tag_text_.size() > kLookAhead) {
      Out().append(tag_text_, 0, tag_text_.size() - kLookAhead);
      tag_text_.erase(0, tag_text_.size() - kLookAhead);
    }
    WriteOut();
    return;
  }
  col_ = static_cast<int32_t>(line_pos_ + line.size() + 1);
  line_pos_ = 0;
  if (!in_tag_) {
    WriteOut();
  } else if (in_comment_) {
    Out() += tag_text_;
    WriteOut();
    tag_text_.clear();
  } else {
    // The tag goes on in the next line: what precedes it waits with it.
    Out();
  }
}

size_t clsHTMLValidate::Run::ScanSimpleTag(std::string_view scan, size_t i) {
  if (i + 2 >= scan.size()) return i;
  const char second = AsciiUpper(scan[i + 1]);
  if (!(second == '/' || second == '?' || (second >= 'A' && second <= 'Z'))) return i;
  // The quotes open at each level and the level, as ScanChar keeps them;
  // they become the state only if the tag ends here. Slots above the level
  // are never read before they are set.
  int32_t level = 0;
  size_t close = i + 2;
  for (;; ++close) {
    while (close < scan.size() && !kTagStop[static_cast<uint8_t>(scan[close])]) ++close;
    if (close == scan.size()) return i;
    const char c = scan[close];
    if (c == '>') {
      if (level == 0) break;
    } else if (c == '<') {
      if (level == 0) return i;
    } else {
      // The last byte before the quote other than a space: the one after
      // the "<" is none.
      size_t prev = close - 1;
      while (scan[prev] == ' ') --prev;
      StepQuotes(c, scan[prev], &level, &quotes_);
    }
  }
  const auto row = static_cast<int32_t>(line_pos_ + i + 1);
  tag_line_ = line_;
  tag_col_ = row;
  col_ = static_cast<int32_t>(line_pos_ + close + 1);
  ProcessTag(line_, row, scan.substr(i, close + 1 - i), true);
  return close + 1;
}

bool clsHTMLValidate::Run::ScanChar(char c) {
  if (in_comment_) {
    tag_text_ += c;
    const std::string_view t = tag_text_;
    if (t.ends_with("-->")) {
      in_comment_ = in_tag_ = false;
      Out() += tag_text_;
      tag_text_.clear();
    } else if (t.size() >= 9 && TopIs("SCRIPT") &&
               EqualsIgnoreCase(t.substr(t.size() - 9), "</SCRIPT>")) {
      // A comment left open inside a script element ends before its end tag.
      ++v_.last_run_.comments_closed;
      Changed(line_);
      in_comment_ = in_tag_ = false;
      Out().append(t.substr(0, t.size() - 9));
      Out() += "-->";
      const std::string end_tag(t.substr(t.size() - 9));
      tag_text_.clear();
      ProcessTag(line_, col_ - 8, end_tag);
    }
    if (c != ' ') prev_char_ = c;
    return true;
  }
  switch (c) {
    case '<':
      if (in_quote_) {
        tag_text_ += c;
      } else if (in_tag_) {
        Report(tag_line_, tag_col_, Message(MessageId::kLessThanClosedByLessThan));
        tag_text_ += '>';
        ProcessTag(tag_line_, tag_col_, tag_text_);
        if (!raw_end_.empty()) {
          // The tag began a script or style element: this "<" is its text.
          in_tag_ = false;
          tag_text_.clear();
          return false;
        }
        tag_text_ = "<";
      } else {
        in_tag_ = true;
        tag_text_ = "<";
        tag_line_ = line_;
        tag_col_ = col_;
      }
      break;
    case '>':
      if (in_quote_) {
        tag_text_ += c;
      } else if (in_tag_) {
        in_tag_ = false;
        tag_text_ += '>';
        ProcessTag(tag_line_, tag_col_, tag_text_);
      } else {
        Report(line_, col_, Message(MessageId::kEscapingGreaterThan));
        Out() += "&gt;";
      }
      break;
    default:
      if ((quote_level_ > 0 && c == quotes_[static_cast<size_t>(quote_level_)]) ||
          ((c == '"' || c == '\'') && in_tag_)) {
        tag_text_ += c;
        StepQuotes(c, prev_char_, &quote_level_, &quotes_);
        in_quote_ = quote_level_ > 0;
      } else if (c == '"' || c == '\'') {
        Out() += c;
      } else if (c == '-') {
        if (in_tag_) {
          tag_text_ += c;
          if (tag_text_ == "<!--") in_comment_ = true;
        } else {
          Out() += c;
        }
      } else if (in_tag_) {
        tag_text_ += c;
      } else {
        Out() += c;
      }
      break;
  }
  // A "<" followed by what cannot begin a tag was text.
  if (in_tag_ && tag_text_.size() == 2) {
    const char second = AsciiUpper(tag_text_[1]);
    if (!(second == '!' || second == '?' || second == '/' || (second >= 'A' && second <= 'Z'))) {
      Report(line_, col_ - 1, Message(MessageId::kEscapingLessThan));
      Out() += "&lt;";
      Out() += c;
      in_tag_ = false;
      tag_text_.clear();
    }
  }
  if (c != ' ') prev_char_ = c;
  return true;
}

void clsHTMLValidate::Run::ProcessTag(int32_t line, int32_t row, std::string_view text,
                                      bool in_line) {
  // A name longer than the buffer is looked up in a copy of its own.
  char name[16] = {};
  const size_t size = TagName(text, name);
  const int32_t found = size <= sizeof name
                            ? names_.Find({name, size}, NameTable::KeyOf(name))
                            : names_.Find(AsciiUpperCopy(text.substr(1, size)));
  static const Recognised kNotInTable;
  const Recognised& recognised = found < 0 ? kNotInTable : recognised_[static_cast<size_t>(found)];
  ApplyTagRules(line, row, text, in_line, found < 0 ? std::string_view() : names_.Name(found),
                recognised);
  // The repairs this tag caused belong to the element it ends, or to the
  // one before the element it starts.
  if (recognised.element.empty()) return;
  if (recognised.element_end) {
    if (recognised.element == element_) element_.clear();
    return;
  }
  element_ = recognised.element;
  element_changed_ = false;
  if (v_.keep_script_text_) raw_end_ = "</" + std::string(recognised.element);
}

void clsHTMLValidate::Run::ApplyTagRules(int32_t line, int32_t row, std::string_view text,
                                         bool in_line, std::string_view name,
                                         const Recognised& recognised) {
  if (recognised.kind == TagKind::kStart) {
    // A start tag that is its name alone and whose name is A or FONT.
    if ((name == "A" || name == "FONT") &&
        EqualsIgnoreCase(TrimWhite(text.substr(1, text.size() - 2)), name)) {
      Report(line, row, Fill(empty_tag_, name));
      return;
    }
    if (!recognised.nests && IsOnStack(recognised.tag)) {
      Report(line, row, Fill(previous_tag_, name));
      ProcessTag(line, row, "</" + std::string(name) + ">");
    }
    Push(recognised.tag, text);
    Emit(text, in_line);
    return;
  }
  if (recognised.kind == TagKind::kEnd) {
    const std::string_view tag = name.substr(1);
    if (!IsOnStack(recognised.tag)) {
      Report(line, row, Fill(unnecessary_end_tag_, tag));
      return;
    }
    const int32_t top = stack_[static_cast<size_t>(stack_top_)].name;
    if (top != recognised.tag) {
      Report(line, row, Fill(overlapping_tags_, tag, names_.Name(top)));
      CloseOverlapped(recognised.tag);
    } else {
      Emit(text, in_line);
    }
    --stack_top_;
    --on_stack_[static_cast<size_t>(recognised.tag)];
    return;
  }
  if (recognised.kind == TagKind::kParagraph) {
    if (in_p_) {
      ++v_.last_run_.paragraphs_closed;
      Changed(line);
      ProcessTag(line, row, "</P>");
    }
    Emit(text, in_line);
    in_p_ = true;
  } else if (recognised.kind == TagKind::kParagraphEnd) {
    if (!in_p_) {
      Report(line, row, Fill(unnecessary_end_tag_, "P"));
      return;
    }
    Emit(text, in_line);
    in_p_ = false;
  } else if (recognised.kind == TagKind::kBodyEnd) {
    if (stack_top_ != 0) {
      CloseAll();
      Report(line, row, Message(MessageId::kTerminatingUnfinishedTags));
    }
    Emit(text, in_line);
  } else {
    Emit(text, in_line);
  }
}

void clsHTMLValidate::Run::Push(int32_t name, std::string_view text) {
  ++on_stack_[static_cast<size_t>(name)];
  ++stack_top_;
  if (static_cast<size_t>(stack_top_) >= stack_.size()) {
    stack_.push_back(TagEntry{name, std::string(text)});
  } else {
    // The entry keeps its buffer from the tag it held before.
    TagEntry& entry = stack_[static_cast<size_t>(stack_top_)];
    entry.name = name;
    entry.text.assign(text);
  }
}

size_t clsHTMLValidate::Run::CloseTo(int32_t name) {
  auto k = static_cast<size_t>(stack_top_);
  while (k > 0 && stack_[k].name != name) --k;
  for (auto m = static_cast<size_t>(stack_top_); m > k; --m) {
    Out() += "</";
    Out() += names_.Name(stack_[m].name);
    Out() += '>';
  }
  Out() += kCRLF;
  return k;
}

void clsHTMLValidate::Run::CloseOverlapped(int32_t name) {
  const size_t k = CloseTo(name);
  Out() += "</";
  Out() += names_.Name(name);
  Out() += '>';
  // The tags above it open again, one place lower; its entry ends up on top.
  for (size_t m = k + 1; m <= static_cast<size_t>(stack_top_); ++m) {
    Out() += stack_[m].text;
    std::swap(stack_[m - 1], stack_[m]);
  }
}

// ------------------------------------------------------------------ the class

clsHTMLValidate::clsHTMLValidate() : clsHTMLValidate(CurrentEnv()) {}

clsHTMLValidate::clsHTMLValidate(Env& env)
    : env_(env), common_(std::make_unique<WithEnv<clsCommon>>(env)), errors_(Collection::Create()) {
  Tags(kDefaultTags);
}

clsHTMLValidate::~clsHTMLValidate() {
  errors_->Clear();
}

void clsHTMLValidate::SetChunkSizeForTesting(int32_t chunk) {
  chunk_ = chunk == 0 ? (1 << 20) : std::max(chunk, 16);
}

int32_t clsHTMLValidate::HTMLValidate() {
  errors_->Clear();
  last_run_ = RunDetails();
  Run run(*this);
  return run.Go();
}

std::string clsHTMLValidate::Tags() const {
  std::string text;
  for (int32_t r = 0; r <= last_tag_; ++r) {
    const TagRow& row = tags_[static_cast<size_t>(r)];
    text += row.name + "|" + row.flag + ",";
  }
  return text;
}

void clsHTMLValidate::Tags(std::string_view value) {
  last_tag_ = -1;
  while (!value.empty()) {
    const size_t comma = value.find(',');
    if (comma == npos) break;
    const std::string_view item = value.substr(0, comma);
    value.remove_prefix(comma + 1);
    const size_t bar = item.find('|');
    if (bar == npos) throw AutomationError(err::kInvalidCall);
    if (last_tag_ + 1 >= kMaxTags) throw AutomationError(err::kSubscript);
    TagRow& row = tags_[static_cast<size_t>(++last_tag_)];
    row.name = std::string(item.substr(0, bar));
    row.flag = std::string(item.substr(bar + 1));
  }
}

void clsHTMLValidate::DisplayOptions() { (void)EditOptions(); }

clsHTMLValidate::OptionsOutcome clsHTMLValidate::EditOptions() {
  auto form = std::make_shared<frmHTMLOptions>();
  RegisterLoadedForm(form);
  struct Unload {
    const Dispatch* form;
    ~Unload() { UnregisterLoadedForm(form); }
  } unload{form.get()};
  form->Load();
  form->Tags(Tags());
  if (env_.windowing == nullptr || !env_.windowing->ShowModal(*form)) {
    return OptionsOutcome::kNotShown;
  }
  if (form->Cancelled()) return OptionsOutcome::kCancelled;
  Tags(form->Tags());
  return OptionsOutcome::kAccepted;
}

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsHTMLValidate>() {
  using C = clsHTMLValidate;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "clsHTMLValidate",
      {
          T::Method("HTMLValidate", 1, {}, V::kInt32, &C::HTMLValidate),
          T::Property("Filename", 2, M::kGetLet, V::kText, &C::Filename, &C::Filename),
          T::Property("Backup", 3, M::kGetLet, V::kBool, &C::Backup, &C::Backup),
          T::Property("Tags", 4, M::kGetLet, V::kText, &C::Tags, &C::Tags),
          T::Get("ErrorList", 5, V::kObject, &C::ErrorList),
          T::Method("DisplayOptions", 6, {}, V::kEmpty, &C::DisplayOptions),
      }};
  return info;
}

const ClassTypeInfo& clsHTMLValidate::TypeInfo() const { return detail::TypeInfoOf<clsHTMLValidate>(); }

int32_t clsHTMLValidate::Advise(EventSink sink) { return progress_.AdviseSink(std::move(sink)); }
void clsHTMLValidate::Unadvise(int32_t cookie) { progress_.UnadviseSink(cookie); }

}  // namespace vok
