#include "support/scripted_office.h"

#include <algorithm>
#include <cerrno>

#include "voktools/automation_error.h"
#include "voktools/dispatch.h"

namespace vok::test {

namespace {

constexpr int32_t kAutomationError = 440;

std::string Show(const Variant& v) {
  if (const auto* s = v.get_if<std::string>()) return "\"" + *s + "\"";
  if (const auto* b = v.get_if<bool>()) return *b ? "true" : "false";
  if (const auto* i = v.get_if<int16_t>()) return std::to_string(*i) + "%";
  if (const auto* i = v.get_if<int32_t>()) return std::to_string(*i) + "&";
  if (v.IsObject()) return "<object>";
  if (v.IsMissing()) return "Missing";
  if (v.IsEmpty()) return "Empty";
  return v.ToText();
}

std::string ShowArgs(const std::vector<Variant>& args) {
  std::string text = "(";
  for (size_t i = 0; i < args.size(); ++i) text += (i == 0 ? "" : ", ") + Show(args[i]);
  return text + ")";
}

}  // namespace

struct ScriptedOffice::Instance {
  std::string label;
  bool running = true;
  bool visible = false;
  ObjectRef object;                       // the application
  std::map<std::string, ObjectRef> sets;  // its Documents, Presentations, Workbooks
};

struct ScriptedOffice::Document {
  std::string label;
  std::string file;
  Instance* instance = nullptr;
  bool open = true;
  ObjectRef object;
};

// An application, Documents collection or document of the server.
class ScriptedObject : public Dispatch {
 public:
  enum class Kind { kApplication, kDocuments, kDocument };

  ScriptedObject(ScriptedOffice& server, Kind kind, ScriptedOffice::Instance* instance,
                 ScriptedOffice::Document* document, std::string set = "")
      : server_(server),
        kind_(kind),
        instance_(instance),
        document_(document),
        set_(std::move(set)) {}

  const ClassTypeInfo& TypeInfo() const override {
    using T = MemberTable<ScriptedObject>;
    using M = MemberKind;
    using V = VarType;
    const std::vector<ParamInfo> rest{{"args", V::kVariant, true, true, false, true, {}}};
    auto method = [&](std::string_view name, int32_t id) {
      return T::Method(name, id, rest, V::kVariant,
                       [name](ScriptedObject& o, std::vector<Variant>& a) {
                         return o.Member(name, "", a);
                       });
    };
    auto property = [&](std::string_view name, int32_t id) {
      return T::Property(
          name, id, M::kGetLet, V::kVariant,
          [name](ScriptedObject& o, std::vector<Variant>& a) { return o.Member(name, "", a); },
          [name](ScriptedObject& o, std::vector<Variant>& a) { o.Member(name, " = ", a); });
    };
    static const ClassTypeInfo application{
        "Application",
        {property("Visible", 1), property("Documents", 2), method("Quit", 3),
         property("Version", 4), property("Presentations", 5), property("Workbooks", 6),
         method("Run", 7)}};
    static const ClassTypeInfo documents{"Documents", {method("Open", 1)}};
    static const ClassTypeInfo document{
        "Document",
        {property("Application", 1), method("SaveAs", 2), method("Close", 3), method("Save", 4),
         property("Saved", 5)}};
    switch (kind_) {
      case Kind::kApplication:
        return application;
      case Kind::kDocuments:
        return documents;
      case Kind::kDocument:
        break;
    }
    return document;
  }

 private:
  std::string Label() const {
    if (kind_ == Kind::kDocument) return document_->label;
    if (kind_ == Kind::kDocuments) return instance_->label + "." + set_;
    return instance_->label;
  }

  // A call: recorded, then failed on demand or carried out. let is " = "
  // for a property let.
  Variant Member(std::string_view name, std::string_view let, std::vector<Variant>& args) {
    std::string line = Label() + "." + std::string(name);
    if (!let.empty()) {
      line += " = " + Show(args.at(0));
    } else if (!args.empty() || (!IsSet(name) && name != "Application" && name != "Visible" &&
                                 name != "Version" && name != "Saved")) {
      line += ShowArgs(args);
    }
    const bool gone = !instance_->running || (document_ != nullptr && !document_->open);
    if (server_.Record(line + (gone ? "  ! fails (gone)" : ""), std::string(name)) || gone) {
      throw AutomationError(kAutomationError, std::string(name) + " failed");
    }
    if (name == "Visible") {
      if (!let.empty()) instance_->visible = args.at(0).ToBool();
      return Variant(instance_->visible);
    }
    if (name == "Version") return Variant(server_.version);
    if (IsSet(name)) {
      ObjectRef& set = instance_->sets[std::string(name)];
      if (!set) {
        set = std::make_shared<ScriptedObject>(server_, Kind::kDocuments, instance_, nullptr,
                                               std::string(name));
      }
      return Variant(set);
    }
    if (name == "Run") {
      if (server_.on_run) server_.on_run(args.at(0).ToText());
      return Variant();
    }
    if (name == "Application") return Variant(instance_->object);
    if (name == "Quit") {
      instance_->running = false;
      for (auto& d : server_.documents_) {
        if (d->instance == instance_) d->open = false;
      }
      return Variant();
    }
    if (name == "Open") {
      return Variant(server_.NewDocument(*instance_, args.at(0).ToText()).object);
    }
    if (name == "SaveAs") {
      if (server_.on_save) server_.on_save(args.at(0).ToText(), document_->file);
      return Variant();
    }
    if (name == "Close") document_->open = false;
    return Variant();
  }

