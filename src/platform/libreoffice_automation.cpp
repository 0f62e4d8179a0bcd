#include "platform/libreoffice_automation.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/library_folder.h"
#include "platform/office_channel.h"
#include "voktools/automation_error.h"
#include "voktools/dispatch.h"

extern char** environ;

namespace vok {

namespace {

namespace fs = std::filesystem;
namespace ch = office_channel;
using nlohmann::json;

constexpr const char* kWorkerName = "voktools-office-worker";
constexpr const char* kSuitePackage = "libreoffice-writer";
// How long an ended instance may take to leave before it is killed.
constexpr auto kExitGrace = std::chrono::seconds(5);

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The applications of the suite, by class name.
enum class OfficeKind { kWord, kPresentation, kWorkbook };

struct KindInfo {
  OfficeKind kind;
  std::string_view class_name;
  std::string_view collection;  // the application's collection of documents
  // The suite's program of this kind (a file in its program folder) and the
  // Debian package that installs it.
  std::string_view program;
  std::string_view package;
};

constexpr KindInfo kKinds[] = {
    {OfficeKind::kWord, "Word.Application", "Documents", "libswlo.so", "libreoffice-writer"},
    {OfficeKind::kPresentation, "PowerPoint.Application", "Presentations", "libsdlo.so",
     "libreoffice-impress"},
    {OfficeKind::kWorkbook, "Excel.Application", "Workbooks", "libsclo.so", "libreoffice-calc"},
};

// The suite's Python scripts, which run the add-in macros.
constexpr std::string_view kMacroProgram = "pythonscript.py";
constexpr std::string_view kMacroPackage = "libreoffice-script-provider-python";

// The suite's program of kind, and the macros for the kinds that run them,
// are installed; else what to install.
Status CheckInstalled(const std::string& program_folder, const KindInfo& kind) {
  std::vector<std::pair<std::string_view, std::string_view>> needed{{kind.program, kind.package}};
  if (kind.kind != OfficeKind::kWord) needed.emplace_back(kMacroProgram, kMacroPackage);
  for (const auto& [file, package] : needed) {
    if (::access((program_folder + "/" + std::string(file)).c_str(), R_OK) != 0) {
      return Status::Error(ENOENT, "LibreOffice lacks " + std::string(kind.class_name) +
                                       " here: install the Debian package " +
                                       std::string(package) +
                                       " (apt-get install --no-install-recommends " +
                                       std::string(package) + ")");
    }
  }
  return Status::OK();
}

const KindInfo* FindApplicationKind(std::string_view class_name) {
  for (const KindInfo& k : kKinds) {
    if (SameText(class_name, k.class_name)) return &k;
  }
  return nullptr;
}

const KindInfo& Info(OfficeKind kind) { return kKinds[static_cast<int>(kind)]; }

std::string LowerExtension(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return extension;
}

// The application that opens a file, by its extension.
OfficeKind KindOfFile(const std::string& path) {
  const std::string extension = LowerExtension(path);
  for (std::string_view e : {".ppt", ".pptx", ".pps", ".ppsx", ".odp", ".fodp"}) {
    if (extension == e) return OfficeKind::kPresentation;
  }
  for (std::string_view e : {".xls", ".xlsx", ".xlsm", ".ods", ".fods", ".csv"}) {
    if (extension == e) return OfficeKind::kWorkbook;
  }
  return OfficeKind::kWord;
}

std::string Seconds(std::chrono::milliseconds limit) {
  return DoubleToText(static_cast<double>(limit.count()) / 1000.0) + " s";
}

std::string FindWorker() {
  if (const char* set = std::getenv("VOKTOOLS_OFFICE_WORKER"); set != nullptr && *set != '\0') {
    return set;
  }
  // The helper folders, then the folder of the running program.
  std::vector<std::string> folders = HelperFolders();
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) folders.push_back(self.parent_path().string());
  return FindHelperFile(kWorkerName, folders, /*executable=*/true);
}

std::string EnvFolder(const char* name) {
  const char* value = std::getenv(name);
  std::error_code error;
  return value != nullptr && *value == '/' && fs::is_directory(value, error) ? value : "";
}

// A folder that only this user may enter, or why it is not one.
Status CheckPrivate(const std::string& folder) {
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0) return Status::FromErrno(errno);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    return Status::Error(EPERM, folder + " is not a private folder of this user");
  }
  return Status::OK();
}

