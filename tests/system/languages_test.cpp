// The catalogue's language and code-page lists, and clsLanguages over them
// and over a service double.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "frame/with_env.h"
#include "platform/env.h"
#include "platform/language_list.h"
#include "voktools/automation_error.h"
#include "voktools/languages.h"
#include "voktools/messages.h"

namespace vok {
namespace {

constexpr const char* kLanguageCodes =
    "AF SQ AR-DZ AR-BH AR-EG AR-IQ AR-JO AR-KW AR-LB AR-LY AR-MA AR-OM AR-QA AR-SA AR-SY AR-TN "
    "AR-AE AR-YE AY AZ-XC AZ-XE EU BG BE CA CH ZH-HK ZH-XM ZH-CN ZH-SG ZH-TW HR CS DA NL-BE NL "
    "EN-AU EN-BZ EN-GB EN-CA EN-CR EN-IE EN-JM EN-NZ EN-PH EN-ZA EN-TR EN-US EN-RH ET FO FA FI FL "
    "FR-BE FR-CA FR-LU FR-MC FR FR-CH DE-AT DE-LI DE-LU DE DE-CH EL GN HE HU IS IN IT IT-CH JA JW "
    "KA KK KY KO KU LV LT MK MG MS-BX MS-MY MO MN-XC NO-NO NO-XY PS PL PT-BR PT QU RO RO-MV RN RD "
    "RU RU-MV SZ SR SR-XC SK SL SO ES ES-AR ES-BO ES-CN ES-CO ES-CR ES-DO ES-EC ES-SV ES-GT ES-HN "
    "ES-MX ES-NI ES-PA ES-PY ES-PE ES-PR ES-UY ES-VE ES-XM ES-XL ES-XY SU SW SV SV-FI TL TG TT TH "
    "TR TK UK UG UR UZ-XC UZ-XL VI CY JI";
constexpr const char* kCodePageNumbers =
    "1256 864 1257 775 863 936 950 1251 855 1250 1253 737 1255 862 20420 20880 20277 20278 20297 "
    "875 20423 20871 500 20280 20290 20284 870 1026 20905 37 20285 861 28592 28593 28594 28595 "
    "28596 28597 28598 28599 932 949 1252 869 850 865 860 10000 866 852 874 1254 857 437 65001 "
    "1258";

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::vector<std::string> Fields(int32_t id) {
  std::vector<std::string> fields{""};
  for (char c : Message(id)) {
    if (c == '\t') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// The codes and numbers in id order, nothing around the lists, and the
// fields of each entry as their rules say.
TEST(LanguageLists, HoldTheCodesAndNumbersInIdOrderWithFieldsThatFollowTheirRules) {
  const std::vector<std::string> codes = Words(kLanguageCodes);
  const std::vector<std::string> numbers = Words(kCodePageNumbers);
  ASSERT_EQ(codes.size(), size_t(kLanguageListSize));
  ASSERT_EQ(numbers.size(), size_t(kCodePageListSize));
  for (int32_t id : {999, 1147, 1999, 2056}) {
    EXPECT_THROW(Message(id), AutomationError) << id;
  }
  for (int32_t i = 0; i < kCodePageListSize; ++i) {
    const std::vector<std::string> f = Fields(kCodePageListFirst + i);
    ASSERT_EQ(f.size(), 3u) << i;
    EXPECT_FALSE(f[0].empty() || f[2].empty()) << i;
    EXPECT_EQ(f[1], numbers[size_t(i)]) << i;
  }
  int empty_locales = 0, abbreviations = 0;
  std::set<int32_t> used;
  for (int32_t i = 0; i < kLanguageListSize; ++i) {
    const std::vector<std::string> f = Fields(kLanguageListFirst + i);
    SCOPED_TRACE(Message(kLanguageListFirst + i));
    ASSERT_TRUE(f.size() == 4 || f.size() == 5);
    EXPECT_FALSE(f[0].empty());
    EXPECT_EQ(f[1], codes[size_t(i)]);
    std::string underscored = f[1];
    for (char& c : underscored) c = c == '-' ? '_' : c;
    const std::string& locale = f[2];
    if (locale.empty()) {
      ++empty_locales;
    } else {
      EXPECT_TRUE(locale == underscored || locale == f[1] + "_00" || locale == f[1] + "_" + f[1])
          << locale;
    }
    used.insert(std::stoi(f[3]));
    if (f.size() == 5) {
      ++abbreviations;
      EXPECT_EQ(f[4].size(), 3u);
      EXPECT_EQ(f[4].find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
    }
  }
  EXPECT_EQ(empty_locales, 43);
  EXPECT_EQ(abbreviations, 28);
  EXPECT_EQ(used, (std::set<int32_t>{874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255,
                                     1256, 1257, 1258}));
}

TEST(LanguageLists, KnownEntries) {
  const std::pair<int32_t, const char*> entries[] = {
      {1000, "Afrikaans\tAF\tAF_00\t1252"},
      {1018, "Aymara\tAY\t\t1252"},
      {1024, "Catalan\tCA\tCA_00\t1252\tCAT"},
      {1028, "Chinese (PRC)\tZH-CN\tZH_CN\t936\tCHS"},
      {1126, "Spanish --International--\tES-XM\tES_XM\t1252\tSPA"},
      {2000, "Arabic - Windows\t1256\twindows-1256"},
      {2005, "Chinese (simplified) - Windows, DOS\t936\tgb2312"},
      {2019, "IBM EBCDIC Greece\t875\tibm423"},
      {2020, "IBM EBCDIC Greek\t20423\tibm423"},
      {2027, "IBM EBCDIC Latin-5 Turkey\t1026\tibm905"},
      {2028, "IBM EBCDIC Turkish\t20905\tibm905"},
      {2047, "Roman - MAC\t10000\tmac"},
      {2054, "Unicode (UTF-8)\t65001\tutf-8"},
  };
  for (const auto& [id, text] : entries) EXPECT_EQ(Message(id), text) << id;
}

// Every member over the catalogue's lists answers what the list entry says.
TEST(Languages, OverTheCatalogueAnswersItsLists) {
  clsLanguages languages;
  ASSERT_EQ(languages.LanguageCount(), kLanguageListSize - 1);
  ASSERT_EQ(languages.CodePageCount(), kCodePageListSize - 1);
  for (int32_t i = 0; i < kLanguageListSize; ++i) {
    const std::vector<std::string> f = Fields(kLanguageListFirst + i);
    EXPECT_EQ(languages.LanguageDescription(i), f[0]);
    EXPECT_EQ(languages.LanguageCode(i), f[1]);
    EXPECT_EQ(languages.LanguageEncoding(i), std::stoi(f[3]));
    EXPECT_EQ(languages.CodePageNumber(languages.LanguageCodePage(i)), std::stoi(f[3]));
  }
  for (int32_t i = 0; i < kCodePageListSize; ++i) {
    const std::vector<std::string> f = Fields(kCodePageListFirst + i);
    EXPECT_EQ(languages.CodePageDescription(i), f[0]);
    EXPECT_EQ(languages.CodePageNumber(i), std::stoi(f[1]));
    EXPECT_EQ(languages.CodePageCode(i), f[2]);
  }
  // Late-bound, as a host calls it.
  EXPECT_EQ(languages.Call("LanguageCode", {Variant(int32_t{24})}).ToText(), "CA");
  EXPECT_EQ(languages.Call("CodePageCount").ToInt32(), kCodePageListSize - 1);
}

// A service from tables: the fetch at fail_at alone reports a non-zero
// status; throw_at makes that call throw instead.
struct Tables {
  std::vector<LanguageEntry> languages;
  std::vector<CodePageEntry> code_pages;
  std::optional<int32_t> language_count, code_page_count;  // none: the size of the table
  std::optional<int32_t> language_fail_at, code_page_fail_at, language_throw_at;
  bool count_throws = false;
};

class TableList : public LanguageList {
 public:
  TableList(const Tables& t, int* live) : t_(t), live_(live) { ++*live_; }
  ~TableList() override { --*live_; }
  int32_t LanguageCount() override {
    if (t_.count_throws) throw std::runtime_error("count");
    return t_.language_count.value_or(int32_t(t_.languages.size()));
  }
  int32_t FetchLanguage(int32_t i, LanguageEntry& e) override {
    EXPECT_EQ(e.marker, 1);
    if (t_.language_throw_at == i) {
      e.description = "half";
      throw std::runtime_error("fetch");
    }
    if (t_.language_fail_at == i) return 7;
    e = t_.languages.at(size_t(i));
    return 0;
  }
  int32_t CodePageCount() override {
    return t_.code_page_count.value_or(int32_t(t_.code_pages.size()));
  }
  int32_t FetchCodePage(int32_t i, CodePageEntry& e) override {
    EXPECT_EQ(e.marker, 1);
    if (t_.code_page_fail_at == i) return -1;
    e = t_.code_pages.at(size_t(i));
    return 0;
  }

 private:
  const Tables& t_;
  int* live_;
};

class TableService : public LanguageListService {
 public:
  explicit TableService(Tables t, bool available = true) : t_(std::move(t)), available_(available) {}
  std::unique_ptr<LanguageList> Create() override {
    if (!available_) return nullptr;
    return std::make_unique<TableList>(t_, &live_);
  }
  int live() const { return live_; }

 private:
  Tables t_;
  bool available_;
  int live_ = 0;
};

// What every member answers, for indexes from -2 to two beyond the end; T is
// clsLanguages or the model below.
template <typename T>
std::string Answers(const T& l) {
  std::ostringstream out;
  out << l.LanguageCount() << " " << l.CodePageCount() << "\n";
  for (int32_t i = -2; i <= l.LanguageCount() + 2; ++i) {
    out << i << ": " << l.LanguageDescription(i) << "|" << l.LanguageCode(i) << "|"
        << l.LanguageEncoding(i) << "|" << l.LanguageCodePage(i) << "\n";
  }
  for (int32_t i = -2; i <= l.CodePageCount() + 2; ++i) {
    out << "cp " << i << ": " << l.CodePageDescription(i) << "|" << l.CodePageNumber(i) << "|"
        << l.CodePageCode(i) << "\n";
  }
  return out.str();
}

// The loading rule on plain tables: entries up to the first fetch that
// reports a failure; one that throws is kept as far as it was filled; a
// count that throws is 0.
struct Model {
  Model(const Tables& t, bool available) {
    const int32_t n = t.count_throws ? 0 : t.language_count.value_or(int32_t(t.languages.size()));
    for (int32_t i = 0; available && i < n; ++i) {
      if (t.language_throw_at == i) {
        languages.push_back({0, "half", "", 0, 0});
        continue;
      }
      if (t.language_fail_at == i) break;
      languages.push_back(t.languages[size_t(i)]);
    }
    const int32_t m = t.code_page_count.value_or(int32_t(t.code_pages.size()));
    for (int32_t i = 0; available && i < m && t.code_page_fail_at != i; ++i) {
      pages.push_back(t.code_pages[size_t(i)]);
    }
  }
  template <typename E>
  static const E* At(const std::vector<E>& v, int32_t i) {
    return i >= 0 && size_t(i) < v.size() ? &v[size_t(i)] : nullptr;
  }
  int32_t LanguageCount() const { return int32_t(languages.size()) - 1; }
  int32_t CodePageCount() const { return int32_t(pages.size()) - 1; }
  std::string LanguageDescription(int32_t i) const {
    return At(languages, i) ? At(languages, i)->description : "";
  }
  std::string LanguageCode(int32_t i) const { return At(languages, i) ? At(languages, i)->code : ""; }
  int32_t LanguageEncoding(int32_t i) const {
    return At(languages, i) ? At(languages, i)->encoding : 0;
  }
  int32_t LanguageCodePage(int32_t i) const {
    for (int32_t k = 0; At(languages, i) && k <= CodePageCount(); ++k) {
      if (pages[size_t(k)].number == languages[size_t(i)].encoding) return k;
    }
    return -1;
  }
  std::string CodePageDescription(int32_t i) const {
    return At(pages, i) ? At(pages, i)->description : "";
  }
  int32_t CodePageNumber(int32_t i) const { return At(pages, i) ? At(pages, i)->number : 0; }
  std::string CodePageCode(int32_t i) const { return At(pages, i) ? At(pages, i)->code : ""; }
  std::vector<LanguageEntry> languages;
  std::vector<CodePageEntry> pages;
};

// Random tables with fetches that fail or throw, counts that throw or are
// negative, and no service at all: every member agrees with the model, and
// the service's list is released when loading ends.
TEST(Languages, AgreeWithAModelOnRandomTables) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 300; ++round) {
    Tables t;
    const int n = int(rng() % 6), m = int(rng() % 6);
    for (int i = 0; i < n; ++i) {
      t.languages.push_back({0, "Lang " + std::to_string(i), std::to_string(i), int32_t(rng() % 4), 5});
    }
    for (int i = 0; i < m; ++i) {
      t.code_pages.push_back({0, "Page " + std::to_string(i), std::to_string(i), int32_t(rng() % 4)});
    }
    if (rng() % 2) t.language_fail_at = int32_t(rng() % 7);
    if (rng() % 2) t.code_page_fail_at = int32_t(rng() % 7);
    if (rng() % 3 == 0) t.language_throw_at = int32_t(rng() % 7);
    t.count_throws = rng() % 10 == 0;
    if (rng() % 10 == 0) t.code_page_count = -int32_t(rng() % 3);
    const bool available = rng() % 10 != 0;
    SCOPED_TRACE("round " + std::to_string(round));
    TableService service(t, available);
    Env env;
    env.languages = &service;
    ScopedEnv scope(env);
    EXPECT_EQ(Answers(clsLanguages()), Answers(Model(t, available)));
    EXPECT_EQ(service.live(), 0);
  }
  Env env;
  env.languages = nullptr;
  EXPECT_EQ(Answers(WithEnv<clsLanguages>(env)), Answers(Model(Tables{}, false)));
}

}  // namespace
}  // namespace vok