  static bool IsSet(std::string_view name) {
    return name == "Documents" || name == "Presentations" || name == "Workbooks";
  }

  ScriptedOffice& server_;
  Kind kind_;
  ScriptedOffice::Instance* instance_;
  ScriptedOffice::Document* document_;
  std::string set_;  // which collection, for kDocuments
};

ScriptedOffice::ScriptedOffice() = default;
ScriptedOffice::~ScriptedOffice() = default;

bool ScriptedOffice::Record(const std::string& line, const std::string& member) {
  const int n = ++calls_[member];
  auto it = fails_.find(member);
  const bool fails = it != fails_.end() && std::any_of(it->second.begin(), it->second.end(),
                                                      [n](int k) { return k == 0 || k == n; });
  transcript_.push_back(line + (fails ? "  ! fails" : ""));
  return fails;
}

ScriptedOffice& ScriptedOffice::Fail(const std::string& member, int nth) {
  fails_[member].push_back(nth);
  return *this;
}

ScriptedOffice::Instance& ScriptedOffice::Start(const std::string& label) {
  auto instance = std::make_unique<Instance>();
  instance->label = label;
  instance->object = std::make_shared<ScriptedObject>(*this, ScriptedObject::Kind::kApplication,
                                                      instance.get(), nullptr);
  instances_.push_back(std::move(instance));
  return *instances_.back();
}

ScriptedOffice::Document& ScriptedOffice::NewDocument(Instance& instance, const std::string& file) {
  auto document = std::make_unique<Document>();
  document->label = "doc" + std::to_string(documents_.size() + 1);
  document->file = file;
  document->instance = &instance;
  document->object = std::make_shared<ScriptedObject>(*this, ScriptedObject::Kind::kDocument,
                                                      &instance, document.get());
  documents_.push_back(std::move(document));
  return *documents_.back();
}

void ScriptedOffice::StartUserInstance() { Start("user"); }

void ScriptedOffice::Kill(const std::string& label) {
  for (auto& i : instances_) {
    if (i->label == label) i->running = false;
  }
}

Status ScriptedOffice::GetRunning(std::string_view class_name, ObjectRef* application) {
  // Like a table of running objects: the first instance registered.
  auto it = std::find_if(instances_.begin(), instances_.end(),
                         [](const auto& i) { return i->running; });
  const bool none = it == instances_.end();
  if (Record("GetRunning(" + std::string(class_name) + ")" + (none ? "  ! none" : ""),
             "GetRunning") ||
      none) {
    return Status::Error(ENOENT, "no instance is running");
  }
  *application = (*it)->object;
  return Status::OK();
}

Status ScriptedOffice::Create(std::string_view class_name, ObjectRef* application) {
  if (Record("Create(" + std::string(class_name) + ")", "Create")) {
    return Status::Error(ENOENT, "the word processor is not installed");
  }
  *application = Start("app" + std::to_string(++started_)).object;
  return Status::OK();
}

Status ScriptedOffice::GetFileObject(const std::string& path, ObjectRef* document) {
  if (Record("GetFileObject(\"" + path + "\")", "GetFileObject")) {
    return Status::Error(ENOENT, "no application opens this file");
  }
  Instance& instance = Start("app" + std::to_string(++started_));
  *document = NewDocument(instance, path).object;
  return Status::OK();
}

std::vector<std::string> ScriptedOffice::Running() const {
  std::vector<std::string> labels;
  for (const auto& i : instances_) {
    if (i->running) labels.push_back(i->label);
  }
  return labels;
}

std::vector<std::string> ScriptedOffice::OpenDocuments() const {
  std::vector<std::string> labels;
  for (const auto& d : documents_) {
    if (d->open && d->instance->running) labels.push_back(d->label);
  }
  return labels;
}

}  // namespace vok::test
