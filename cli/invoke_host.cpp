#include "invoke_host.h"

#include <cctype>
#include <cstdio>
#include <istream>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "invoke_describe.h"
#include "report.h"
#include "voktools/ascii.h"
#include "voktools/automation_error.h"
#include "voktools/collection.h"
#include "voktools/factory.h"
#include "voktools/host.h"

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

// Quoted text from the request, safe to show: control characters become '?',
// and so do bytes outside ASCII unless the text is valid UTF-8.
std::string Quoted(std::string_view text) {
  const bool utf8 = IsValidUtf8(text);
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out += u < 0x20 || u == 0x7F || (u >= 0x80 && !utf8) ? '?' : c;
  }
  return out + "\"";
}

// What a JSON value is, as a user would say it.
std::string WhatItIs(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return value.get<bool>() ? "true" : "false";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return "the number " + value.dump();
    case Json::value_t::string:
      return "a string";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::object:
      return "an object";
    default:
      return "a value of another kind";
  }
}

std::string KeyMust(std::string_view key, std::string_view what, const Json& value) {
  return "\"" + std::string(key) + "\" must be " + std::string(what) + ", not " + WhatItIs(value);
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
  for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) {
    s.replace(p, from.size(), to);
  }
  return s;
}

// The parser's token names in plain words.
std::string TokenWords(std::string text) {
  static const std::pair<std::string_view, std::string_view> kWords[] = {
      {"'[', '{', or a literal", "a value"},
      {"string literal", "a string"},
      {"number literal", "a number"},
      {"true literal", "true"},
      {"false literal", "false"},
      {"null literal", "null"},
      {"end of input", "the end of the line"},
  };
  for (const auto& [from, to] : kWords) text = ReplaceAll(std::move(text), from, to);
  return text;
}

// Why line is not JSON, from the parser's exception, without its codes:
// "the line ends before the request is complete", "unexpected '}' at byte 9;
// expected a string", "\"no\" at byte 1 is not a JSON value". Bytes count
// from 1.
std::string ParseProblem(std::string_view line, const Json::parse_error& e) {
  std::string what = e.what();
  // "[json.exception.parse_error.101] parse error at line 1, column 2: syntax
  // error while parsing value - invalid literal; last read: 'no'"
  size_t dash = what.find(" - ");
  std::string detail = dash == std::string::npos ? std::string() : what.substr(dash + 3);
  // "<what>; last read: '<token>'; expected <token>", the last two optional.
  std::string expected;
  if (size_t read = detail.find("; last read: '"); read != std::string::npos) {
    size_t p = detail.rfind("'; expected ");
    if (p != std::string::npos && p >= read) expected = TokenWords(detail.substr(p + 12));
    detail.resize(read);
  } else if (size_t p = detail.find("; expected "); p != std::string::npos) {
    expected = TokenWords(detail.substr(p + 11));
    detail.resize(p);
  }
  const size_t byte = e.byte;
  if (byte == 0) return detail.empty() ? "unreadable" : detail;
  const std::string at = " at byte " + std::to_string(byte);

  // The parser reads one byte past the end when the line ends too soon.
  if (byte > line.size()) return "the line ends before the request is complete";
  if (expected == "the end of the line") {
    return "more text" + at + " after the request (one request per line)";
  }
  if (detail == "invalid string: ill-formed UTF-8 byte") {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(line[byte - 1]));
    return std::string("a string holds the byte ") + hex + at +
           ", which is not UTF-8; send such a text as {\"hex\":\"..\"}";
  }
  if (detail == "invalid literal") {
    // The word the offending byte is part of, or that byte alone.
    auto is_word = [&](size_t i) { return std::isalnum(static_cast<unsigned char>(line[i])) != 0; };
    size_t start = byte - 1, end = byte - 1;
    while (start > 0 && is_word(start - 1)) --start;
    while (end < line.size() && is_word(end)) ++end;
    if (end == start) end = start + 1;
    return Quoted(line.substr(start, end - start)) + " at byte " + std::to_string(start + 1) +
           " is not a JSON value (texts go in double quotes)";
  }
  std::string message;
  if (detail.rfind("invalid string: ", 0) == 0) {
    message = "in a string" + at + ": " + detail.substr(16);
  } else if (detail.rfind("invalid number; ", 0) == 0) {
    message = "a malformed number" + at + ": " + detail.substr(16);
  } else if (detail.rfind("unexpected ", 0) == 0) {
    message = ReplaceAll(TokenWords(detail), "unexpected a ", "unexpected ") + at;
  } else if (!detail.empty()) {
    message = detail + at;
  } else {
    message = "unreadable" + at;
  }
  if (!expected.empty()) message += "; expected " + expected;
  return message;
}

