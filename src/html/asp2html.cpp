#include "voktools/asp2html.h"

#include <algorithm>
#include <cstring>

#include "common/buffered_output.h"
#include "common/io_failure.h"
#include "common/progress.h"
#include "common/replacement_file.h"
#include "common/text_window.h"
#include "html/page_scanner.h"
#include "html/script_file.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/ascii.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"
#include "voktools/messages.h"

namespace vok {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kAttribute = "ASP2HTML=\"";
constexpr size_t npos = std::string_view::npos;

// What follows "<!-- ASP2HTML" in a marker, up to its "-->" (else its first
// word), without the spaces around it: the placeholder's number, as a rule.
std::string MarkerLabel(std::string_view marker) {
  if (marker.starts_with(kScriptMarker)) marker.remove_prefix(kScriptMarker.size());
  while (!marker.empty() && marker.front() == ' ') marker.remove_prefix(1);
  const size_t close = marker.find("-->");
  marker =
      close != npos ? marker.substr(0, close) : marker.substr(0, marker.find_first_of(" \r\n"));
  while (!marker.empty() && marker.back() == ' ') marker.remove_suffix(1);
  return std::string(marker.substr(0, 64));
}

// An output that replaces its target only when complete.
struct PendingOutput {
  ReplacementFile file;
  std::unique_ptr<BufferedOutput> out;
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
    line.replace(p, kEscaped.size(), kScriptMarker);
    // After the second space from the end of "ASP2HTML": the closing, when
    // exactly one word (the number) stands between.
    size_t i = p + kScriptMarker.size();
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
  out->out = std::make_unique<BufferedOutput>(out->file);
  return true;
}

// Drops whatever outputs are still pending (a failed run).
void Abandon(std::vector<PendingOutput*> outputs) {
  for (PendingOutput* p : outputs) {
    p->out.reset();
    p->file.Abandon();
  }
}

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

bool clsASP2HTML::Begin(const std::string& input, bool html_input, NameSource source,
                        std::unique_ptr<ReadableFile>* file) {
  errors_->Clear();
  if (input.empty()) {
    AddError(std::string(
        Message(html_input ? MessageId::kHtmlNoInputFile : MessageId::kAspNoInputFile)));
    return false;
  }
  AddError((html_input ? "HTML2ASP : " : "ASP2HTML : ") + input);
  const bool missing = source == NameSource::kPage ? htm_file_.empty() || scr_file_.empty()
                                                   : asp_file_.empty() || scr_file_.empty();
  if (missing) MakeFileNames(source);
  std::string why;
  if (OpenInput(*env_.fs, input, file, &why)) return true;
  AddUnableToOpen(input, why);
  return false;
}

void clsASP2HTML::AddUnableToOpen(const std::string& path, const std::string& why) {
  AddError(std::string(Message(MessageId::kUnableToOpenFile)) + path + std::string(kCRLF) + why);
}

int32_t clsASP2HTML::ASP2HTML() {
  std::unique_ptr<ReadableFile> page_file;
  if (!Begin(asp_file_, false, NameSource::kPage, &page_file)) return 1;
  std::string why;
  // Both outputs hold the page's content: they are as private as the page.
  const OutputOptions side = SideFileOf(asp_file_);
  PendingOutput html, script;
  if (!StartOutput(env_, htm_file_, side, &html, &why)) {
    AddUnableToOpen(htm_file_, why);
    return 1;
  }
  if (!StartOutput(env_, scr_file_, side, &script, &why)) {
    Abandon({&html});
    AddUnableToOpen(scr_file_, why);
    return 1;
  }
  try {
    const int64_t length = page_file->Size();
    TextWindow w;
    w.Reset(page_file.get(), length, chunk_);
    Protector scanner(*html.out, *script.out);
    ProgressMeter progress;
    // Bytes kept before and after the part scanned: enough for the longest
    // look back ("</script>") and ahead ("<script").
    constexpr size_t kBehind = 16, kAhead = 8;
    size_t start = 0;
    while (true) {
      Check(w.Refill());
      if (int16_t percent; progress.Grew(w.read_total(), length, &percent)) progress_.Raise(percent);
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
  mismatches_.clear();
  std::unique_ptr<ReadableFile> html_file;
  if (!Begin(htm_file_, true, NameSource::kHtml, &html_file)) return 1;
  std::string why;
  PendingOutput page;
  // The page rebuilt keeps its own attributes, or takes its HTML file's.
  OutputOptions rebuilt = InPlace();
  rebuilt.model = htm_file_;
  if (!StartOutput(env_, asp_file_, rebuilt, &page, &why)) {
    AddUnableToOpen(asp_file_, why);
    return 1;
  }
  std::unique_ptr<ReadableFile> script_file;
  if (!OpenInput(fs, scr_file_, &script_file, &why)) {
    Abandon({&page});
    AddUnableToOpen(scr_file_, why);
    return 1;
  }
  try {
    ScriptFile script(std::move(script_file));
    LineCounter lines(fs, htm_file_);
    const int64_t length = html_file->Size();
    TextWindow w;
    w.Reset(html_file.get(), length, chunk_);
    ProgressMeter progress;
    std::string line;
    ScriptFile::Block block;
    int64_t hit_clear = 0;    // no "!" or "&" from the window start to here
    int64_t no_eol_from = 0;  // no line end from here to the window end
    int64_t eol_clear = 0;    // no line end from the hit to here
    // Lines without a placeholder, plain or escaped, go out as they are,
    // many at a time; only the lines that hold one are taken apart.
    while (true) {
      Check(w.Refill());
      if (int16_t percent; progress.Grew(w.read_total(), length, &percent)) progress_.Raise(percent);
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
      while ((pos = FindAnchored(line, kScriptMarker, kScriptMarkerAnchor, from)) != npos) {
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
          from = start >= kScriptMarker.size() - 1 ? start - (kScriptMarker.size() - 1) : 0;
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
            FindAnchored(line, kScriptMarker, kScriptMarkerAnchor,
                         start >= kScriptMarker.size() - 1 ? start - (kScriptMarker.size() - 1) : 0);
        if (next != npos && next >= start && next + kScriptMarker.size() <= inserted_end) {
          next = FindAnchored(line, kScriptMarker, kScriptMarkerAnchor,
                              std::max(start, inserted_end + 1 - kScriptMarker.size()));
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
