#include "voktools/collection.h"

#include "voktools/automation_error.h"

namespace vok {

const Variant& Collection::Item(int32_t index) const {
  if (index < 1 || index > Count()) throw AutomationError(err::kSubscript);
  return items_[static_cast<size_t>(index - 1)];
}

void Collection::Remove(int32_t index) {
  if (index < 1 || index > Count()) throw AutomationError(err::kSubscript);
  items_.erase(items_.begin() + (index - 1));
}

void Collection::Clear() { items_.clear(); }

std::vector<std::string> Collection::Texts() const {
  std::vector<std::string> out;
  out.reserve(items_.size());
  for (const Variant& v : items_) out.push_back(v.ToText());
  return out;
}

std::vector<std::string> Collection::TakeTexts() {
  std::vector<std::string> out;
  out.reserve(items_.size());
  for (Variant& v : items_) {
    if (auto* text = v.get_if<std::string>()) {
      out.push_back(std::move(*text));
    } else {
      out.push_back(v.ToText());
    }
  }
  items_.clear();
  return out;
}

const ClassTypeInfo& Collection::TypeInfo() const {
  static const ClassTypeInfo info{
      "Collection",
      {
          {"Item", 0, MemberKind::kMethod, {{"Index", VarType::kInt32}}, VarType::kVariant},
          {"Add", 1, MemberKind::kMethod, {{"Item", VarType::kVariant}}, VarType::kEmpty},
          {"Count", 2, MemberKind::kMethod, {}, VarType::kInt32},
          {"Remove", 3, MemberKind::kMethod, {{"Index", VarType::kInt32}}, VarType::kEmpty},
      }};
  return info;
}

Variant Collection::DoInvoke(const MemberInfo& member, InvokeKind, std::vector<Variant>& args) {
  switch (member.dispid) {
    case 0:
      return Item(args[0].ToInt32());
    case 1:
      Add(args[0]);
      return {};
    case 2:
      return Count();
    case 3:
      Remove(args[0].ToInt32());
      return {};
  }
  throw AutomationError(err::kNotSupported);
}

}  // namespace vok