// Parses a request line; a key given twice in one object is an error
// rather than a silent choice of one of the values.
Json ParseRequest(std::string_view line) {
  std::vector<std::set<std::string>> keys;
  std::optional<std::string> twice;
  auto callback = [&](int, Json::parse_event_t event, Json& parsed) {
    using E = Json::parse_event_t;
    if (event == E::object_start) {
      keys.emplace_back();
    } else if (event == E::object_end) {
      keys.pop_back();
    } else if (event == E::key && !twice && !keys.back().insert(parsed.get<std::string>()).second) {
      twice = parsed.get<std::string>();
    }
    return true;
  };
  Json request;
  try {
    request = Json::parse(line, callback);
  } catch (const Json::parse_error& e) {
    throw BadRequest("not valid JSON: " + ParseProblem(line, e));
  }
  if (twice) throw BadRequest("the key " + Quoted(*twice) + " appears twice in one object");
  return request;
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

// The class name of a "create" or "describe" request.
std::string ClassName(const Json& request, std::string_view key) {
  const Json& value = request.at(std::string(key));
  std::optional<std::string> name = TextFromJson(value);
  if (!name) throw BadRequest(KeyMust(key, "a class name (a string)", value));
  return *name;
}

std::string_view ActionOf(InvokeKind kind) {
  switch (kind) {
    case InvokeKind::kMethod:
      return "call";
    case InvokeKind::kPropertyGet:
      return "get";
    case InvokeKind::kPropertyLet:
      break;
  }
  return "let";
}

// The actions a request can name, and the keys each takes besides "id" and
// its own.
struct Action {
  std::string_view name;
  std::initializer_list<std::string_view> keys;
};
const Action kActions[] = {
    {"create", {}},
    {"describe", {}},
    {"call", {"object", "args"}},
    {"get", {"object", "args"}},
    {"let", {"object", "args", "value"}},
    {"release", {"object"}},
};
constexpr std::string_view kActionList =
    "\"create\", \"describe\", \"call\", \"get\", \"let\" or \"release\"";

bool IsKeyOf(const Action& action, std::string_view key) {
  if (key == "id" || key == action.name) return true;
  for (std::string_view k : action.keys) {
    if (k == key) return true;
  }
  return false;
}

bool IsKnownKey(std::string_view key) {
  for (const Action& action : kActions) {
    if (IsKeyOf(action, key)) return true;
  }
  return false;
}

// The request's action, after checking that it names exactly one and holds
// no key that the action does not take.
const Action& RequestAction(const Json& request) {
  for (const auto& [key, value] : request.items()) {
    if (!IsKnownKey(key)) throw BadRequest("unknown key " + Quoted(key));
  }
  const Action* found = nullptr;
  for (const Action& action : kActions) {
    if (!request.contains(action.name)) continue;
    if (found != nullptr) {
      throw BadRequest(Quoted(found->name) + " and " + Quoted(action.name) +
                       " in one request; send them as two requests");
    }
    found = &action;
  }
  if (found == nullptr) {
    throw BadRequest("nothing to do: a request needs one of " + std::string(kActionList));
  }
  for (const auto& [key, value] : request.items()) {
    if (!IsKeyOf(*found, key)) {
      throw BadRequest(Quoted(key) + " does not belong in a " + Quoted(found->name) + " request");
    }
  }
  return *found;
}

}  // namespace

InvokeHost::InvokeHost(std::istream& in, std::ostream& out, Factory factory)
    : in_(in), out_(out), factory_(std::move(factory)) {
  if (!factory_) factory_ = [](std::string_view name) { return CreateObject(name); };
  // Without a screen, a message box is an event line of its own.
  SetMessageBoxHook([this](const std::string& text, const std::string& title) {
    Json line = Json::object();
    line["event"] = "MessageBox";
    line["text"] = TextToJson(text);
    line["title"] = TextToJson(title);
    WriteLine(line);
  });
}

