// The language list service: a component that supplies the languages and
// code pages clsLanguages shows. One service object is created, read through
// and released per load.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vok {

struct LanguageEntry {
  int32_t marker = 0;  // set to 1 by the caller before a fetch
  std::string description;
  std::string code;       // "CA", "EN-US"
  int32_t encoding = 0;   // the number of the language's code page
  int32_t extra = 0;      // the service's own; shown nowhere
};

struct CodePageEntry {
  int32_t marker = 0;  // set to 1 by the caller before a fetch
  std::string description;
  std::string code;  // character-set name, "windows-1252"
  int32_t number = 0;
};

// One object of the service. Any call may throw; the caller takes that as a
// zero answer.
class LanguageList {
 public:
  virtual ~LanguageList() = default;
  virtual int32_t LanguageCount() = 0;
  // Fills entry; 0 when it was filled.
  virtual int32_t FetchLanguage(int32_t index, LanguageEntry& entry) = 0;
  virtual int32_t CodePageCount() = 0;
  virtual int32_t FetchCodePage(int32_t index, CodePageEntry& entry) = 0;
};

class LanguageListService {
 public:
  virtual ~LanguageListService() = default;
  // A new service object, or null when none can be created.
  virtual std::unique_ptr<LanguageList> Create() = 0;
};

// The service of this platform: the language and code-page lists of the
// message catalogue.
LanguageListService& CatalogueLanguages();

}  // namespace vok
