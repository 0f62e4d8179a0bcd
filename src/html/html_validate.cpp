#include "voktools/html_validate.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <unordered_map>

#include "common/progress.h"
#include "common/replacement_file.h"
#include "common/text_window.h"
#include "frame/forms.h"
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

bool IsNameChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// s without leading and trailing CR, LF and spaces (tabs stay).
std::string_view TrimWhite(std::string_view s) {
  const size_t first = s.find_first_not_of("\r\n ");
  if (first == npos) return {};
  return s.substr(first, s.find_last_not_of("\r\n ") - first + 1);
}

// A flag text as a number; anything else reads as 0.
int32_t FlagValue(std::string_view text) {
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() ? value : 0;
}

// The last byte of text that is not a space, or none (0).
char LastNonSpace(std::string_view text) {
  const size_t i = text.find_last_not_of(' ');
  return i == npos ? '\0' : text[i];
}

// "SCRIPT" or "STYLE" when tag (its "<" to its ">") is a start or end tag
// of one of those elements, else empty; *end tells which.
std::string_view RawTextElement(std::string_view tag, bool* end) {
  size_t at = 1;
  *end = tag.size() > 1 && tag[1] == '/';
  if (*end) ++at;
  for (std::string_view element : {std::string_view("SCRIPT"), std::string_view("STYLE")}) {
    if (tag.size() > at + element.size() &&
        EqualsIgnoreCase(tag.substr(at, element.size()), element) &&
        !IsNameChar(AsciiUpper(tag[at + element.size()]))) {
      return element;
    }
  }
  return {};
}

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

// Copies from to a fresh file beside to and moves it over to.
Status CopyFile(Env& env, const std::string& from, const std::string& to) {
  std::unique_ptr<ReadableFile> in;
  Status s = env.fs->OpenForRead(from, &in);
  if (!s.ok()) return s;
  ReplacementFile out;
  s = out.Start(env, to, SideFileOf(from));
  if (!s.ok()) return s;
  s = CopyContents(*in, out.file());
  if (s.ok()) s = out.Close();
  if (!s.ok()) return s;
  auto errors = Collection::Create();
  if (out.Commit(Variant(ObjectRef(errors))) != 0) {
    return Status::Error(EIO, errors->Count() > 0 ? errors->Texts().back() : "");
  }
  return s;
}

}  // namespace

// One validation: the scanner state, the tag stack and the output.
class clsHTMLValidate::Run {
 public:
  explicit Run(clsHTMLValidate& v) : v_(v), errors_(*v.errors_) {}

  int32_t Go();

 private:
  void Report(int32_t line, int32_t row, std::string_view text) {
    errors_.Add(Variant(v_.common_->FormatString(
        Message(3015), {Variant(line), Variant(row), Variant(std::string(text))})));
    ++lngFixed_;
    Changed(line);
  }
  // A repair on line: the first one inside a SCRIPT or STYLE element marks
  // that element as changed.
  void Changed(int32_t line) {
    if (element_.empty() || element_changed_) return;
    element_changed_ = true;
    v_.last_run_.script_text_changes.push_back({element_, line});
  }
  std::string Fill(int32_t id, std::string_view a, std::string_view b = {}) {
    return v_.common_->FormatString(Message(id), {Variant(std::string(a)), Variant(std::string(b))});
  }
  void Write(std::string_view text) {
    if (text.empty() || !write_status_.ok()) return;
    write_status_ = out_.file().Append(text);
  }
  void ScanLine(std::string_view line);
  // False when c is to be scanned again (it begins the content of a SCRIPT
  // or STYLE element kept as it stands).
  bool ScanChar(char c);
  void ProcessTag(int32_t line, int32_t row, const std::string& text);
  void ApplyTagRules(int32_t line, int32_t row, const std::string& text);
  size_t CloseTo(std::string_view tag);
  void CloseOverlapped(const std::string& tag);
  bool IsOnStack(std::string_view tag) const;
  void Push(TagEntry entry);

  clsHTMLValidate& v_;
  Collection& errors_;
  ReplacementFile out_;
  Status write_status_;

