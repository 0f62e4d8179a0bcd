#include "invoke_host.h"

#include <cctype>
#include <istream>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "report.h"
#include "voktools/ascii.h"
#include "voktools/automation_error.h"
#include "voktools/collection.h"
#include "voktools/factory.h"

namespace vok::cli {

namespace {

constexpr int32_t kInternalError = 51;

// A request the host cannot read: answered with error 5.
class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

bool IsBlank(std::string_view line) {
  for (char c : line) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

// The parser's message quotes what it last read, which may be any bytes.
std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  }
  return out;
}

Variant IntegerVariant(int64_t v) {
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
    return Variant(static_cast<int32_t>(v));
  }
  return Variant(static_cast<double>(v));
}

Json ErrorBody(int32_t number, std::string_view description) {
  Json error = Json::object();
  error["number"] = number;
  error["description"] = TextToJson(description);
  return error;
}

const char* const kActions[] = {"create", "call", "get", "let", "release"};

}  // namespace

InvokeHost::InvokeHost(std::istream& in, std::ostream& out, Factory factory)
    : in_(in), out_(out), factory_(std::move(factory)) {
  if (!factory_) factory_ = [](std::string_view name) { return CreateObject(name); };
}

InvokeHost::~InvokeHost() {
  for (auto& [number, slot] : objects_) {
    // A Collection a request made hold itself (directly or through another
    // Collection) would keep itself alive: empty the ones the host still
    // holds so that every object is freed.
    if (auto* list = dynamic_cast<Collection*>(slot.object.get())) list->Clear();
    if (!slot.cookie) continue;
    // The object may outlive the host (held inside another object); its
    // sink must not call into a host that is gone.
    try {
      slot.object->Unadvise(*slot.cookie);
    } catch (const std::exception&) {
    }
  }
}

void InvokeHost::Run() {
  std::string line;
  // Nobody would learn the outcome of further calls once the output fails.
  while (out_ && std::getline(in_, line)) HandleLine(line);
}

void InvokeHost::HandleLine(std::string_view line) {
  if (IsBlank(line)) return;
  Json response = Json::object();
  response["id"] = nullptr;
  Json body;
  try {
    Json request;
    try {
      request = Json::parse(line);
    } catch (const Json::parse_error& e) {
      throw BadRequest("not JSON: " + Printable(e.what()));
    }
    if (!request.is_object()) throw BadRequest("a request is a JSON object");
    if (auto id = request.find("id"); id != request.end()) response["id"] = *id;
    body = Handle(request);
    response["ok"] = true;
  } catch (const BadRequest& e) {
    response["ok"] = false;
    body = {{"error", ErrorBody(err::kInvalidCall, std::string("Invalid request: ") + e.what())}};
  } catch (const AutomationError& e) {
    response["ok"] = false;
    body = {{"error", ErrorBody(e.number(), e.description())}};
  } catch (const std::exception& e) {
    response["ok"] = false;
    body = {{"error", ErrorBody(kInternalError, std::string("Internal error: ") + e.what())}};
  }
  for (auto& [key, value] : body.items()) response[key] = std::move(value);
  WriteLine(response);
}

Json InvokeHost::Handle(const Json& request) {
  const char* action = nullptr;
  for (const char* name : kActions) {
    if (!request.contains(name)) continue;
    if (action != nullptr) {
      throw BadRequest(std::string("\"") + action + "\" and \"" + name + "\" in one request");
    }
    action = name;
  }
  if (action == nullptr)
    throw BadRequest("no \"create\", \"call\", \"get\", \"let\" or \"release\"");
  std::string_view a = action;
  if (a == "create") return Create(request);
  if (a == "release") return Release(request);
  InvokeKind kind = a == "call"  ? InvokeKind::kMethod
                    : a == "get" ? InvokeKind::kPropertyGet
                                 : InvokeKind::kPropertyLet;
  return Invoke(request, kind, request.at(action));
}

Json InvokeHost::Create(const Json& request) {
  std::optional<std::string> name = TextFromJson(request.at("create"));
  if (!name) throw BadRequest("\"create\" takes a class name");
  ObjectRef object = EqualsIgnoreCase(*name, "Collection") ? Collection::Create() : factory_(*name);
  if (!object) throw AutomationError(err::kCannotCreateObject);
  Json body = Json::object();
  body["object"] = Adopt(object);
  return body;
}

