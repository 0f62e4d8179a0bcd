#include "platform/language_list.h"

#include <charconv>
#include <string_view>
#include <vector>

#include "voktools/messages.h"

namespace vok {

namespace {

// The fields of entry index of the catalogue list starting at id first;
// none when there is no such entry or it has fewer than min_fields fields.
std::vector<std::string_view> ListEntry(int32_t first, int32_t size, int32_t index,
                                        size_t min_fields) {
  if (index < 0 || index >= size) return {};
  const std::string_view text = Message(first + index);
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t tab; (tab = text.find('\t', start)) != std::string_view::npos; start = tab + 1) {
    fields.push_back(text.substr(start, tab - start));
  }
  fields.push_back(text.substr(start));
  if (fields.size() < min_fields) fields.clear();
  return fields;
}

int32_t ToInt32(std::string_view field) {
  int32_t value = 0;
  std::from_chars(field.data(), field.data() + field.size(), value);
  return value;
}

constexpr int32_t kNoSuchEntry = 1;

// Language entries from Description, Code and the code-page number (the
// fourth field); code-page entries from Description, Number and Code.
class CatalogueLanguageList : public LanguageList {
 public:
  int32_t LanguageCount() override { return kLanguageListSize; }
  int32_t FetchLanguage(int32_t index, LanguageEntry& entry) override {
    const auto f = ListEntry(kLanguageListFirst, kLanguageListSize, index, 4);
    if (f.empty()) return kNoSuchEntry;
    entry.description = f[0];
    entry.code = f[1];
    entry.encoding = ToInt32(f[3]);
    entry.extra = 0;
    return 0;
  }
  int32_t CodePageCount() override { return kCodePageListSize; }
  int32_t FetchCodePage(int32_t index, CodePageEntry& entry) override {
    const auto f = ListEntry(kCodePageListFirst, kCodePageListSize, index, 3);
    if (f.empty()) return kNoSuchEntry;
    entry.description = f[0];
    entry.number = ToInt32(f[1]);
    entry.code = f[2];
    return 0;
  }
};

class CatalogueService : public LanguageListService {
 public:
  std::unique_ptr<LanguageList> Create() override {
    return std::make_unique<CatalogueLanguageList>();
  }
};

}  // namespace

LanguageListService& CatalogueLanguages() {
  static CatalogueService service;
  return service;
}

}  // namespace vok
