// voktools-office-worker: one office suite instance, driven through
// LibreOfficeKit, serving the library's requests on a Unix socket.
//
//   voktools-office-worker --folder DIR [--ready-fd N] [--private] [--program DIR]
//
// DIR (mode 0700, made by the caller) holds the socket "socket" and the
// suite's profile "profile" of this instance alone; the worker removes DIR
// when it ends. --private: one client
// only, and the worker ends when that client goes. When it listens, the
// worker writes "ready" (or "failed REASON") and a newline to the ready fd.
//
// Requests and answers are JSON objects, one per line:
//   {"op":"status"}                          -> {"ok":true,"pid":N,"version":"7.4.7.2","documents":N}
//   {"op":"open","path":ABS}                 -> {"ok":true,"doc":N}
//   {"op":"save","doc":N,"path":ABS,"format":"rtf"}
//   {"op":"close","doc":N}
//   {"op":"run","doc":N,"macro":NAME,"script":ABS}
//                                            runs the add-in macro NAME of the
//                                            Python module ABS on document N
//   {"op":"quit"}                            the worker answers, then ends
// Failures: {"ok":false,"error":"..."}. Documents belong to the connection
// that opened them and are dropped when it closes.
#define LOK_USE_UNSTABLE_API
#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/office_channel.h"

namespace {

namespace fs = std::filesystem;
namespace ch = vok::office_channel;
using nlohmann::json;

constexpr const char* kDefaultProgram = "/usr/lib/libreoffice/program";
// A client that stops reading its answers is dropped after this long.
constexpr auto kWriteLimit = std::chrono::seconds(30);
// Where the system's Python keeps the suite's Python bridge, and its prefix.
constexpr const char* kSystemPythonBridge = "/usr/lib/python3/dist-packages/uno.py";
constexpr const char* kSystemPythonPrefix = "/usr";
// The add-in macros' module, as the profile's Basic bridge names it.
constexpr const char* kMacroModule = "quon.py";

struct Options {
  std::string folder;
  std::string program = kDefaultProgram;
  int ready_fd = -1;
  bool private_instance = false;
};

struct Client {
  int fd;
  ch::LineBuffer buffer;
};

struct OpenDocument {
  int client_fd;
  std::string path;
  std::unique_ptr<lok::Document> document;
};

void Report(int fd, const std::string& text);
bool WriteBasicBridge(const std::string& profile);
[[noreturn]] void Fail(const Options& options, const std::string& reason);

class Worker {
 public:
  Worker(Options options, lok::Office* office, int listener)
      : options_(std::move(options)),
        office_(office),
        listener_(listener),
        owner_deadline_(ch::Clock::now() + std::chrono::milliseconds(kOwnerWaitMs)) {
    if (::pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) Fail(options_, "cannot make a pipe");
    wake_fd_ = wake_pipe_[0];
  }

  // Called by the suite's main loop when it has nothing to do for
  // timeout_us (negative: no timer is due). Serves the clients, and goes on
  // serving while requests follow each other: the suite's background work
  // (laying out pages nobody looks at, counting words) waits until no
  // request has come for kQuietMs, so that a batch pays only for its
  // conversions.
  int Poll(int timeout_us) {
    if (!started_) {
      // The suite has started: its first turn of the main loop.
      started_ = true;
      if (!WriteBasicBridge(options_.folder + "/profile")) {
        Fail(options_, "cannot write the profile in " + options_.folder);
      }
      Report(options_.ready_fd, "ready");
    }
    if (serving_) {
      // A main loop inside a request (the suite waiting for something):
      // only the wake-up counts.
      WaitForWake(std::min(timeout_us < 0 ? kNestedWaitMs : timeout_us / 1000, kNestedWaitMs));
      return 0;
    }
    serving_ = true;
    bool served = false;
    int wait_ms = timeout_us < 0 ? -1 : (timeout_us + 999) / 1000;
    for (;;) {
      std::vector<pollfd> polled{{wake_fd_, POLLIN, 0}};
      if (listener_ >= 0) polled.push_back({listener_, POLLIN, 0});
      for (const Client& c : clients_) polled.push_back({c.fd, POLLIN, 0});
      int limit = wait_ms;
      // A private instance whose client never comes (its host died before
      // connecting) does not wait for ever.
      const bool waiting_for_owner = options_.private_instance && clients_.empty();
      if (waiting_for_owner) {
        const int left = MillisecondsUntil(owner_deadline_);
        if (left == 0) End(0);
        limit = limit < 0 ? left : std::min(limit, left);
      }
      const int ready = ::poll(polled.data(), polled.size(), limit);
      if (ready < 0 && errno != EINTR) End(1);
      if (ready <= 0) {
        if (ready == 0 && waiting_for_owner && MillisecondsUntil(owner_deadline_) == 0) End(0);
        break;
      }
      for (const pollfd& p : polled) {
        if (p.revents == 0) continue;
        if (p.fd == wake_fd_) {
          DrainWake();
        } else if (p.fd == listener_) {
          Accept();
        } else {
          ServeClient(p.fd);
          served = true;
        }
      }
      // Woken before any request: the suite has work to do now. Once a
      // request has come, that work waits for the quiet.
      if (!served && polled.front().revents != 0) break;
      if (served) wait_ms = kQuietMs;
    }
    serving_ = false;
    return 0;
  }

