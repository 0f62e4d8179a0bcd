#include "voktools/doc2rtf.h"

#include <cerrno>
#include <exception>
#include <utility>
#include <vector>

#include "frame/builtin_classes.h"
#include "frame/with_env.h"
#include "platform/env.h"
#include "office/office_calls.h"
#include "platform/office_automation.h"
#include "platform/status.h"
#include "voktools/ascii.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"

namespace vok {

namespace {

constexpr std::string_view kDocSuffix = "_DOC";
// SaveChanges argument of Close and Quit: do not save.
constexpr int16_t kDoNotSaveChanges = 0;

}  // namespace

clsDOC2RTF::clsDOC2RTF() : clsDOC2RTF(CurrentEnv()) {}
clsDOC2RTF::clsDOC2RTF(Env& env) : env_(env), common_(std::make_unique<WithEnv<clsCommon>>(env)) {}
// Releases the references; an instance this object started keeps running.
clsDOC2RTF::~clsDOC2RTF() = default;

clsCommon& clsDOC2RTF::Common() { return *common_; }

std::string clsDOC2RTF::DefaultRTFFile() {
  return Common().strParseFileName(doc_file_, 0) + Common().strParseFileName(doc_file_, 1) +
         "_doc.rtf";
}

std::string clsDOC2RTF::DefaultDOCFile() {
  std::string name = Common().strParseFileName(rtf_file_, 1);
  if (AsciiUpperCopy(name).ends_with(kDocSuffix)) name.resize(name.size() - kDocSuffix.size());
  return Common().strParseFileName(rtf_file_, 0) + name + ".doc";
}

int32_t clsDOC2RTF::DOC2RTF() { return Convert(Direction::kToRTF); }
int32_t clsDOC2RTF::RTF2DOC() { return Convert(Direction::kToDocument); }

int32_t clsDOC2RTF::Convert(Direction direction) {
  last_failure_ = Failure::kNone;
  last_failure_message_.clear();
  application_missing_ = false;
  try {
    return ConvertOrThrow(direction);
  } catch (const std::exception& e) {
    if (last_failure_ == Failure::kNone) last_failure_ = Failure::kNotOpened;
    last_failure_message_ = e.what();
  } catch (...) {
    if (last_failure_ == Failure::kNone) last_failure_ = Failure::kNotOpened;
  }
  return 1;
}

int32_t clsDOC2RTF::ConvertOrThrow(Direction direction) {
  const bool to_rtf = direction == Direction::kToRTF;
  const std::string& source = to_rtf ? doc_file_ : rtf_file_;
  if (source.empty() || !Common().FileExists(source)) {
    last_failure_ = Failure::kNoSource;
    return 1;
  }
  std::string& target = to_rtf ? rtf_file_ : doc_file_;
  if (target.empty()) target = to_rtf ? DefaultRTFFile() : DefaultDOCFile();
  if (Common().FileExists(target)) Common().DeleteFile(target);

  int32_t result = 1;
  OfficeCalls calls;
  OpenInApplication(source, calls);
  if (calls.failed()) {
    if (last_failure_ == Failure::kNone) {
      last_failure_ = Failure::kNotOpened;
      last_failure_message_ = calls.message();
    }
  } else {
    const int16_t format = to_rtf ? kFormatRTF : kFormatDocument;
    const bool saved =
        calls.Run([&] { On(document_).Call("SaveAs", {Variant(target), Variant(format)}); });
    // A document that could not be saved as RTF is closed all the same; one
    // that could not be saved as a document stays open until the instance
    // quits.
    if (saved || to_rtf) {
      OfficeCalls unchecked;
      unchecked.Run([&] { On(document_).Call("Close", {Variant(kDoNotSaveChanges)}); });
    }
    if (saved) {
      result = 0;
    } else {
      last_failure_ = Failure::kNotSaved;
      last_failure_message_ = calls.message();
    }
  }
  if (started_ && quit_) {
    try {
      QuitStarted();
    } catch (const std::exception&) {
      // Not checked: the conversion's result stands.
    }
  }
  return result;
}

void clsDOC2RTF::OpenInApplication(const std::string& source, OfficeCalls& calls) {
  auto show = [&] { calls.Run([&] { On(application_).Let("Visible", Variant(true)); }); };
  auto open = [&] {
    document_.reset();
    calls.Run([&] {
      ObjectRef documents = Object(On(application_).Get("Documents"));
      document_ = Object(documents->Call(
          "Open", {Variant(source), Variant(false), Variant(true), Variant(false)}));
    });
  };
  OfficeAutomation& office = *env_.office;

  calls.Clear();
  ObjectRef application;
  if (calls.Check(office.GetRunning(kApplicationClass, &application), application)) {
    application_ = std::move(application);
    show();
    open();
    return;
  }

  calls.Clear();
  const Status created = office.Create(kApplicationClass, &application);
  if (calls.Check(created, application)) {
    application_ = std::move(application);
    started_ = true;
    show();
    open();
    return;
  }
  const std::string why_not_started = calls.message();
  application_missing_ = created.code() == ENOENT;

  calls.Clear();
  ObjectRef document;
  if (calls.Check(office.GetFileObject(source, &document), document)) {
    document_ = std::move(document);
    started_ = true;
    // Never the instance an earlier conversion used: that one may be the
    // user's own.
    application_.reset();
    calls.Run([&] { application_ = Object(document_->Get("Application")); });
    show();
    return;
  }
  // Why no instance could be started says more than why the file could not
  // be opened by one.
  last_failure_ = Failure::kNoApplication;
  last_failure_message_ = why_not_started;
}

void clsDOC2RTF::QuitStarted() {
  // The flag is cleared whether or not the quit works: an instance that
  // cannot be quit is not one a later conversion should quit instead.
  started_ = false;
  ObjectRef application = std::move(application_);
  document_.reset();
  On(application).Call("Quit", {Variant(kDoNotSaveChanges)});
}

void clsDOC2RTF::StartBatch() { quit_ = false; }

void clsDOC2RTF::EndBatch() {
  quit_ = true;
  if (started_) QuitStarted();
}

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsDOC2RTF>() {
  using C = clsDOC2RTF;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "clsDOC2RTF",
      {
          T::Property("DOCFile", 1, M::kLetGet, V::kText, &C::DOCFile, &C::DOCFile),
          T::Property("RTFFile", 2, M::kLetGet, V::kText, &C::RTFFile, &C::RTFFile),
          T::Method("DOC2RTF", 3, {}, V::kInt32, &C::DOC2RTF),
          T::Method("RTF2DOC", 4, {}, V::kInt32, &C::RTF2DOC),
          T::Method("StartBatch", 5, {}, V::kEmpty, &C::StartBatch),
          T::Method("EndBatch", 6, {}, V::kEmpty, &C::EndBatch),
      }};
  return info;
}

const ClassTypeInfo& clsDOC2RTF::TypeInfo() const { return detail::TypeInfoOf<clsDOC2RTF>(); }

}  // namespace vok
