// A report whose error list was passed on during the run, partly through a
// private file, prints as the same list held whole.
#include "spilled_texts.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "report.h"

namespace vok::test {
namespace {

TEST(SpilledTexts, ReportAsTheWholeListWouldWhateverTheirBytes) {
  std::mt19937 rng(7);
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    std::string t(rng() % 200, '\0');
    for (char& c : t) c = "0123456789\n\r \"\\a\xff\xc3\xa9"[rng() % 19];
    texts.push_back(t);
  }
  for (const bool json : {false, true}) {
    for (const int result : {0, 1}) {
      auto more = std::make_shared<cli::SpilledTexts>(1000);  // the most go to the file
      for (const std::string& t : texts) more->Add(t);
      cli::FileReport whole{.result = result, .errors = {"title"}, .summary = "summary",
                            .refusals = {"refused"}, .warnings = {"warned"}};
      cli::FileReport parted = whole;
      whole.errors.insert(whole.errors.end(), texts.begin(), texts.end());
      parted.more_errors = more;
      std::ostringstream out[2], err[2];
      cli::Reporter({.json = json}, out[0], err[0], false).Report(whole);
      cli::Reporter({.json = json}, out[1], err[1], false).Report(parted);
      EXPECT_EQ(out[0].str(), out[1].str()) << json << result;
      EXPECT_EQ(err[0].str(), err[1].str()) << json << result;
    }
  }
}

}  // namespace
}  // namespace vok::test