Json InvokeHost::Invoke(const Json& request, InvokeKind kind, const Json& member) {
  std::optional<std::string> name = TextFromJson(member);
  if (!name) throw BadRequest("a member name is a string");
  // A copy: the call may adopt further objects while it runs.
  ObjectRef object = Lookup(ObjectNumber(request));
  std::vector<Variant> args = ArgsFromJson(request);

  const MemberInfo* info = object->TypeInfo().Find(*name);
  if (kind == InvokeKind::kPropertyLet) {
    auto value = request.find("value");
    if (value == request.end()) throw BadRequest("\"let\" needs a \"value\"");
    args.push_back(FromJson(*value));
  } else if (info != nullptr) {
    // Output parameters may be left out: they are supplied empty, the way a
    // caller passes a fresh variable, with omitted arguments before them.
    for (size_t i = 0; i < info->params.size(); ++i) {
      const ParamInfo& p = info->params[i];
      if (!p.out || p.param_array || i < args.size()) continue;
      args.resize(i, Variant::Missing());
      args.emplace_back();
    }
  }

  Variant result = object->Invoke(*name, kind, args);

  Json body = Json::object();
  body["result"] = ToJson(result);
  if (info != nullptr && kind != InvokeKind::kPropertyLet) {
    Json byref = Json::object();
    for (size_t i = 0; i < info->params.size() && i < args.size(); ++i) {
      const ParamInfo& p = info->params[i];
      if (p.out && !p.param_array) byref[std::string(p.name)] = ToJson(args[i]);
    }
    if (!byref.empty()) body["byref"] = std::move(byref);
  }
  return body;
}

Json InvokeHost::Release(const Json& request) {
  const Json& flag = request.at("release");
  if (!flag.is_boolean() || !flag.get<bool>()) throw BadRequest("\"release\" takes true");
  int64_t number = ObjectNumber(request);
  auto it = objects_.find(number);
  if (it == objects_.end()) throw AutomationError(err::kObjectRequired);
  Slot slot = std::move(it->second);
  objects_.erase(it);
  numbers_.erase(slot.object.get());
  if (slot.cookie) {
    try {
      slot.object->Unadvise(*slot.cookie);
    } catch (const AutomationError&) {
      // The connection ends with the reference in any case.
    }
  }
  return Json::object();
}

int64_t InvokeHost::Adopt(const ObjectRef& object) {
  if (auto it = numbers_.find(object.get()); it != numbers_.end()) return it->second;
  int64_t number = next_number_++;
  numbers_.emplace(object.get(), number);
  Slot& slot = objects_[number];
  slot.object = object;
  if (!object->EventNames().empty()) {
    auto sink = [this, number](std::string_view event, int32_t, std::vector<Variant>& args) {
      // A failing sink must not fail the call that raised the event.
      try {
        Json line = Json::object();
        line["event"] = TextToJson(event);
        line["object"] = number;
        line["args"] = Json::array();
        for (const Variant& arg : args) line["args"].push_back(ToJson(arg));
        WriteLine(line);
      } catch (const std::exception&) {
      }
    };
    try {
      slot.cookie = object->Advise(sink);
    } catch (const AutomationError&) {
      // An object that refuses the connection still works without events.
    }
  }
  return number;
}

int64_t InvokeHost::ObjectNumber(const Json& request) const {
  auto it = request.find("object");
  if (it == request.end()) throw BadRequest("no \"object\"");
  if (!it->is_number_integer()) throw BadRequest("\"object\" takes an object number");
  if (it->is_number_unsigned() && it->get<uint64_t>() > std::numeric_limits<int64_t>::max()) {
    throw AutomationError(err::kObjectRequired);
  }
  return it->get<int64_t>();
}

const ObjectRef& InvokeHost::Lookup(int64_t number) const {
  auto it = objects_.find(number);
  if (it == objects_.end()) throw AutomationError(err::kObjectRequired);
  return it->second.object;
}

std::vector<Variant> InvokeHost::ArgsFromJson(const Json& request) const {
  std::vector<Variant> args;
  auto it = request.find("args");
  if (it == request.end()) return args;
  if (!it->is_array()) throw BadRequest("\"args\" is an array");
  args.reserve(it->size());
  for (const Json& arg : *it) args.push_back(FromJson(arg));
  return args;
}

