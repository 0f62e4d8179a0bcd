#include "invoke_describe.h"

#include "voktools/class_table.h"
#include "voktools/collection.h"
#include "voktools/factory.h"

namespace vok::cli {

namespace {

constexpr std::string_view kCollection = "Collection";

const ClassEntry* EntryOf(std::string_view class_name) {
  for (const ClassEntry& entry : ClassTable()) {
    if (entry.class_name == class_name) return &entry;
  }
  return nullptr;
}

bool HasLet(MemberKind kind) { return kind == MemberKind::kGetLet || kind == MemberKind::kLetGet; }

// A parameter's default as a result would travel; defaults are constants, so
// an object can only be Nothing.
Json DefaultJson(const Variant& value) {
  if (std::optional<Json> scalar = ScalarToJson(value)) return *std::move(scalar);
  if (value.type() == VarType::kObject) return {{"object", nullptr}};
  return nullptr;
}

std::string DefaultText(const Variant& value) {
  switch (value.type()) {
    case VarType::kObject:
      return "Nothing";
    case VarType::kText:
      return TextToJson(*value.get_if<std::string>()).dump();
    default:
      return value.ToText();
  }
}

Json ParamJson(const ParamInfo& p) {
  Json j = Json::object();
  j["name"] = TextToJson(p.name);
  j["type"] = VarTypeName(p.type);
  j["byref"] = p.by_ref;
  j["optional"] = p.optional;
  if (p.optional && !p.default_value.IsMissing()) j["default"] = DefaultJson(p.default_value);
  j["out"] = p.out;
  j["paramarray"] = p.param_array;
  return j;
}

Json MemberJson(const MemberInfo& m) {
  Json j = Json::object();
  j["name"] = TextToJson(m.name);
  j["dispid"] = m.dispid;
  j["kind"] = KindName(m.kind);
  j["params"] = Json::array();
  for (const ParamInfo& p : m.params) j["params"].push_back(ParamJson(p));
  if (m.result == VarType::kEmpty) {
    j["result"] = nullptr;
  } else {
    j["result"] = VarTypeName(m.result);
  }
  if (HasLet(m.kind)) j["value"] = VarTypeName(m.value_type);
  return j;
}

// Table cells hold no line breaks and no unescaped '|'.
std::string Cell(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '|') out += '\\';
    out += c == '\n' || c == '\r' ? ' ' : c;
  }
  return out;
}

std::string ParamMarkdown(const ParamInfo& p) {
  std::string s = "`" + std::string(p.name) + "`";
  if (p.param_array) s += "...";
  s += " " + std::string(VarTypeName(p.type));
  if (p.optional && !p.default_value.IsMissing()) s += " = " + DefaultText(p.default_value);
  if (p.optional) s = "[" + s + "]";
  if (!p.by_ref) s += " (by value)";
  if (p.out) s += " (out)";
  return s;
}

std::string MemberRow(const MemberInfo& m) {
  std::string params;
  for (const ParamInfo& p : m.params) {
    if (!params.empty()) params += ", ";
    params += ParamMarkdown(p);
  }
  std::string result = m.result == VarType::kEmpty ? "" : VarTypeName(m.result);
  if (HasLet(m.kind) && m.value_type != m.result) {
    result += std::string(result.empty() ? "" : "; ") + "let takes " + VarTypeName(m.value_type);
  }
  std::string row = "| `" + std::string(m.name) + "` | " + std::to_string(m.dispid) + " | " +
                    std::string(KindName(m.kind));
  for (const std::string& cell : {params, result}) row += cell.empty() ? " |" : " | " + Cell(cell);
  return row + " |\n";
}

std::string ClassMarkdown(const ClassEntry* entry, const Dispatch* object) {
  std::string s = "### " + std::string(entry ? entry->class_name : kCollection) + "\n\n";
  if (entry != nullptr) {
    s += "`" + std::string(entry->prog_id) + "`, class id `" + std::string(entry->clsid) + "`.";
  } else {
    s += "`Collection`, the host's own.";
  }
  if (object == nullptr) {
    return s + " Not in this build: creating or describing it answers error 429.\n";
  }
  std::vector<std::string_view> events = object->EventNames();
  if (events.empty()) {
    s += " No events.";
  } else {
    s += " Events:";
    for (size_t i = 0; i < events.size(); ++i) {
      s += std::string(i == 0 ? " " : ", ") + "`" + std::string(events[i]) + "`";
    }
    s += ".";
  }
  s += "\n\n| Member | Id | Kind | Parameters | Result |\n|---|---|---|---|---|\n";
  for (const MemberInfo& m : object->TypeInfo().members) s += MemberRow(m);
  return s;
}

}  // namespace

std::string_view KindName(MemberKind kind) {
  switch (kind) {
    case MemberKind::kMethod:
      return "method";
    case MemberKind::kGet:
      return "get";
    case MemberKind::kGetLet:
      return "get/let";
    case MemberKind::kLetGet:
      return "let/get";
  }
  return "?";
}

Json DescribeClass(const Dispatch& object) {
  const ClassTypeInfo& info = object.TypeInfo();
  const ClassEntry* entry = EntryOf(info.name);
  Json j = Json::object();
  j["class"] = TextToJson(info.name);
  if (entry != nullptr) {
    j["progid"] = TextToJson(entry->prog_id);
    j["clsid"] = TextToJson(entry->clsid);
  } else if (info.name == kCollection) {
    j["progid"] = kCollection;
  }
  j["events"] = Json::array();
  for (std::string_view event : object.EventNames()) j["events"].push_back(TextToJson(event));
  j["members"] = Json::array();
  for (const MemberInfo& m : info.members) j["members"].push_back(MemberJson(m));
  return j;
}

Json ListClasses() {
  Json classes = Json::array();
  for (const ClassEntry& entry : ClassTable()) {
    Json c = Json::object();
    c["class"] = TextToJson(entry.class_name);
    c["progid"] = TextToJson(entry.prog_id);
    c["clsid"] = TextToJson(entry.clsid);
    c["available"] = IsClassAvailable(entry);
    classes.push_back(std::move(c));
  }
  Json collection = Json::object();
  collection["class"] = kCollection;
  collection["progid"] = kCollection;
  collection["available"] = true;
  classes.push_back(std::move(collection));
  Json j = Json::object();
  j["classes"] = std::move(classes);
  return j;
}

std::string ReferenceMarkdown() {
  std::string s = std::string(kReferenceMarker) + "\n";
  for (const ClassEntry& entry : ClassTable()) {
    ObjectRef object = IsClassAvailable(entry) ? CreateObject(entry.prog_id) : nullptr;
    s += "\n" + ClassMarkdown(&entry, object.get());
  }
  s += "\n" + ClassMarkdown(nullptr, Collection::Create().get());
  return s;
}

std::optional<std::string> WithCurrentReference(std::string_view document) {
  size_t at = 0;
  for (;;) {
    if (document.substr(at).starts_with(kReferenceMarker)) break;
    size_t next = document.find('\n', at);
    if (next == std::string_view::npos) return std::nullopt;
    at = next + 1;
  }
  return std::string(document.substr(0, at)) + ReferenceMarkdown();
}

}  // namespace vok::cli