  // Called from the suite's threads: the main loop has something to do.
  void Wake() {
    const char byte = 1;
    (void)!::write(wake_pipe_[1], &byte, 1);
  }

 private:
  static constexpr int kOwnerWaitMs = 60000;
  static constexpr int kQuietMs = 20;
  static constexpr int kNestedWaitMs = 10;

  static int MillisecondsUntil(ch::Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - ch::Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
  }

  void WaitForWake(int limit_ms) {
    pollfd p{wake_fd_, POLLIN, 0};
    if (::poll(&p, 1, std::max(limit_ms, 0)) > 0) DrainWake();
  }

  void DrainWake() {
    char bytes[64];
    while (::read(wake_fd_, bytes, sizeof bytes) > 0) {
    }
  }


  void Accept() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) clients_.push_back(Client{fd, {}});
    if (options_.private_instance) {
      // Nobody else may reach a private instance once its client is there.
      ::close(listener_);
      listener_ = -1;
      ::unlink((options_.folder + "/socket").c_str());
    }
  }

  Client* FindClient(int fd) {
    for (Client& c : clients_) {
      if (c.fd == fd) return &c;
    }
    return nullptr;
  }

  void ServeClient(int fd) {
    Client* client = FindClient(fd);
    if (client == nullptr) return;
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
      DropClient(fd);
      return;
    }
    client->buffer.Append(chunk, static_cast<size_t>(n));
    std::string line;
    while (FindClient(fd) != nullptr && FindClient(fd)->buffer.TakeLine(&line)) {
      bool quit = false;
      const json answer = Answer(fd, line, &quit);
      const bool sent = ch::WriteLine(fd, answer.dump(), ch::Clock::now() + kWriteLimit);
      if (quit) End(0);
      if (!sent) DropClient(fd);
    }
  }

  void DropClient(int fd) {
    for (auto it = documents_.begin(); it != documents_.end();) {
      it = it->second.client_fd == fd ? documents_.erase(it) : std::next(it);
    }
    ::close(fd);
    std::erase_if(clients_, [fd](const Client& c) { return c.fd == fd; });
    if (options_.private_instance) End(0);
  }

  json Answer(int fd, const std::string& line, bool* quit) {
    const json request = json::parse(line, nullptr, false);
    if (!request.is_object() || !request.contains("op") || !request["op"].is_string()) {
      return Failure("malformed request");
    }
    const std::string op = request["op"];
    try {
      if (op == "status") return Status();
      if (op == "open") return Open(fd, request.at("path").get<std::string>());
      if (op == "save") {
        return Save(fd, request.at("doc").get<int>(), request.at("path").get<std::string>(),
                    request.at("format").get<std::string>());
      }
      if (op == "close") return Close(fd, request.at("doc").get<int>());
      if (op == "run") {
        return RunMacro(fd, request.at("doc").get<int>(), request.at("macro").get<std::string>(),
                        request.at("script").get<std::string>());
      }
      if (op == "quit") {
        *quit = true;
        return json{{"ok", true}};
      }
    } catch (const json::exception&) {
      return Failure("malformed request");
    }
    return Failure("unknown request " + op);
  }

  json Status() {
    return json{{"ok", true},
                {"pid", ::getpid()},
                {"version", Version()},
                {"documents", documents_.size()},
                {"clients", clients_.size()}};
  }

  std::string Version() {
    if (!version_.empty()) return version_;
    char* info = office_->getVersionInfo();
    if (info == nullptr) return version_;
    const json parsed = json::parse(info, nullptr, false);
    std::free(info);
    if (parsed.is_object()) {
      version_ = parsed.value("ProductVersion", "") + parsed.value("ProductExtension", "");
    }
    return version_;
  }

  json Open(int fd, const std::string& path) {
    if (!fs::is_regular_file(path)) return Failure("no such file: " + path);
    lok::Document* document = office_->documentLoad(ch::FileUrl(path).c_str(), "Language=en-US");
    if (document == nullptr) return Failure("cannot open " + path + SuiteError());
    const int id = ++last_document_;
    documents_[id] = OpenDocument{fd, path, std::unique_ptr<lok::Document>(document)};
    return json{{"ok", true}, {"doc", id}};
  }

  json Save(int fd, int id, const std::string& path, const std::string& format) {
    OpenDocument* open = Find(fd, id);
    if (open == nullptr) return Failure("no such document");
    // Text goes out as UTF-8 whatever the machine's locale.
    const char* filter_options = format == "txt" ? "UTF8" : nullptr;
    if (!open->document->saveAs(ch::FileUrl(path).c_str(), format.c_str(), filter_options)) {
      return Failure("cannot save " + path + " as " + format + SuiteError());
    }
    return json{{"ok", true}};
  }

  // Runs the add-in macro `macro` of the Python module `script` on document
  // id: the module is put in the profile's scripts, and the profile's Basic
  // bridge calls its Dispatch with a request file naming the macro, the
  // document and where the macro writes its result.
  json RunMacro(int fd, int id, const std::string& macro, const std::string& script) {
    OpenDocument* open = Find(fd, id);
    if (open == nullptr) return Failure("no such document");
    if (macro.empty() || !std::all_of(macro.begin(), macro.end(), [](unsigned char c) {
          return std::isalnum(c) != 0;
        })) {
      return Failure("no macro " + macro);
    }
    const std::string scripts = options_.folder + "/profile/user/Scripts/python";
    std::error_code error;
    fs::create_directories(scripts, error);
    if (!error) {
      fs::copy_file(script, scripts + "/" + kMacroModule, fs::copy_options::overwrite_existing,
                    error);
    }
    if (error) return Failure("cannot use the macros of " + script + ": " + error.message());
    const std::string request_path = options_.folder + "/macro-request.json";
    const std::string result_path = options_.folder + "/macro-result.json";
    fs::remove(result_path, error);
    {
      std::ofstream request(request_path, std::ios::binary | std::ios::trunc);
      request << json{{"macro", macro},
                      {"document", ch::FileUrl(open->path)},
                      {"path", open->path},
                      {"result", result_path}}
                     .dump();
      if (!request.flush()) return Failure("cannot write " + request_path);
    }
    // The folder is ours (made with mkdtemp or by name), so it holds no
    // quote that would end the Basic string.
    if (request_path.find('"') != std::string::npos) return Failure("bad folder " + request_path);
    const std::string url = "macro:///VokTools.Bridge.Run(\"" + request_path + "\")";
    const bool ran = office_->runMacro(url.c_str());
    std::ifstream in(result_path, std::ios::binary);
    const json result = json::parse(in, nullptr, false);
    if (!result.is_object()) {
      return Failure("the macro " + macro + " did not finish" + (ran ? "" : SuiteError()));
    }
    if (!result.value("ok", false)) return Failure(result.value("error", "the macro " + macro + " failed"));
    return json{{"ok", true}, {"units", result.value("units", 0)}};
  }

  json Close(int fd, int id) {
    if (Find(fd, id) == nullptr) return Failure("no such document");
    documents_.erase(id);
    return json{{"ok", true}};
  }

  OpenDocument* Find(int fd, int id) {
    const auto it = documents_.find(id);
    return it == documents_.end() || it->second.client_fd != fd ? nullptr : &it->second;
  }

  std::string SuiteError() {
    char* text = office_->getError();
    if (text == nullptr) return "";
    std::string error = text;
    std::free(text);
    return error.empty() ? "" : ": " + error;
  }

  static json Failure(const std::string& error) { return json{{"ok", false}, {"error", error}}; }

  // The suite may crash while it shuts down: the worker leaves without it.
  [[noreturn]] void End(int code) {
    std::error_code ignored;
    fs::remove_all(options_.folder, ignored);
    ::_exit(code);
  }

  Options options_;
  lok::Office* office_;
  int listener_;
  std::vector<Client> clients_;
  std::map<int, OpenDocument> documents_;
  int last_document_ = 0;
  std::string version_;
  ch::Clock::time_point owner_deadline_;
  int wake_pipe_[2] = {-1, -1};
  int wake_fd_ = -1;
  bool started_ = false;
  bool serving_ = false;
};

