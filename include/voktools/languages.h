// clsLanguages: the table of languages and the table of code pages, read
// once from the language list service when the object is created. Indexes
// count from 0; the counts are the highest index (-1 for an empty table).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {

struct Env;

VOK_PUBLIC_BEGIN

class clsLanguages : public Dispatch {
 public:
  clsLanguages();

  // Out of range: "".
  std::string LanguageDescription(int32_t nIndex) const;
  std::string LanguageCode(int32_t nIndex) const;
  // Out of range: 0.
  int32_t LanguageEncoding(int32_t nIndex) const;
  // The index of the first code page whose number is the language's
  // encoding; -1 when there is none or nIndex is out of range.
  int32_t LanguageCodePage(int32_t nIndex) const;
  std::string CodePageDescription(int32_t nIndex) const;
  int32_t CodePageNumber(int32_t nIndex) const;
  std::string CodePageCode(int32_t nIndex) const;
  int32_t LanguageCount() const;
  int32_t CodePageCount() const;

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsLanguages(Env& env);

  struct Language {
    std::string description;
    std::string code;
    int32_t encoding = 0;
  };
  struct CodePage {
    std::string description;
    std::string code;
    int32_t number = 0;
  };

  const Language* LanguageAt(int32_t index) const;
  const CodePage* CodePageAt(int32_t index) const;

  std::vector<Language> languages_;
  std::vector<CodePage> code_pages_;
};

VOK_PUBLIC_END

}  // namespace vok