  int32_t lngLine_ = 0;
  int32_t lngCol_ = 0;
  std::string strOut_;
  std::string strTagText_;
  bool bInTag_ = false;
  bool bInQuote_ = false;
  bool bInComment_ = false;
  std::array<char, 10> arrQuotes_{};
  int32_t lngQuoteLevel_ = 0;
  char strPrevChar_ = '\0';  // none yet
  int32_t lngTagLine_ = 0;
  int32_t lngTagCol_ = 0;
  int32_t lngErrors_ = 0;
  int32_t lngFixed_ = 0;
  std::vector<TagEntry> arrStack_;
  int32_t intStackTop_ = 0;
  bool bInP_ = false;
  // While the content of a SCRIPT or STYLE element is kept as it stands:
  // the start of its end tag ("</SCRIPT"); empty otherwise.
  std::string raw_end_;
  // The SCRIPT or STYLE element open now, if any, and whether a repair has
  // changed it.
  std::string element_;
  bool element_changed_ = false;
  // What the table says of a name: 1 start tag (with its flag), 2 end tag;
  // the first row that matches wins.
  struct Recognised {
    int kind;
    int32_t flag;
  };
  std::unordered_map<std::string, Recognised> recognised_;
  // How many entries of each name the stack holds, so that IsOnStack does
  // not walk a deep stack.
  std::unordered_map<std::string, int32_t> on_stack_;
  void Popped(const std::string& tag) {
    if (auto it = on_stack_.find(tag); it != on_stack_.end() && --it->second == 0) {
      on_stack_.erase(it);
    }
  }
  void CloseAll() {
    CloseTo(kSentinel);
    intStackTop_ = 0;
    on_stack_.clear();
    element_.clear();
  }
  std::string upper_;  // scratch for ProcessTag
};

int32_t clsHTMLValidate::Run::Go() {
  FileSystem& fs = *v_.env_.fs;
  const std::string& page = v_.filename_;
  errors_.Add(Variant(std::string(Message(3006)) + page));
  if (v_.backup_) {
    Status s = CopyFile(v_.env_, page, page + ".bak");
    if (!s.ok()) {
      errors_.Add(Variant(std::string(Message(3007)) + page + std::string(kCRLF) + s.message()));
      return 1;
    }
  }
  std::unique_ptr<ReadableFile> in;
  Status s = fs.OpenForRead(page, &in);
  if (!s.ok()) {
    errors_.Add(Variant(std::string(Message(3001)) + page + std::string(kCRLF) + s.message()));
    return 1;
  }
  s = out_.Start(v_.env_, page, InPlace());
  if (!s.ok()) {
    // The page is named when it is what cannot be replaced, else the
    // folder where the new page is written.
    FileInfo info;
    const bool page_at_fault = fs.GetInfo(page, &info).ok() && !info.is_regular;
    const std::string what = page_at_fault ? page : FolderOf(page);
    errors_.Add(Variant(std::string(Message(3001)) + what + std::string(kCRLF) + s.message()));
    return 1;
  }
  arrStack_.assign(1, TagEntry{std::string(kSentinel), std::string(kSentinel), -1, -1});
  intStackTop_ = 0;
  for (int32_t r = 0; r <= v_.intLastTag_; ++r) {
    const TagRow& row = v_.arrTags_[static_cast<size_t>(r)];
    recognised_.try_emplace(row.name, Recognised{1, FlagValue(row.flag)});
    recognised_.try_emplace("/" + row.name, Recognised{2, 0});
  }

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
      s = w.ReadMore(static_cast<size_t>(w.chunk()));
      continue;
    }
    const size_t end = LineEndAfter(view, eol);
    if (int16_t percent; progress.Grew(w.read_total(), size, &percent)) v_.progress_.Raise(percent);
    ScanLine(view.substr(0, end));
    w.Drop(end);
  }
  if (s.ok()) {
    if (intStackTop_ > 0) {
      CloseAll();
      Report(lngLine_, lngCol_, Message(3009));
    }
    // A tag still open at the end stays as it stood, after everything else.
    if (bInTag_) strOut_ += strTagText_;
    Write(strOut_);
    s = write_status_;
  }
  if (s.ok()) s = out_.Close();
  in.reset();
  if (!s.ok()) {
    // The page stays as it was; the unfinished copy goes.
    out_.Abandon();
    errors_.Add(Variant(std::string(Message(3003)) + page + std::string(kCRLF) + s.message()));
    lngErrors_ += 1;
  } else {
    lngErrors_ += out_.Commit(Variant(ObjectRef(v_.errors_)));
  }
  errors_.Add(Variant(v_.common_->FormatString(Message(3013),
                                               {Variant(lngErrors_), Variant(lngFixed_)})));
  v_.last_run_.listed = lngFixed_;
  return lngErrors_;
}