Variant InvokeHost::FromJson(const Json& value) const {
  switch (value.type()) {
    case Json::value_t::null:
      return Variant::Missing();
    case Json::value_t::boolean:
      return Variant(value.get<bool>());
    case Json::value_t::number_integer:
      return IntegerVariant(value.get<int64_t>());
    case Json::value_t::number_unsigned: {
      auto v = value.get<uint64_t>();
      if (v <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        return Variant(static_cast<int32_t>(v));
      }
      return Variant(static_cast<double>(v));
    }
    case Json::value_t::number_float:
      return Variant(value.get<double>());
    case Json::value_t::string:
      return Variant(value.get<std::string>());
    case Json::value_t::array: {
      TextArray texts;
      texts.reserve(value.size());
      for (const Json& item : value) {
        std::optional<std::string> text = TextFromJson(item);
        if (!text) throw BadRequest("array arguments hold texts only");
        texts.push_back(std::move(*text));
      }
      return Variant(std::move(texts));
    }
    case Json::value_t::object:
      break;
    default:
      throw BadRequest("unsupported argument");
  }
  if (value.size() == 1) {
    if (auto hex = value.find("hex"); hex != value.end()) {
      std::optional<std::string> text = TextFromJson(value);
      if (!text) throw BadRequest("\"hex\" takes pairs of hex digits");
      return Variant(std::move(*text));
    }
    if (auto bytes = value.find("bytes"); bytes != value.end()) {
      if (!bytes->is_array()) throw BadRequest("\"bytes\" is an array");
      ByteArray out;
      out.reserve(bytes->size());
      for (const Json& b : *bytes) {
        if (!b.is_number_integer() || b.get<int64_t>() < 0 || b.get<int64_t>() > 255) {
          throw BadRequest("\"bytes\" holds integers 0 to 255");
        }
        out.push_back(static_cast<uint8_t>(b.get<int64_t>()));
      }
      return Variant(std::move(out));
    }
    if (auto ref = value.find("object"); ref != value.end()) {
      if (ref->is_null()) return Variant::Nothing();
      return Variant(Lookup(ObjectNumber(value)));
    }
  }
  throw BadRequest("an object argument is {\"object\":N}, {\"bytes\":[..]} or {\"hex\":\"..\"}");
}

Json InvokeHost::ToJson(const Variant& value) {
  switch (value.type()) {
    case VarType::kEmpty:
    case VarType::kMissing:
      return nullptr;
    case VarType::kBool:
      return *value.get_if<bool>();
    case VarType::kInt16:
      return *value.get_if<int16_t>();
    case VarType::kInt32:
      return *value.get_if<int32_t>();
    case VarType::kDouble:
      return *value.get_if<double>();
    case VarType::kText:
      return TextToJson(*value.get_if<std::string>());
    case VarType::kBytes: {
      Json bytes = Json::array();
      for (uint8_t b : *value.get_if<ByteArray>()) bytes.push_back(b);
      return {{"bytes", std::move(bytes)}};
    }
    case VarType::kTextArray: {
      Json texts = Json::array();
      for (const std::string& t : *value.get_if<TextArray>()) texts.push_back(TextToJson(t));
      return texts;
    }
    case VarType::kObject:
      return ObjectToJson(*value.get_if<ObjectRef>());
    case VarType::kVariant:
      break;
  }
  throw std::logic_error("a value of no known type");
}

Json InvokeHost::ObjectToJson(const ObjectRef& object) {
  Json j = Json::object();
  if (!object) {
    j["object"] = nullptr;
    return j;
  }
  j["object"] = Adopt(object);
  j["class"] = TextToJson(object->ClassName());
  const auto* collection = dynamic_cast<const Collection*>(object.get());
  if (collection == nullptr || !expanding_.insert(collection).second) return j;
  struct Done {
    std::set<const Dispatch*>& set;
    const Dispatch* item;
    ~Done() { set.erase(item); }
  } done{expanding_, collection};
  Json items = Json::array();
  for (int32_t i = 1; i <= collection->Count(); ++i) items.push_back(ToJson(collection->Item(i)));
  j["items"] = std::move(items);
  return j;
}

void InvokeHost::WriteLine(const Json& line) {
  out_ << DumpLine(line) << '\n';
  FlushReport(out_);
}

}  // namespace vok::cli
