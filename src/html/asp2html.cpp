#include "voktools/asp2html.h"

#include <algorithm>

#include "frame/builtin_classes.h"
#include "common/buffered_output.h"
#include "common/io_failure.h"
#include "common/progress.h"
#include "common/replacement_file.h"
#include "common/text_window.h"
#include "frame/with_env.h"
#include "html/page_restorer.h"
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
constexpr size_t npos = std::string_view::npos;

// An output that replaces its target only when complete.
struct PendingOutput {
  ReplacementFile file;
  std::unique_ptr<BufferedOutput> out;
};

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

clsASP2HTML::clsASP2HTML() : clsASP2HTML(CurrentEnv()) {}
clsASP2HTML::clsASP2HTML(Env& env) : env_(env), errors_(Collection::Create()) {}
clsASP2HTML::~clsASP2HTML() { errors_->Clear(); }

std::string clsASP2HTML::GetError(int32_t lngErrPtr) const {
  if (lngErrPtr < 1 || lngErrPtr > errors_->Count()) return {};
  return errors_->Item(lngErrPtr).ToText();
}

void clsASP2HTML::AddError(std::string text) { errors_->Add(Variant(std::move(text))); }

void clsASP2HTML::MakeFileNames(NameSource source) {
  WithEnv<clsCommon> common(env_);
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
    Restorer::Listener listener{
        [&](std::string text) { AddError(std::move(text)); },
        [&](Mismatch m) { mismatches_.push_back(std::move(m)); },
        [&](int64_t offset) { return lines.NumberAt(offset); },
        [&] {
          int16_t percent;
          if (progress.Grew(w.read_total(), length, &percent)) progress_.Raise(percent);
        }};
    Restorer(w, script, *page.out, std::move(listener)).Run();
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

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsASP2HTML>() {
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

const ClassTypeInfo& clsASP2HTML::TypeInfo() const { return detail::TypeInfoOf<clsASP2HTML>(); }

int32_t clsASP2HTML::Advise(EventSink sink) { return progress_.AdviseSink(std::move(sink)); }
void clsASP2HTML::Unadvise(int32_t cookie) { progress_.UnadviseSink(cookie); }

}  // namespace vok