InvokeHost::~InvokeHost() {
  SetMessageBoxHook(nullptr);
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
  ++line_number_;
  if (IsBlank(line)) return;
  Json response = Json::object();
  response["id"] = nullptr;
  Json body;
  try {
    Json request = ParseRequest(line);
    if (!request.is_object()) {
      throw BadRequest("a request must be a JSON object {..}, not " + WhatItIs(request));
    }
    if (auto id = request.find("id"); id != request.end()) response["id"] = *id;
    body = Handle(request);
    response["ok"] = true;
  } catch (const BadRequest& e) {
    response["ok"] = false;
    body = {{"error", ErrorBody(err::kInvalidCall,
                               "line " + std::to_string(line_number_) + ": " + e.what())}};
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
  std::string_view action = RequestAction(request).name;
  if (action == "create") return Create(request);
  if (action == "describe") return Describe(request);
  if (action == "release") return Release(request);
  InvokeKind kind = action == "call"  ? InvokeKind::kMethod
                    : action == "get" ? InvokeKind::kPropertyGet
                                      : InvokeKind::kPropertyLet;
  return Invoke(request, kind, request.at(action));
}

Json InvokeHost::Create(const Json& request) {
  std::string name = ClassName(request, "create");
  Json body = Json::object();
  body["object"] = Adopt(NewObject(name));
  return body;
}

ObjectRef InvokeHost::NewObject(std::string_view name) {
  ObjectRef object = EqualsIgnoreCase(name, "Collection") ? Collection::Create() : factory_(name);
  if (!object) throw AutomationError(err::kCannotCreateObject);
  return object;
}

Json InvokeHost::Describe(const Json& request) {
  std::string name = ClassName(request, "describe");
  if (name == "*") return ListClasses();
  // The member table belongs to the object (it is the one its calls go
  // through): one is made, read and dropped. A class that cannot be created
  // fails here as "create" does.
  return DescribeClass(*NewObject(name));
}

Json InvokeHost::Invoke(const Json& request, InvokeKind kind, const Json& member) {
  std::optional<std::string> name = TextFromJson(member);
  if (!name) throw BadRequest(KeyMust(ActionOf(kind), "a member name (a string)", member));
  // The whole request is read before the object is looked up: a malformed
  // one is answered as such whatever its object number.
  std::vector<Variant> args = ArgsFromJson(request);
  if (kind == InvokeKind::kPropertyLet) {
    auto value = request.find("value");
    if (value == request.end()) throw BadRequest("\"let\" needs a \"value\"");
    args.push_back(ArgFromJson(*value, "\"value\": "));
  }
  // A copy: the call may adopt further objects while it runs.
  ObjectRef object = Lookup(ObjectNumber(request));

  const MemberInfo* info = object->TypeInfo().Find(*name);
  if (kind != InvokeKind::kPropertyLet && info != nullptr) {
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
  if (!flag.is_boolean() || !flag.get<bool>()) throw BadRequest(KeyMust("release", "true", flag));
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
  if (it == request.end()) throw BadRequest("no \"object\": which object is it for?");
  if (!it->is_number_integer()) throw BadRequest(KeyMust("object", "an object number", *it));
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
  if (!it->is_array()) throw BadRequest(KeyMust("args", "an array", *it));
  args.reserve(it->size());
  for (const Json& arg : *it) {
    args.push_back(ArgFromJson(arg, "argument " + std::to_string(args.size() + 1) + ": "));
  }
  return args;
}

Variant InvokeHost::ArgFromJson(const Json& value, const std::string& which) const {
  try {
    return FromJson(value);
  } catch (const BadRequest& e) {
    throw BadRequest(which + e.what());
  }
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
        if (!text) {
          throw BadRequest("an array holds strings only, and item " +
                           std::to_string(texts.size() + 1) + " is " + WhatItIs(item));
        }
        texts.push_back(std::move(*text));
      }
      return Variant(std::move(texts));
    }
    case Json::value_t::object:
      break;
    default:
      throw BadRequest("not a value an argument can take");
  }
  if (value.size() == 1) {
    if (auto hex = value.find("hex"); hex != value.end()) {
      std::optional<std::string> text = TextFromJson(value);
      if (!text) throw BadRequest("\"hex\" takes pairs of hex digits");
      return Variant(std::move(*text));
    }
    if (auto bytes = value.find("bytes"); bytes != value.end()) {
      if (!bytes->is_array()) throw BadRequest(KeyMust("bytes", "an array", *bytes));
      ByteArray out;
      out.reserve(bytes->size());
      for (const Json& b : *bytes) {
        if (!b.is_number_integer() || b.get<int64_t>() < 0 || b.get<int64_t>() > 255) {
          throw BadRequest("\"bytes\" holds integers 0 to 255, and item " +
                           std::to_string(out.size() + 1) + " is " + WhatItIs(b));
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
  if (std::optional<Json> scalar = ScalarToJson(value)) return *std::move(scalar);
  switch (value.type()) {
    case VarType::kEmpty:
    case VarType::kMissing:
    case VarType::kBool:
    case VarType::kInt16:
    case VarType::kInt32:
    case VarType::kDouble:
    case VarType::kText:
      break;
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
