// The command's parts in-process: events through the invoke host, texts in
// JSON, and the report conventions.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "invoke_host.h"
#include "json_text.h"
#include "report.h"
#include "voktools/factory.h"

namespace vok::cli {
namespace {

// A class with a Progress event: Run(n) raises it with 50, then with n.
class Ticker : public Dispatch {
 public:
  const ClassTypeInfo& TypeInfo() const override {
    static const ClassTypeInfo info{
        "clsTicker", {MemberTable<Ticker>::Method("Run", 1, {{"n", VarType::kInt16}},
                                                 VarType::kInt32, &Ticker::Run)}};
    return info;
  }
  std::vector<std::string_view> EventNames() const override { return {"Progress"}; }
  int32_t Advise(EventSink sink) override {
    sinks_.emplace(next_, std::move(sink));
    return next_++;
  }
  void Unadvise(int32_t cookie) override { sinks_.erase(cookie); }
  size_t sinks() const { return sinks_.size(); }

  int32_t Run(int16_t n) {
    for (int16_t v : {int16_t{50}, n}) {
      for (auto& [cookie, sink] : sinks_) {
        std::vector<Variant> event_args{Variant(v)};
        sink("Progress", 1, event_args);
      }
    }
    return 7;
  }

 private:
  std::map<int32_t, EventSink> sinks_;
  int32_t next_ = 1;
};

TEST(CliInvokeHost, WritesEventsBeforeTheResponseUntilReleased) {
  auto ticker = std::make_shared<Ticker>();
  std::istringstream in(R"({"id":1,"create":"Test.Ticker"})"
                        "\n"
                        R"({"id":2,"object":1,"call":"Run","args":[100]})"
                        "\n"
                        R"({"id":3,"object":1,"release":true})"
                        "\n");
  std::ostringstream out;
  {
    InvokeHost host(in, out, [&](std::string_view name) -> ObjectRef {
      return name == "Test.Ticker" ? ticker : CreateObject(name);
    });
    host.Run();
    EXPECT_EQ(host.ObjectCount(), 0u);
  }
  EXPECT_EQ(out.str(),
            "{\"id\":1,\"ok\":true,\"object\":1}\n"
            "{\"event\":\"Progress\",\"object\":1,\"args\":[50]}\n"
            "{\"event\":\"Progress\",\"object\":1,\"args\":[100]}\n"
            "{\"id\":2,\"ok\":true,\"result\":7}\n"
            "{\"id\":3,\"ok\":true}\n");
  EXPECT_EQ(ticker->sinks(), 0u);  // the release ended the connection
}

TEST(CliInvokeHost, DisconnectsEventsWhenItEnds) {
  auto ticker = std::make_shared<Ticker>();
  std::istringstream in(R"({"id":1,"create":"Test.Ticker"})");
  std::ostringstream out;
  {
    InvokeHost host(in, out, [&](std::string_view) -> ObjectRef { return ticker; });
    host.Run();
    EXPECT_EQ(ticker->sinks(), 1u);
  }
  EXPECT_EQ(ticker->sinks(), 0u);
}

struct TextCase {
  std::string name;
  std::string bytes;
  std::string json;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class CliTextInJson : public ::testing::TestWithParam<TextCase> {};

TEST_P(CliTextInJson, TravelsAsStringOrHexAndBack) {
  Json j = TextToJson(GetParam().bytes);
  EXPECT_EQ(j.dump(), GetParam().json);
  EXPECT_EQ(TextFromJson(Json::parse(j.dump())), GetParam().bytes);
}

const TextCase kTexts[] = {
    {"Empty", "", "\"\""},
    {"Nul", std::string("a\0b", 3), "\"a\\u0000b\""},
    {"MultiByte", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
     "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
    {"Latin1", "h\xFF", R"({"hex":"68ff"})"},
    {"Overlong", "\xC0\x80", R"({"hex":"c080"})"},
    {"Surrogate", "\xED\xA0\x80", R"({"hex":"eda080"})"},
    {"BeyondUnicode", "\xF4\x90\x80\x80", R"({"hex":"f4908080"})"},
    {"CutShort", "\xE2\x82", R"({"hex":"e282"})"},
};

INSTANTIATE_TEST_SUITE_P(All, CliTextInJson, ::testing::ValuesIn(kTexts),
                         [](const auto& info) { return info.param.name; });

TEST(CliReporter, PlainAndJsonReportsAndExitStatus) {
  struct Case {
    std::vector<int> results;
    int status;
  };
  for (const Case& c :
       {Case{{}, 0}, Case{{0, 0}, 0}, Case{{0, 2, 1}, 2}, Case{{100, 0}, 63}, Case{{-3}, 1}}) {
    std::ostringstream out, err;
    Reporter reporter({}, out, err, false);
    for (int r : c.results) {
      FileReport report;
      report.result = r;
      reporter.Report(report);
    }
    EXPECT_EQ(reporter.ExitStatus(), c.status) << ::testing::PrintToString(c.results);
  }

  FileReport report;
  report.result = 1;
  report.errors = {"Error copying to : b\r\nNo space", "second"};
  report.files = {{"Filename", "a\xFF"}, {"Output", "b"}};
  report.summary = "a: 1 lines";
  std::ostringstream plain, json, err;
  Reporter({}, plain, err, false).Report(report);
  // A failure is an error: its report goes to standard error.
  EXPECT_EQ(plain.str(), "");
  EXPECT_EQ(err.str(), "voktools: error: a: 1 lines\nError copying to : b No space\nsecond\n");
  err.str("");
  Reporter({.json = true}, json, err, true).Report(report);
  EXPECT_EQ(json.str(), R"({"result":1,"errors":["Error copying to : b\r\nNo space","second"],"warnings":[],)"
                        R"("files":{"Filename":{"hex":"61ff"},"Output":"b"}})"
                        "\n");
  EXPECT_EQ(err.str(), "");  // a report alone draws no bar
}

}  // namespace
}  // namespace vok::cli
