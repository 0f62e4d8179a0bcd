#include "voktools/office_util.h"

#include <chrono>
#include <exception>
#include <thread>
#include <utility>

#include "frame/builtin_classes.h"
#include "frame/with_env.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/library_folder.h"
#include "office/office_calls.h"
#include "platform/office_automation.h"
#include "platform/status.h"
#include "platform/windowing.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"

namespace vok {

namespace {

// The quit message posted to a started instance's frame window.
constexpr uint32_t kQuitMessage = 18;
// How often the wait for a macro looks at the marker file, and how often it
// asks whether the instance still answers.
constexpr auto kMarkerLook = std::chrono::milliseconds(10);
constexpr auto kAliveLook = std::chrono::milliseconds(250);
constexpr size_t kTitleLimit = 1023;

const OfficeAddinConverter::Traits kPresentationTraits{
    "PowerPoint.Application",
    "quon.ppt",
    "Presentations",
    false,
    true,
    "QUON.PPT!ExportPresentation",
    "QUON.PPT!ImportPresentation",
    "PP97FrameClass",
    "PP9FrameClass",
};

const OfficeAddinConverter::Traits kWorkbookTraits{
    "Excel.Application",
    "quon.xls",
    "Workbooks",
    true,
    false,
    "QUON.XLS!ExportWorkbook",
    "QUON.XLS!ImportWorkbook",
    "XLMAIN",
    "XLMAIN",
};

}  // namespace

std::string ForegroundWindowTitle() {
  std::optional<std::string> title = CurrentEnv().windowing->ForegroundWindowTitle();
  if (!title) return "*";
  if (title->size() > kTitleLimit) title->resize(kTitleLimit);
  return *title;
}

OfficeAddinConverter::OfficeAddinConverter(Env& env, const Traits& traits)
    : env_(env), traits_(traits) {
  const std::string title = ForegroundWindowTitle();
  common_ = std::make_unique<WithEnv<clsCommon>>(env_);
  Connect();
  if (started_) env_.windowing->BringToForeground(title);
  frame_window_ = FindFrameWindow();
}

OfficeAddinConverter::~OfficeAddinConverter() {
  OfficeCalls ignored;
  ignored.Run([&] { On(addin_).Call("Close"); });
  if (started_ && frame_window_ != 0) {
    env_.windowing->PostMessage(frame_window_, kQuitMessage, 0, 0);
  }
  working_.reset();
  addin_.reset();
  application_.reset();
}

std::string OfficeAddinConverter::AddinPath() const {
  return FindHelperFile(traits_.addin_file, HelperFolders());
}

void OfficeAddinConverter::Connect() {
  OfficeAutomation& office = *env_.office;
  const std::string addin = AddinPath();
  OfficeCalls calls;
  auto show = [&] { calls.Run([&] { On(application_).Let("Visible", Variant(true)); }); };
  auto open_addin = [&] {
    calls.Run([&] {
      ObjectRef collection = Object(On(application_).Get(traits_.collection));
      addin_ = Object(traits_.read_only_is_third
                          ? collection->Call("Open", {Variant(addin), Variant::Missing(),
                                                      Variant(true)})
                          : collection->Call("Open", {Variant(addin), Variant(true)}));
    });
  };

  ObjectRef found;
  if (calls.Check(office.GetRunning(traits_.application_class, &found), found)) {
    application_ = std::move(found);
    show();
    open_addin();
  } else {
    calls.Clear();
    if (calls.Check(office.Create(traits_.application_class, &found), found)) {
      application_ = std::move(found);
      started_ = true;
      show();
      open_addin();
    } else {
      // Why no instance could be started says more than why the add-in
      // could not be opened by one.
      connection_failure_ = calls.message();
      calls.Clear();
      if (calls.Check(office.GetFileObject(addin, &found), found)) {
        addin_ = std::move(found);
        started_ = true;
        calls.Run([&] { application_ = Object(addin_->Get("Application")); });
        show();
      }
    }
  }
  last_failure_message_ = calls.message();
  if (application_) connection_failure_.clear();
  if (!application_ && connection_failure_.empty()) connection_failure_ = calls.message();
}

uint32_t OfficeAddinConverter::FindFrameWindow() {
  try {
    const std::string version = On(application_).Get("Version").ToText();
    const std::string major = version.substr(0, version.find('.'));
    std::string_view window_class;
    if (major == "8") window_class = traits_.frame_class_8;
    if (major == "9") window_class = traits_.frame_class_9;
    if (window_class.empty()) return 0;
    return env_.windowing->FindWindowByClass(std::string(window_class));
  } catch (const std::exception&) {
    return 0;
  }
}

void OfficeAddinConverter::SetDocumentFile(std::string value) {
  document_file_ = std::move(value);
  xml_file_ = Common().strParseFileName(document_file_, 0) +
              Common().strParseFileName(document_file_, 1) + "_" +
              Common().strParseFileName(document_file_, 2) + ".xml";
}

void OfficeAddinConverter::SetXMLFile(std::string value) {
  xml_file_ = std::move(value);
  document_file_ =
      Common().strParseFileName(xml_file_, 0) + Common().strParseFileName(xml_file_, 1);
  if (document_file_.size() < 4) throw AutomationError(err::kInvalidCall);
  document_file_[document_file_.size() - 4] = '.';
}

void OfficeAddinConverter::OpenWorking(bool with_read_only, OfficeCalls& calls) {
  working_.reset();
  calls.Run([&] {
    ObjectRef collection = Object(On(application_).Get(traits_.collection));
    const Variant name(document_file_);
    const Variant writable(false);
    working_ = Object(!with_read_only                ? collection->Call("Open", {name})
                      : traits_.read_only_is_third ? collection->Call(
                                                         "Open", {name, Variant::Missing(), writable})
                                                   : collection->Call("Open", {name, writable}));
  });
}

void OfficeAddinConverter::RunMacro(std::string_view macro, OfficeCalls& calls) {
  const std::string marker = MarkerFile();
  {
    std::unique_ptr<ScratchFile> file;
    Status created = env_.fs->CreateScratch(FolderOf(marker), &file);
    if (created.ok()) created = file->Publish(marker);
    if (created.ok()) created = file->Close();
    if (!created.ok()) calls.Fail("Cannot create " + marker + ": " + created.message());
  }
  const bool ran = calls.Run([&] { On(application_).Call("Run", {Variant(std::string(macro))}); });
  // The macro deletes the marker when it has finished. The wait ends too
  // when the macro could not be run or the instance no longer answers; the
  // marker is then removed here.
  const auto limit = env_.office->TimeLimit();
  const auto start = std::chrono::steady_clock::now();
  auto last_alive_look = start;
  bool waiting = ran;
  while (Common().FileExists(marker)) {
    if (!waiting) {
      Common().DeleteFile(marker);
      break;
    }
    PumpMessages();
    std::this_thread::sleep_for(kMarkerLook);
    const auto now = std::chrono::steady_clock::now();
    if (now - start > limit) {
      calls.Fail("The macro " + std::string(macro) + " did not finish");
      waiting = false;
    } else if (now - last_alive_look > kAliveLook) {
      last_alive_look = now;
      waiting = calls.Run([&] { On(application_).Get("Version"); });
    }
  }
}

int32_t OfficeAddinConverter::Export() {
  if (document_file_.empty() || !Common().FileExists(document_file_)) {
    last_failure_message_ = "No such file: " + document_file_;
    return 1;
  }
  if (Common().FileExists(xml_file_)) Common().DeleteFile(xml_file_);
  OfficeCalls calls;
  OpenWorking(true, calls);
  calls.Run([&] { On(working_).Let("Saved", Variant(false)); });
  calls.Run([&] { On(working_).Call("Save"); });
  if (traits_.export_reopens) {
    calls.Run([&] { On(working_).Call("Close"); });
    OpenWorking(true, calls);
  }
  calls.Clear();
  RunMacro(traits_.export_macro, calls);
  calls.Run([&] { On(working_).Call("Close"); });
  working_.reset();
  last_failure_message_ = calls.message();
  return calls.failed() ? 1 : 0;
}

int32_t OfficeAddinConverter::Import() {
  for (const std::string* file : {&xml_file_, &document_file_}) {
    if (file->empty() || !Common().FileExists(*file)) {
      last_failure_message_ = "No such file: " + *file;
      return 1;
    }
  }
  OfficeCalls calls;
  OpenWorking(false, calls);
  RunMacro(traits_.import_macro, calls);
  calls.Run([&] { On(working_).Call("Save"); });
  calls.Run([&] { On(working_).Call("Close"); });
  working_.reset();
  last_failure_message_ = calls.message();
  return calls.failed() ? 1 : 0;
}

clsPPTUtil::clsPPTUtil() : clsPPTUtil(CurrentEnv()) {}
clsPPTUtil::clsPPTUtil(Env& env) : OfficeAddinConverter(env, kPresentationTraits) {}

clsXLSUtil::clsXLSUtil() : clsXLSUtil(CurrentEnv()) {}
clsXLSUtil::clsXLSUtil(Env& env) : OfficeAddinConverter(env, kWorkbookTraits) {}

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsPPTUtil>() {
  using C = clsPPTUtil;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "clsPPTUtil",
      {
          T::Property("PPTFile", 1, M::kLetGet, V::kText, &C::PPTFile, &C::PPTFile),
          T::Property("XMLFile", 3, M::kLetGet, V::kText, &C::XMLFile, &C::XMLFile),
          T::Method("PPT2XML", 5, {}, V::kInt32, &C::PPT2XML),
          T::Method("XML2PPT", 6, {}, V::kInt32, &C::XML2PPT),
      }};
  return info;
}

const ClassTypeInfo& clsPPTUtil::TypeInfo() const { return detail::TypeInfoOf<clsPPTUtil>(); }

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsXLSUtil>() {
  using C = clsXLSUtil;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "clsXLSUtil",
      {
          T::Property("XLSFile", 1, M::kLetGet, V::kText, &C::XLSFile, &C::XLSFile),
          T::Property("XMLFile", 3, M::kLetGet, V::kText, &C::XMLFile, &C::XMLFile),
          T::Method("XLS2XML", 5, {}, V::kInt32, &C::XLS2XML),
          T::Method("XML2XLS", 6, {}, V::kInt32, &C::XML2XLS),
      }};
  return info;
}

const ClassTypeInfo& clsXLSUtil::TypeInfo() const { return detail::TypeInfoOf<clsXLSUtil>(); }

}  // namespace vok