void Report(int fd, const std::string& text) {
  if (fd < 0) return;
  const std::string line = text + '\n';
  (void)!::write(fd, line.data(), line.size());
  ::close(fd);
}

[[noreturn]] void Fail(const Options& options, const std::string& reason) {
  Report(options.ready_fd, "failed " + reason);
  std::error_code ignored;
  if (!options.folder.empty()) fs::remove_all(options.folder, ignored);
  ::_exit(1);
}

int Listen(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The suite's settings for this instance:
// - no lock files beside the documents (a worker that is killed would leave
//   them behind);
// - no spelling as you type and no collecting of words for completion:
//   nobody types here;
// - the profile says that a version at least as new as this one has already
//   started in it, so that the suite does not run its first-start graphics
//   checks, which take most of a second on every fresh profile.
constexpr const char* kSettings =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseDocumentOOoLockFile" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseDocumentSystemFileLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Linguistic/SpellChecking"><prop oor:name="IsSpellAuto" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/AutoFunction/Completion"><prop oor:name="Enable" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/AutoFunction/Completion"><prop oor:name="CollectWords" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Setup/Product"><prop oor:name="ooSetupLastVersion" oor:op="fuse"><value>999.9</value></prop></item>
</oor:items>
)";

// The Basic library that runs the add-in macros: the suite runs Basic
// macros by URL, and this one hands the request to the Python module.
constexpr const char* kBasicLibraries =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE library:libraries PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "libraries.dtd">
<library:libraries xmlns:library="http://openoffice.org/2000/library" xmlns:xlink="http://www.w3.org/1999/xlink">
 <library:library library:name="VokTools" xlink:href="$(USER)/basic/VokTools/script.xlb/" xlink:type="simple" library:link="false"/>