void clsHTMLValidate::Run::ScanLine(std::string_view line) {
  if (line.starts_with("<!--HTMLGlue")) {
    // The previous document ends here, and any element in it.
    raw_end_.clear();
    element_.clear();
    if (bInComment_) {
      Report(lngLine_, lngCol_, Message(3008));
      bInComment_ = bInTag_ = false;
      strOut_ += "-->";
      strOut_ += kCRLF;
      strTagText_.clear();
    }
    if (intStackTop_ > 0) {
      CloseAll();
      Report(lngLine_, lngCol_, Message(3009));
    }
  }
  ++lngLine_;
  size_t i = 0;
  while (i < line.size()) {
    if (!raw_end_.empty()) {
      // Script or style text, kept as it stands up to its end tag.
      const size_t end = FindRawTextEnd(line, raw_end_, i);
      const size_t stop = end == npos ? line.size() : end;
      strOut_.append(line.substr(i, stop - i));
      if (const char c = LastNonSpace(line.substr(i, stop - i)); c != '\0') strPrevChar_ = c;
      if (end != npos) raw_end_.clear();
      i = stop;
      continue;
    }
    // Plain text up to the next bracket, and comment text up to the next
    // ">" (the only character that can end a comment), go over whole.
    size_t run = 0;
    if (bInComment_) {
      run = line.find('>', i);
      run = (run == npos ? line.size() : run) - i;
      strTagText_.append(line.substr(i, run));
    } else if (!bInTag_) {
      run = FindAnyOf(line, "<>", i);
      run = (run == npos ? line.size() : run) - i;
      strOut_.append(line.substr(i, run));
    } else if (strTagText_.size() >= 4) {
      // Inside a tag, past its opening: only brackets and quotes matter.
      run = FindAnyOf(line, "<>\"'", i);
      run = (run == npos ? line.size() : run) - i;
      strTagText_.append(line.substr(i, run));
    }
    if (run > 0) {
      if (const char c = LastNonSpace(line.substr(i, run)); c != '\0') strPrevChar_ = c;
      i += run;
      continue;
    }
    lngCol_ = static_cast<int32_t>(i + 1);
    if (ScanChar(line[i])) ++i;
  }
  lngCol_ = static_cast<int32_t>(line.size() + 1);
  if (!bInTag_) {
    Write(strOut_);
    strOut_.clear();
  } else if (bInComment_) {
    strOut_ += strTagText_;
    Write(strOut_);
    strOut_.clear();
    strTagText_.clear();
  }
}

bool clsHTMLValidate::Run::ScanChar(char c) {
  if (bInComment_) {
    strTagText_ += c;
    const std::string_view t = strTagText_;
    if (t.ends_with("-->")) {
      bInComment_ = bInTag_ = false;
      strOut_ += strTagText_;
      strTagText_.clear();
    } else if (t.size() >= 9 && arrStack_[static_cast<size_t>(intStackTop_)].strTag == "SCRIPT" &&
               EqualsIgnoreCase(t.substr(t.size() - 9), "</SCRIPT>")) {
      // A comment left open inside a script element ends before its end tag.
      ++v_.last_run_.comments_closed;
      Changed(lngLine_);
      bInComment_ = bInTag_ = false;
      strOut_.append(t.substr(0, t.size() - 9));
      strOut_ += "-->";
      const std::string end_tag(t.substr(t.size() - 9));
      strTagText_.clear();
      ProcessTag(lngLine_, lngCol_ - 8, end_tag);
    }
    if (c != ' ') strPrevChar_ = c;
    return true;
  }
  switch (c) {
    case '<':
      if (bInQuote_) {
        strTagText_ += c;
      } else if (bInTag_) {
        Report(lngTagLine_, lngTagCol_, Message(3039));
        strTagText_ += '>';
        ProcessTag(lngTagLine_, lngTagCol_, strTagText_);
        if (!raw_end_.empty()) {
          // The tag began a script or style element: this "<" is its text.
          bInTag_ = false;
          strTagText_.clear();
          return false;
        }
        strTagText_ = "<";
      } else {
        bInTag_ = true;
        strTagText_ = "<";
        lngTagLine_ = lngLine_;
        lngTagCol_ = lngCol_;
      }
      break;
    case '>':
      if (bInQuote_) {
        strTagText_ += c;
      } else if (bInTag_) {
        bInTag_ = false;
        strTagText_ += '>';
        ProcessTag(lngTagLine_, lngTagCol_, strTagText_);
      } else {
        Report(lngLine_, lngCol_, Message(3011));
        strOut_ += "&gt;";
      }
      break;
    default:
      if (lngQuoteLevel_ > 0 && c == arrQuotes_[static_cast<size_t>(lngQuoteLevel_)]) {
        strTagText_ += c;
        --lngQuoteLevel_;
        bInQuote_ = lngQuoteLevel_ > 0;
      } else if (c == '"' || c == '\'') {
        if (bInTag_) {
          strTagText_ += c;
          // A quoted value opens right after "=", or after "+" inside
          // another; a tenth one has no slot and stays plain text.
          if ((strPrevChar_ == '=' || (strPrevChar_ == '+' && lngQuoteLevel_ > 0)) &&
              lngQuoteLevel_ < 9) {
            arrQuotes_[static_cast<size_t>(++lngQuoteLevel_)] = c;
            bInQuote_ = true;
          }
        } else {
          strOut_ += c;
        }
      } else if (c == '-') {
        if (bInTag_) {
          strTagText_ += c;
          if (strTagText_ == "<!--") bInComment_ = true;
        } else {
          strOut_ += c;
        }
      } else if (bInTag_) {
        strTagText_ += c;
      } else {
        strOut_ += c;
      }
      break;
  }
  // A "<" followed by what cannot begin a tag was text.
  if (bInTag_ && strTagText_.size() == 2) {
    const char second = AsciiUpper(strTagText_[1]);
    if (!(second == '!' || second == '?' || second == '/' || (second >= 'A' && second <= 'Z'))) {
      Report(lngLine_, lngCol_ - 1, Message(3012));
      strOut_ += "&lt;";
      strOut_ += c;
      bInTag_ = false;
      strTagText_.clear();
    }
  }
  if (c != ' ') strPrevChar_ = c;
  return true;
}