// Waits until process pid has ended (reaping it when it is our child);
// false when it still runs at the deadline.
bool WaitForEnd(pid_t pid, ch::Clock::time_point deadline) {
  for (;;) {
    int status;
    const pid_t rc = ::waitpid(pid, &status, WNOHANG);
    if (rc == pid) return true;
    if (rc < 0 && errno == ECHILD && ::kill(pid, 0) != 0 && errno == ESRCH) return true;
    if (ch::Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The worker a shared instance's folder records, when that process still
// runs the worker program; 0 otherwise (never a process that has taken the
// number since).
pid_t RecordedWorker(const std::string& folder, const std::string& worker) {
  std::ifstream in(folder + "/pid");
  long number = 0;
  if (!(in >> number) || number <= 1) return 0;
  const pid_t pid = static_cast<pid_t>(number);
  std::error_code error;
  std::string exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string();
  if (error) return 0;
  constexpr std::string_view kDeleted = " (deleted)";  // the program was rebuilt meanwhile
  if (exe.ends_with(kDeleted)) exe.resize(exe.size() - kDeleted.size());
  return fs::path(exe).filename() == fs::path(worker).filename() ? pid : 0;
}

void EndProcess(pid_t pid, ch::Clock::time_point deadline) {
  if (pid <= 0) return;
  if (!WaitForEnd(pid, deadline)) {
    ::kill(pid, SIGKILL);
    WaitForEnd(pid, ch::Clock::now() + kExitGrace);
  }
}

int ConnectTo(const std::string& socket_path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// Starts a worker in folder (made private by the caller) and waits until it
// listens. The worker is in a session of its own, away from the terminal's
// signals; its output goes to a log in the folder.
Status LaunchWorker(const OfficeSettings& settings, const std::string& folder, bool private_instance,
                    pid_t* pid) {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return Status::FromErrno(errno);
  constexpr int kReadyFd = 3;
  std::vector<std::string> argv = {settings.worker, "--folder", folder, "--ready-fd",
                                   std::to_string(kReadyFd), "--program", settings.program_folder};
  if (private_instance) argv.push_back("--private");
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);

  const std::string log = folder + "/log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_adddup2(&actions, ready[1], kReadyFd);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  const int rc = ::posix_spawn(pid, settings.worker.c_str(), &actions, &attributes, args.data(),
                               environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(ready[1]);
  if (rc != 0) {
    ::close(ready[0]);
    return Status::Error(rc, "cannot start " + settings.worker + ": " + std::strerror(rc));
  }

  ch::LineBuffer buffer;
  std::string line;
  const auto start_limit = std::max<std::chrono::milliseconds>(settings.time_limit,
                                                               OfficeSettings::kStartAllowance);
  const auto deadline = ch::Clock::now() + start_limit;
  const ch::ReadResult result = ch::ReadLine(ready[0], buffer, deadline, &line);
  ::close(ready[0]);
  if (result == ch::ReadResult::kLine && line == "ready") return Status::OK();
  ::kill(*pid, SIGKILL);
  WaitForEnd(*pid, ch::Clock::now() + kExitGrace);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  if (result == ch::ReadResult::kTimeout) {
    return Status::Error(ETIMEDOUT,
                         "the office suite did not start within " + Seconds(start_limit));
  }
  return Status::Error(EIO, "the office suite did not start" +
                                (line.rfind("failed ", 0) == 0 ? ": " + line.substr(7) : ""));
}

}  // namespace

// One connection to a worker. Every request has the time limit; an instance
// that dies or does not answer in time is not used again (and, when this
// connection started it, it is killed).
class OfficeInstance {
 public:
  OfficeInstance(int fd, pid_t own_pid, std::string own_folder, std::chrono::milliseconds limit)
      : fd_(fd), own_pid_(own_pid), own_folder_(std::move(own_folder)), limit_(limit) {}
  ~OfficeInstance() { Release(false); }
  OfficeInstance(const OfficeInstance&) = delete;
  OfficeInstance& operator=(const OfficeInstance&) = delete;

  // The answer to request; AutomationError when the instance fails or the
  // suite refuses.
  json Call(const json& request) {
    if (fd_ < 0) {
      throw AutomationError(office_err::kServerUnavailable, "The office instance has ended");
    }
    const auto deadline = ch::Clock::now() + limit_;
    std::string line;
    ch::ReadResult result = ch::ReadResult::kError;
    if (ch::WriteLine(fd_, request.dump(), deadline)) {
      result = ch::ReadLine(fd_, buffer_, deadline, &line);
    } else if (ch::Clock::now() >= deadline) {
      result = ch::ReadResult::kTimeout;
    }
    if (result != ch::ReadResult::kLine) {
      Release(true);
      throw AutomationError(office_err::kServerUnavailable,
                            result == ch::ReadResult::kTimeout
                                ? "The office instance did not answer within " + Seconds(limit_)
                                : "The office instance ended");
    }
    json answer = json::parse(line, nullptr, false);
    if (!answer.is_object()) {
      Release(true);
      throw AutomationError(office_err::kServerUnavailable, "The office instance answered nonsense");
    }
    if (!answer.value("ok", false)) {
      throw AutomationError(office_err::kCommandFailed, answer.value("error", "Command failed"));
    }
    return answer;
  }

  // Ends the instance: asks it to quit and, when it is ours, waits for it.
  void Quit() {
    if (fd_ < 0) {
      throw AutomationError(office_err::kServerUnavailable, "The office instance has ended");
    }
    Call(json{{"op", "quit"}});
    Release(false);
  }

  // Whether calls can still reach the instance.
  bool alive() const { return fd_ >= 0; }

  // The documents opened through this connection and not closed, oldest
  // first.
  struct OpenedDocument {
    int id;
    std::string path;
  };
  const std::vector<OpenedDocument>& opened() const { return opened_; }
  void Opened(int id, std::string path) { opened_.push_back({id, std::move(path)}); }
  void Closed(int id) {
    std::erase_if(opened_, [id](const OpenedDocument& d) { return d.id == id; });
  }

  pid_t pid() {
    if (own_pid_ > 0) return own_pid_;
    if (known_pid_ == 0 && fd_ >= 0) known_pid_ = Call(json{{"op", "status"}}).value("pid", 0);
    return known_pid_;
  }

 private:
  // Drops the connection; a worker of our own ends with it (at once when
  // kill, as after a failure).
  void Release(bool kill) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (own_pid_ > 0) {
      if (kill) ::kill(own_pid_, SIGKILL);
      EndProcess(own_pid_, ch::Clock::now() + kExitGrace);
      own_pid_ = 0;
    }
    if (!own_folder_.empty()) {
      std::error_code ignored;
      fs::remove_all(own_folder_, ignored);
      own_folder_.clear();
    }
  }

  int fd_;
  pid_t own_pid_;
  std::string own_folder_;
  std::chrono::milliseconds limit_;
  ch::LineBuffer buffer_;
  pid_t known_pid_ = 0;
  std::vector<OpenedDocument> opened_;
};

using InstanceRef = std::shared_ptr<OfficeInstance>;

namespace {

// The objects share their instance; the last one gone releases it.
class OfficeObject : public Dispatch {
 public:
  explicit OfficeObject(InstanceRef instance) : instance_(std::move(instance)) {}
  OfficeInstance& instance() const { return *instance_; }
  const InstanceRef& instance_ref() const { return instance_; }

 private:
  InstanceRef instance_;
};

// Only closing and quitting without saving: saving is Save and SaveAs.
void RequireNoSave(const Variant& save_changes, const char* member) {
  if (!save_changes.IsMissing() && !save_changes.IsEmpty() && save_changes.ToInt32() != 0) {
    throw AutomationError(err::kInvalidCall,
                          std::string(member) + " saves nothing: SaveChanges must be 0");
  }
}

// The suite's export format for a SaveAs format number and target name.
std::string ExportFormat(int16_t format, const std::string& target) {
  const std::string extension = LowerExtension(target);
  switch (format) {
    case 0:  // the word processor's document: by the target's name
      if (extension == ".docx") return "docx";
      if (extension == ".odt") return "odt";
      return "doc";
    case 2:  // plain text
      return "txt";
    case 6:
      return "rtf";
    case 12:  // Office Open XML
    case 16:
      return "docx";
    case 17:
      return "pdf";
    default:
      throw AutomationError(err::kInvalidCall,
                            "SaveAs format " + std::to_string(format) + " is not supported");
  }
}

// The format a document is saved in by Save: its own, by its name.
std::string OwnFormat(const std::string& path) {
  const std::string extension = LowerExtension(path);
  for (std::string_view own : {".doc", ".docx", ".odt", ".rtf", ".ppt", ".pptx", ".odp", ".xls",
                               ".xlsx", ".ods"}) {
    if (extension == own) return extension.substr(1);
  }
  throw AutomationError(office_err::kCommandFailed,
                        "Cannot save " + path + " in its own format (" + extension + ")");
}

// A file name from the caller, as an absolute local path.
std::string AbsolutePath(const std::string& name) {
  std::error_code error;
  const fs::path path = fs::absolute(NativePath(name), error);
  if (error) throw AutomationError(err::kBadFileNumber, "Bad file name: " + name);
  return path.lexically_normal().string();
}

bool Truth(const Variant& flag) { return !flag.IsMissing() && !flag.IsEmpty() && flag.ToBool(); }

class OfficeDocument : public OfficeObject {
 public:
  OfficeDocument(InstanceRef instance, OfficeKind kind, int id, std::string path, bool read_only,
                 std::weak_ptr<Dispatch> application)
      : OfficeObject(std::move(instance)),
        kind_(kind),
        id_(id),
        path_(std::move(path)),
        read_only_(read_only),
        application_(std::move(application)) {}

  const ClassTypeInfo& TypeInfo() const override {
    using C = OfficeDocument;
    using T = MemberTable<C>;
    using V = VarType;
    static const ClassTypeInfo info{
        "Document",
        {
            T::Get("Application", 1, V::kObject, &C::Application),
            T::Method("SaveAs", 2,
                      {{"FileName", V::kText}, {"FileFormat", V::kVariant, true, true}}, V::kEmpty,
                      &C::SaveAs),
            T::Method("Close", 3, {{"SaveChanges", V::kVariant, true, true}}, V::kEmpty,
                      &C::Close),
            T::Method("Save", 4, {}, V::kEmpty, &C::Save),
            T::Property("Saved", 5, MemberKind::kGetLet, V::kBool, &C::saved, &C::set_saved),
        }};
    return info;
  }

  ObjectRef Application();
  void SaveAs(std::string file_name, Variant file_format) {
    const int16_t format = file_format.IsMissing() ? 0 : file_format.ToInt16();
    const std::string path = AbsolutePath(file_name);
    instance().Call(
        json{{"op", "save"}, {"doc", id_}, {"path", path}, {"format", ExportFormat(format, path)}});
  }
  // Writes the document over its file, in its own format.
  void Save() {
    if (read_only_) {
      throw AutomationError(office_err::kCommandFailed, path_ + " was opened read-only");
    }
    instance().Call(json{{"op", "save"}, {"doc", id_}, {"path", path_}, {"format", OwnFormat(path_)}});
    saved_ = true;
  }
  // Whether the document has no changes to save: remembered; a document is
  // only ever written by Save and SaveAs.
  bool saved() const { return saved_; }
  void set_saved(bool saved) { saved_ = saved; }
  void Close(Variant save_changes) {
    RequireNoSave(save_changes, "Close");
    instance().Call(json{{"op", "close"}, {"doc", id_}});
    instance().Closed(id_);
  }

 private:
  OfficeKind kind_;
  int id_;
  std::string path_;
  bool read_only_;
  bool saved_ = true;
  std::weak_ptr<Dispatch> application_;
};

// An application's Documents, Presentations or Workbooks.
class OfficeDocuments : public OfficeObject {
 public:
  OfficeDocuments(InstanceRef instance, OfficeKind kind, std::weak_ptr<Dispatch> application)
      : OfficeObject(std::move(instance)), kind_(kind), application_(std::move(application)) {}

  const ClassTypeInfo& TypeInfo() const override {
    using C = OfficeDocuments;
    using T = MemberTable<C>;
    using V = VarType;
    static const ClassTypeInfo documents{
        "Documents",
        {T::Method("Open", 1,
                   {{"FileName", V::kText},
                    {"ConfirmConversions", V::kVariant, true, true},
                    {"ReadOnly", V::kVariant, true, true},
                    {"AddToRecentFiles", V::kVariant, true, true}},
                   V::kObject, &C::OpenDocument)}};
    static const ClassTypeInfo presentations{
        "Presentations",
        {T::Method("Open", 1,
                   {{"FileName", V::kText},
                    {"ReadOnly", V::kVariant, true, true},
                    {"Untitled", V::kVariant, true, true},
                    {"WithWindow", V::kVariant, true, true}},
                   V::kObject, &C::OpenPresentation)}};
    static const ClassTypeInfo workbooks{
        "Workbooks",
        {T::Method("Open", 1,
                   {{"FileName", V::kText},
                    {"UpdateLinks", V::kVariant, true, true},
                    {"ReadOnly", V::kVariant, true, true}},
                   V::kObject, &C::OpenWorkbook)}};
    switch (kind_) {
      case OfficeKind::kPresentation:
        return presentations;
      case OfficeKind::kWorkbook:
        return workbooks;
      case OfficeKind::kWord:
        break;
    }
    return documents;
  }

  // Conversions are never confirmed, links are not updated, there is no
  // window and no list of recent files: only ReadOnly counts, and a
  // read-only document cannot be saved over its file.
  ObjectRef OpenDocument(std::string file_name, Variant, Variant read_only, Variant) {
    return OpenFile(file_name, Truth(read_only));
  }
  ObjectRef OpenPresentation(std::string file_name, Variant read_only, Variant, Variant) {
    return OpenFile(file_name, Truth(read_only));
  }
  ObjectRef OpenWorkbook(std::string file_name, Variant, Variant read_only) {
    return OpenFile(file_name, Truth(read_only));
  }
  ObjectRef OpenFile(const std::string& file_name, bool read_only);

 private:
  OfficeKind kind_;
  std::weak_ptr<Dispatch> application_;
};

class OfficeApplication : public OfficeObject {
 public:
  OfficeApplication(OfficeKind kind, InstanceRef instance)
      : OfficeObject(std::move(instance)), kind_(kind) {}

  const ClassTypeInfo& TypeInfo() const override {
    using C = OfficeApplication;
    using T = MemberTable<C>;
    using V = VarType;
    using M = MemberKind;
    const auto common = [](std::string_view collection) {
      return std::vector<MemberInfo>{
          T::Property("Visible", 1, M::kGetLet, V::kBool, &C::visible, &C::set_visible),
          T::Get(collection, 2, V::kObject, &C::Documents),
          T::Get("Version", 3, V::kText, &C::Version),
          T::Method("Quit", 4, {{"SaveChanges", V::kVariant, true, true}}, V::kEmpty, &C::Quit),
      };
    };
    const auto with_run = [&](std::string_view collection) {
      std::vector<MemberInfo> members = common(collection);
      members.push_back(T::Method("Run", 5, {{"MacroName", V::kText}}, V::kEmpty, &C::Run));
      return members;
    };
    static const ClassTypeInfo word{"Application", common("Documents")};
    static const ClassTypeInfo presentation{"Application", with_run("Presentations")};
    static const ClassTypeInfo workbook{"Application", with_run("Workbooks")};
    switch (kind_) {
      case OfficeKind::kPresentation:
        return presentation;
      case OfficeKind::kWorkbook:
        return workbook;
      case OfficeKind::kWord:
        break;
    }
    return word;
  }

  // The suite has no window here: Visible is remembered and changes nothing.
  bool visible() const { return visible_; }
  void set_visible(bool visible) { visible_ = visible; }
  ObjectRef Documents() {
    return std::make_shared<OfficeDocuments>(instance_ref(), kind_, weak_from_this());
  }
  std::string Version() {
    return instance().Call(json{{"op", "status"}}).value("version", std::string());
  }
  void Quit(Variant save_changes) {
    RequireNoSave(save_changes, "Quit");
    instance().Quit();
  }
  // Runs "ADDIN!Macro": a macro of the add-in document ADDIN, open in this
  // instance, on the document opened last after it. An add-in's macros are
  // the Python module of its name beside it (quon.ppt: quon.py).
  void Run(std::string macro_name) {
    const size_t bang = macro_name.find('!');
    const std::string addin = bang == std::string::npos ? "" : macro_name.substr(0, bang);
    const std::string macro = bang == std::string::npos ? macro_name : macro_name.substr(bang + 1);
    const auto& opened = instance().opened();
    const auto found = std::find_if(opened.begin(), opened.end(), [&](const auto& d) {
      return SameText(fs::path(d.path).filename().string(), addin);
    });
    if (found == opened.end()) {
      throw AutomationError(office_err::kCommandFailed,
                            "Cannot run the macro " + macro_name + ": " +
                                (addin.empty() ? "it names no add-in" : addin + " is not open"));
    }
    const auto target = std::find_if(opened.rbegin(), opened.rend(),
                                      [&](const auto& d) { return d.id != found->id; });
    if (target == opened.rend()) {
      throw AutomationError(office_err::kCommandFailed,
                            "Cannot run the macro " + macro_name + ": no document is open");
    }
    const std::string script =
        (fs::path(found->path).parent_path() / fs::path(found->path).stem()).string() + ".py";
    instance().Call(
        json{{"op", "run"}, {"doc", target->id}, {"macro", macro}, {"script", script}});
  }

 private:
  OfficeKind kind_;
  bool visible_ = false;
};

ObjectRef OfficeDocuments::OpenFile(const std::string& file_name, bool read_only) {
  const std::string path = AbsolutePath(file_name);
  const json answer = instance().Call(json{{"op", "open"}, {"path", path}});
  const int id = answer.value("doc", 0);
  instance().Opened(id, path);
  return std::make_shared<OfficeDocument>(instance_ref(), kind_, id, path, read_only,
                                          application_);
}

ObjectRef OfficeDocument::Application() {
  if (ObjectRef application = application_.lock()) return application;
  // Opened by file: the application object is made when first asked for.
  ObjectRef application = std::make_shared<OfficeApplication>(kind_, instance_ref());
  application_ = application;
  return application;
}

// A private folder of a fresh name for a new instance.
Status MakeInstanceFolder(const std::string& runtime_folder, std::string* folder) {
  std::string name =
      runtime_folder + "/voktools-office-" + std::to_string(::geteuid()) + "-XXXXXX";
  if (::mkdtemp(name.data()) == nullptr) return Status::FromErrno(errno);
  *folder = name;
  return Status::OK();
}

}  // namespace

OfficeSettings OfficeSettings::FromEnvironment() {
  OfficeSettings settings;
  settings.worker = FindWorker();
  settings.runtime_folder = EnvFolder("XDG_RUNTIME_DIR");
  if (settings.runtime_folder.empty()) settings.runtime_folder = EnvFolder("TMPDIR");
  if (settings.runtime_folder.empty()) settings.runtime_folder = "/tmp";
  if (const char* limit = std::getenv("VOKTOOLS_OFFICE_TIMEOUT"); limit != nullptr) {
    char* end = nullptr;
    const double seconds = std::strtod(limit, &end);
    if (end != limit && *end == '\0' && seconds > 0 && seconds < 1e6) {
      settings.time_limit = std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    }
  }
  return settings;
}

Status LibreOfficeAutomation::Available() const {
  const std::string& program = settings_.program_folder;
  if (::access((program + "/libmergedlo.so").c_str(), R_OK) != 0 &&
      ::access((program + "/libsofficeapp.so").c_str(), R_OK) != 0) {
    return Status::Error(ENOENT, std::string("LibreOffice is not installed (no ") + program +
                                     "): install the Debian package " + kSuitePackage +
                                     " (apt-get install --no-install-recommends " + kSuitePackage +
                                     ")");
  }
  if (::access(settings_.worker.c_str(), X_OK) != 0) {
    return Status::Error(ENOENT, std::string("the office worker ") + kWorkerName +
                                     " is not installed beside the voktools library (" +
                                     settings_.worker + ")");
  }
  return Status::OK();
}

std::string LibreOfficeAutomation::SharedFolder() const {
  return settings_.runtime_folder + "/voktools-office-" + std::to_string(::geteuid());
}

Status LibreOfficeAutomation::GetRunning(std::string_view class_name, ObjectRef* application) {
  const KindInfo* kind = FindApplicationKind(class_name);
  if (kind == nullptr) {
    return Status::Error(ENOENT, "no office application of class " + std::string(class_name));
  }
  const std::string folder = SharedFolder();
  Status s = CheckPrivate(folder);
  const int fd = s.ok() ? ConnectTo(folder + "/socket") : -1;
  if (fd >= 0) {
    *application = std::make_shared<OfficeApplication>(
        kind->kind, std::make_shared<OfficeInstance>(fd, 0, "", settings_.time_limit));
    return Status::OK();
  }
  // Else the instance this process started, while it runs: a batch goes on
  // with it.
  if (InstanceRef mine = started_.lock(); mine && mine->alive()) {
    *application = std::make_shared<OfficeApplication>(kind->kind, std::move(mine));
    return Status::OK();
  }
  return s.ok() || s.code() == ENOENT ? Status::Error(ENOENT, "no office instance is running") : s;
}

Status LibreOfficeAutomation::Create(std::string_view class_name, ObjectRef* application) {
  const KindInfo* kind = FindApplicationKind(class_name);
  if (kind == nullptr) {
    return Status::Error(ENOENT, "no office application of class " + std::string(class_name));
  }
  if (Status s = Available(); !s.ok()) return s;
  if (Status s = CheckInstalled(settings_.program_folder, *kind); !s.ok()) return s;
  std::string folder;
  if (Status s = MakeInstanceFolder(settings_.runtime_folder, &folder); !s.ok()) return s;
  pid_t pid = 0;
  if (Status s = LaunchWorker(settings_, folder, true, &pid); !s.ok()) return s;
  const int fd = ConnectTo(folder + "/socket");
  auto instance = std::make_shared<OfficeInstance>(fd, pid, folder, settings_.time_limit);
  if (fd < 0) return Status::FromErrno(errno);  // the instance ends with its object
  started_ = instance;
  *application = std::make_shared<OfficeApplication>(kind->kind, std::move(instance));
  return Status::OK();
}

Status LibreOfficeAutomation::GetFileObject(const std::string& path, ObjectRef* document) {
  const KindInfo& kind = Info(KindOfFile(path));
  ObjectRef application;
  if (Status s = Create(kind.class_name, &application); !s.ok()) return s;
  try {
    ObjectRef documents = application->Get(kind.collection).ToObject();
    *document = static_cast<OfficeDocuments&>(*documents).OpenFile(path, true);
  } catch (const AutomationError& e) {
    return Status::Error(EIO, e.description());
  }
  return Status::OK();
}

Status LibreOfficeAutomation::StartShared(OfficeInstanceInfo* info) {
  if (Status s = Available(); !s.ok()) return s;
  const std::string folder = SharedFolder();
  if (SharedInfo(info).ok()) return Status::Error(EEXIST, "an office instance is already running");
  // What is left of an instance that ended without removing its folder.
  if (CheckPrivate(folder).ok()) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  if (::mkdir(folder.c_str(), 0700) != 0) return Status::FromErrno(errno);
  if (Status s = CheckPrivate(folder); !s.ok()) return s;
  pid_t pid = 0;
  if (Status s = LaunchWorker(settings_, folder, false, &pid); !s.ok()) return s;
  // For a stop that finds the instance no longer answering.
  std::ofstream(folder + "/pid") << pid << '\n';
  return SharedInfo(info);
}

Status LibreOfficeAutomation::SharedInfo(OfficeInstanceInfo* info) {
  ObjectRef application;
  if (Status s = GetRunning("Word.Application", &application); !s.ok()) return s;
  try {
    auto& instance = static_cast<OfficeObject&>(*application).instance();
    const json status = instance.Call(json{{"op", "status"}});
    info->pid = status.value("pid", 0);
    info->version = status.value("version", "");
    // Not counting this connection.
    info->clients = status.value("clients", 1) - 1;
    info->documents = status.value("documents", 0);
    info->folder = SharedFolder();
  } catch (const AutomationError& e) {
    return Status::Error(EIO, e.description());
  }
  return Status::OK();
}

Status LibreOfficeAutomation::StopShared() {
  OfficeInstanceInfo info;
  Status asked;
  {
    // An instance that does not answer soon is ended without its answer.
    const auto limit = settings_.time_limit;
    settings_.time_limit = std::min<std::chrono::milliseconds>(limit, kExitGrace);
    asked = SharedInfo(&info);
    settings_.time_limit = limit;
  }
  if (!asked.ok()) {
    const std::string folder = SharedFolder();
    if (!CheckPrivate(folder).ok()) return asked;
    const pid_t pid = RecordedWorker(folder, settings_.worker);
    if (pid != 0) {
      ::kill(pid, SIGTERM);
      ::kill(pid, SIGCONT);  // a stopped process ends only once it runs again
      EndProcess(pid, ch::Clock::now() + kExitGrace);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return pid != 0 ? Status::OK() : Status::Error(ENOENT, "no office instance is running");
  }
  ObjectRef application;
  if (Status s = GetRunning("Word.Application", &application); !s.ok()) return s;
  try {
    application->Call("Quit", {int16_t{0}});
  } catch (const AutomationError&) {
    // It is ended below all the same.
  }
  EndProcess(info.pid, ch::Clock::now() + kExitGrace);
  std::error_code ignored;
  if (CheckPrivate(info.folder).ok()) fs::remove_all(info.folder, ignored);
  return Status::OK();
}

pid_t OfficeWorkerProcess(const Dispatch& object) {
  const auto* office = dynamic_cast<const OfficeObject*>(&object);
  return office == nullptr ? 0 : office->instance().pid();
}

}  // namespace vok
