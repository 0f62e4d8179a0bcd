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
  using T = MemberTable<Collection>;
  using V = VarType;
  static const ClassTypeInfo info{
      "Collection",
      {
          T::Method("Item", 0, {{"Index", V::kInt32}}, V::kVariant, &Collection::Item),
          T::Method("Add", 1, {{"Item", V::kVariant}}, V::kEmpty, &Collection::Add),
          T::Method("Count", 2, {}, V::kInt32, &Collection::Count),
          T::Method("Remove", 3, {{"Index", V::kInt32}}, V::kEmpty, &Collection::Remove),
      }};
  return info;
}

}  // namespace vok