void clsHTMLValidate::Run::ProcessTag(int32_t line, int32_t row, const std::string& text) {
  ApplyTagRules(line, row, text);
  // The repairs this tag caused belong to the element it ends, or to the
  // one before the element it starts.
  bool end = false;
  const std::string_view element = RawTextElement(text, &end);
  if (element.empty()) return;
  if (end) {
    if (element == element_) element_.clear();
    return;
  }
  element_ = element;
  element_changed_ = false;
  if (v_.keep_script_text_) raw_end_ = "</" + std::string(element);
}

void clsHTMLValidate::Run::ApplyTagRules(int32_t line, int32_t row, const std::string& text) {
  upper_.assign(text);
  for (char& ch : upper_) ch = AsciiUpper(ch);
  const std::string_view u = upper_;
  size_t stop = u.starts_with("</") ? 2 : 1;
  while (stop < u.size() && IsNameChar(u[stop])) ++stop;
  const std::string name(u.substr(std::min<size_t>(1, u.size()), stop - 1));

  int kind = 0;  // 1 recognised start tag, 2 recognised end tag
  int32_t flag = 0;
  if (auto it = recognised_.find(name); it != recognised_.end()) {
    kind = it->second.kind;
    flag = it->second.flag;
  }

  if (kind == 1) {
    const std::string_view inner = TrimWhite(u.substr(1, u.size() - 2));
    if (inner == "A" || inner == "FONT") {
      Report(line, row, Fill(3016, name));
      return;
    }
    if (flag == 0 && IsOnStack(name)) {
      Report(line, row, Fill(3017, name));
      ProcessTag(line, row, "</" + name + ">");
    }
    Push(TagEntry{name, text, line, row});
    strOut_ += text;
    return;
  }
  if (kind == 2) {
    const std::string tag = name.substr(1);
    if (!IsOnStack(tag)) {
      Report(line, row, Fill(3019, tag));
      return;
    }
    const std::string& top = arrStack_[static_cast<size_t>(intStackTop_)].strTag;
    if (top != tag) {
      Report(line, row, Fill(3018, tag, top));
      CloseOverlapped(tag);
    } else {
      strOut_ += text;
    }
    --intStackTop_;
    Popped(tag);
    return;
  }
  if (name == "P") {
    if (bInP_) {
      ++v_.last_run_.paragraphs_closed;
      Changed(line);
      ProcessTag(line, row, "</P>");
    }
    strOut_ += text;
    bInP_ = true;
  } else if (name == "/P") {
    if (!bInP_) {
      Report(line, row, Fill(3019, "P"));
      return;
    }
    strOut_ += text;
    bInP_ = false;
  } else if (name == "/BODY" || name == "/HTML") {
    if (intStackTop_ != 0) {
      CloseAll();
      Report(line, row, Message(3009));
    }
    strOut_ += text;
  } else {
    strOut_ += text;
  }
}