</library:libraries>
)";
constexpr const char* kBasicLibrary =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE library:library PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "library.dtd">
<library:library xmlns:library="http://openoffice.org/2000/library" library:name="VokTools" library:readonly="false" library:passwordprotected="false">
 <library:element library:name="Bridge"/>
</library:library>
)";
constexpr const char* kBasicBridge =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE script:module PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "module.dtd">
<script:module xmlns:script="http://openoffice.org/2000/script" script:name="Bridge" script:language="StarBasic">
Sub Run(request As String)
  Dim script As Object
  script = createUnoService(&quot;com.sun.star.script.provider.MasterScriptProviderFactory&quot;).createScriptProvider(&quot;&quot;).getScript(&quot;vnd.sun.star.script:quon.py$Dispatch?language=Python&amp;location=user&quot;)
  script.invoke(Array(request), Array(), Array())
End Sub
</script:module>
)";

bool WriteFile(const std::string& path, const char* text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out.flush());
}

bool WriteSettings(const std::string& profile) {
  std::error_code error;
  fs::create_directories(profile + "/user", error);
  return !error && WriteFile(profile + "/user/registrymodifications.xcu", kSettings);
}

// The suite fills a new profile's Basic folder when it starts, and reads
// the folder when Basic is first used: the bridge goes in between.
bool WriteBasicBridge(const std::string& profile) {
  std::error_code error;
  fs::create_directories(profile + "/user/basic/VokTools", error);
  return !error && WriteFile(profile + "/user/basic/script.xlc", kBasicLibraries) &&
         WriteFile(profile + "/user/basic/VokTools/script.xlb", kBasicLibrary) &&
         WriteFile(profile + "/user/basic/VokTools/Bridge.xba", kBasicBridge);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--folder" && has_value) {
      options.folder = argv[++i];
    } else if (arg == "--program" && has_value) {
      options.program = argv[++i];
    } else if (arg == "--ready-fd" && has_value) {
      options.ready_fd = std::atoi(argv[++i]);
    } else if (arg == "--private") {
      options.private_instance = true;
    } else {
      Fail(options, "unknown argument " + arg);
    }
  }
  if (options.folder.empty()) Fail(options, "no --folder");
  ::signal(SIGPIPE, SIG_IGN);

  const std::string profile = options.folder + "/profile";
  if (!WriteSettings(profile)) Fail(options, "cannot write the profile in " + profile);
  // The suite's Python is the system's, installed with the suite's Python
  // bridge; an interpreter that comes first on the PATH (a virtual
  // environment, a Python of the user's own) must not lend it its library.
  if (std::getenv("PYTHONHOME") == nullptr && fs::exists(kSystemPythonBridge)) {
    ::setenv("PYTHONHOME", kSystemPythonPrefix, 1);
  }
  // The suite's main loop on this thread (runLoop below), not on one of
  // its own.
  ::setenv("SAL_LOK_OPTIONS", "unipoll", 1);
  lok::Office* office = lok::lok_cpp_init(options.program.c_str(), ch::FileUrl(profile).c_str());
  if (office == nullptr) Fail(options, "the office suite did not start from " + options.program);

  const int listener = Listen(options.folder + "/socket");
  if (listener < 0) Fail(options, std::string("cannot listen: ") + std::strerror(errno));
  Worker worker(options, office, listener);
  // The suite's main loop runs on this thread and hands it the waiting.
  office->runLoop([](void* data, int timeout_us) { return static_cast<Worker*>(data)->Poll(timeout_us); },
                  [](void* data) { static_cast<Worker*>(data)->Wake(); }, &worker);
  Fail(options, "the office suite's main loop ended");
}
