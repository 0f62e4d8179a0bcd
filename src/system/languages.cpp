#include "voktools/languages.h"

#include <exception>

#include "frame/builtin_classes.h"
#include "platform/env.h"
#include "platform/language_list.h"

namespace vok {

namespace {

// A call of the service; one that fails answers 0, and loading goes on.
template <typename Call>
int32_t Ask(Call&& call) {
  try {
    return call();
  } catch (const std::exception&) {
    return 0;
  }
}

// Fetches entries 0 to count - 1 until a fetch reports a non-zero status;
// the entries before it are kept. A fetch that fails keeps its entry as far
// as it was filled.
template <typename Entry, typename Fetch, typename Keep>
void Load(int32_t count, Fetch&& fetch, Keep&& keep) {
  for (int32_t i = 0; i < count; ++i) {
    Entry entry;
    entry.marker = 1;
    if (Ask([&] { return fetch(i, entry); }) != 0) return;
    keep(std::move(entry));
  }
}

}  // namespace

clsLanguages::clsLanguages() : clsLanguages(CurrentEnv()) {}

clsLanguages::clsLanguages(Env& env) {
  std::unique_ptr<LanguageList> service;
  if (env.languages != nullptr) {
    try {
      service = env.languages->Create();
    } catch (const std::exception&) {
      service = nullptr;
    }
  }
  if (service == nullptr) return;
  LanguageList& list = *service;
  Load<LanguageEntry>(
      Ask([&] { return list.LanguageCount(); }),
      [&](int32_t i, LanguageEntry& e) { return list.FetchLanguage(i, e); },
      [&](LanguageEntry&& e) {
        languages_.push_back({std::move(e.description), std::move(e.code), e.encoding});
      });
  Load<CodePageEntry>(
      Ask([&] { return list.CodePageCount(); }),
      [&](int32_t i, CodePageEntry& e) { return list.FetchCodePage(i, e); },
      [&](CodePageEntry&& e) {
        code_pages_.push_back({std::move(e.description), std::move(e.code), e.number});
      });
}

const clsLanguages::Language* clsLanguages::LanguageAt(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= languages_.size()) return nullptr;
  return &languages_[static_cast<size_t>(index)];
}

const clsLanguages::CodePage* clsLanguages::CodePageAt(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= code_pages_.size()) return nullptr;
  return &code_pages_[static_cast<size_t>(index)];
}

std::string clsLanguages::LanguageDescription(int32_t nIndex) const {
  const Language* l = LanguageAt(nIndex);
  return l != nullptr ? l->description : std::string();
}

std::string clsLanguages::LanguageCode(int32_t nIndex) const {
  const Language* l = LanguageAt(nIndex);
  return l != nullptr ? l->code : std::string();
}

int32_t clsLanguages::LanguageEncoding(int32_t nIndex) const {
  const Language* l = LanguageAt(nIndex);
  return l != nullptr ? l->encoding : 0;
}

int32_t clsLanguages::LanguageCodePage(int32_t nIndex) const {
  const Language* l = LanguageAt(nIndex);
  if (l == nullptr) return -1;
  for (size_t i = 0; i < code_pages_.size(); ++i) {
    if (code_pages_[i].number == l->encoding) return static_cast<int32_t>(i);
  }
  return -1;
}

std::string clsLanguages::CodePageDescription(int32_t nIndex) const {
  const CodePage* c = CodePageAt(nIndex);
  return c != nullptr ? c->description : std::string();
}

int32_t clsLanguages::CodePageNumber(int32_t nIndex) const {
  const CodePage* c = CodePageAt(nIndex);
  return c != nullptr ? c->number : 0;
}

std::string clsLanguages::CodePageCode(int32_t nIndex) const {
  const CodePage* c = CodePageAt(nIndex);
  return c != nullptr ? c->code : std::string();
}

int32_t clsLanguages::LanguageCount() const { return static_cast<int32_t>(languages_.size()) - 1; }

int32_t clsLanguages::CodePageCount() const {
  return static_cast<int32_t>(code_pages_.size()) - 1;
}

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsLanguages>() {
  using C = clsLanguages;
  using T = MemberTable<C>;
  using V = VarType;
  static const std::vector<ParamInfo> index{{.name = "nIndex", .type = V::kInt32}};
  static const ClassTypeInfo info{
      "clsLanguages",
      {
          T::Method("LanguageDescription", 1, index, V::kText, &C::LanguageDescription),
          T::Method("LanguageCode", 2, index, V::kText, &C::LanguageCode),
          T::Method("LanguageEncoding", 3, index, V::kInt32, &C::LanguageEncoding),
          T::Method("LanguageCodePage", 4, index, V::kInt32, &C::LanguageCodePage),
          T::Method("CodePageDescription", 5, index, V::kText, &C::CodePageDescription),
          T::Method("CodePageNumber", 6, index, V::kInt32, &C::CodePageNumber),
          T::Method("CodePageCode", 7, index, V::kText, &C::CodePageCode),
          T::Method("LanguageCount", 8, {}, V::kInt32, &C::LanguageCount),
          T::Method("CodePageCount", 9, {}, V::kInt32, &C::CodePageCount),
      }};
  return info;
}

const ClassTypeInfo& clsLanguages::TypeInfo() const { return detail::TypeInfoOf<clsLanguages>(); }

}  // namespace vok