void clsHTMLValidate::Run::Push(TagEntry entry) {
  ++on_stack_[entry.strTag];
  ++intStackTop_;
  if (static_cast<size_t>(intStackTop_) >= arrStack_.size()) {
    arrStack_.push_back(std::move(entry));
  } else {
    arrStack_[static_cast<size_t>(intStackTop_)] = std::move(entry);
  }
}

size_t clsHTMLValidate::Run::CloseTo(std::string_view tag) {
  auto k = static_cast<size_t>(intStackTop_);
  while (k > 0 && arrStack_[k].strTag != tag) --k;
  for (auto m = static_cast<size_t>(intStackTop_); m > k; --m) {
    strOut_ += "</";
    strOut_ += arrStack_[m].strTag;
    strOut_ += '>';
  }
  strOut_ += kCRLF;
  return k;
}

void clsHTMLValidate::Run::CloseOverlapped(const std::string& tag) {
  const size_t k = CloseTo(tag);
  strOut_ += "</" + tag + ">";
  for (size_t m = k + 1; m <= static_cast<size_t>(intStackTop_); ++m) {
    strOut_ += arrStack_[m].strText;
    arrStack_[m - 1] = arrStack_[m];
  }
}

bool clsHTMLValidate::Run::IsOnStack(std::string_view tag) const {
  return on_stack_.count(std::string(tag)) > 0;
}

// ------------------------------------------------------------------ the class

clsHTMLValidate::clsHTMLValidate() : clsHTMLValidate(CurrentEnv()) {}

clsHTMLValidate::clsHTMLValidate(Env& env)
    : env_(env), common_(std::make_unique<clsCommon>(env)), errors_(Collection::Create()) {
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
  for (int32_t r = 0; r <= intLastTag_; ++r) {
    const TagRow& row = arrTags_[static_cast<size_t>(r)];
    text += row.name + "|" + row.flag + ",";
  }
  return text;
}

void clsHTMLValidate::Tags(std::string_view value) {
  intLastTag_ = -1;
  while (!value.empty()) {
    const size_t comma = value.find(',');
    if (comma == npos) break;
    const std::string_view item = value.substr(0, comma);
    value.remove_prefix(comma + 1);
    const size_t bar = item.find('|');
    if (bar == npos) throw AutomationError(err::kInvalidCall);
    if (intLastTag_ + 1 >= kMaxTags) throw AutomationError(err::kSubscript);
    TagRow& row = arrTags_[static_cast<size_t>(++intLastTag_)];
    row.name = std::string(item.substr(0, bar));
    row.flag = std::string(item.substr(bar + 1));
  }
}

void clsHTMLValidate::DisplayOptions() {
  auto form = std::make_shared<frmHTMLOptions>();
  RegisterLoadedForm(form);
  form->Load();
  form->Tags(Tags());
  const bool shown = env_.windowing != nullptr && env_.windowing->ShowModal(*form);
  if (shown && !form->Cancelled()) Tags(form->Tags());
  UnregisterLoadedForm(form.get());
}

const ClassTypeInfo& clsHTMLValidate::TypeInfo() const {
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{"clsHTMLValidate",
                                  {
                                      {"HTMLValidate", 1, M::kMethod, {}, V::kInt32},
                                      {"Filename", 2, M::kGetLet, {}, V::kText, V::kText},
                                      {"Backup", 3, M::kGetLet, {}, V::kBool, V::kBool},
                                      {"Tags", 4, M::kGetLet, {}, V::kText, V::kText},
                                      {"ErrorList", 5, M::kGet, {}, V::kObject},
                                      {"DisplayOptions", 6, M::kMethod, {}},
                                  }};
  return info;
}

int32_t clsHTMLValidate::Advise(EventSink sink) { return progress_.AdviseSink(std::move(sink)); }
void clsHTMLValidate::Unadvise(int32_t cookie) { progress_.UnadviseSink(cookie); }

Variant clsHTMLValidate::DoInvoke(const MemberInfo& member, InvokeKind kind,
                                  std::vector<Variant>& a) {
  const bool let = kind == InvokeKind::kPropertyLet;
  switch (member.dispid) {
    case 1:
      return HTMLValidate();
    case 2:
      if (let) return Filename(a[0].ToText()), Variant();
      return Filename();
    case 3:
      if (let) return Backup(a[0].ToBool()), Variant();
      return Backup();
    case 4:
      if (let) return Tags(a[0].ToText()), Variant();
      return Tags();
    case 5:
      return Variant(ObjectRef(errors_));
    case 6:
      return DisplayOptions(), Variant();
  }
  throw AutomationError(err::kNotSupported);
}

}  // namespace vok
