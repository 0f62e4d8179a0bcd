// `voktools invoke` end to end: requests through the command's pipes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/child_process.h"
#include "support/scratch_dir.h"

namespace vok::test {
namespace {

using Json = nlohmann::json;  // sorted keys: dumps compare regardless of order

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
  for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) {
    s.replace(p, from.size(), to);
  }
  return s;
}

class Host {
 public:
  Host() : child_({"invoke"}) {}
  // The response to line; event lines before it go to events.
  Json Send(const std::string& line) {
    child_.Write(line + "\n");
    while (std::optional<std::string> out = child_.ReadLine()) {
      Json j = Json::parse(*out);
      if (!j.contains("event")) return j;
      events.push_back(j);
    }
    return "no response";
  }
  int Finish() { return child_.Finish(); }

  std::vector<Json> events;

 private:
  ChildProcess child_;
};

struct Exchange {
  std::string request, response;
};
struct Script {
  std::string name;
  std::string file;  // written to $DIR/in.txt first
  std::vector<Exchange> steps;
};

void PrintTo(const Script& s, std::ostream* os) { *os << s.name; }

class CliInvokeScript : public ::testing::TestWithParam<Script> {};

TEST_P(CliInvokeScript, AnswersEveryRequest) {
  ScratchDir dir;
  WriteFile(dir / "in.txt", GetParam().file);
  Host host;
  for (const Exchange& step : GetParam().steps) {
    std::string request = ReplaceAll(step.request, "$DIR/", dir.path());
    EXPECT_EQ(host.Send(request).dump(), Json::parse(step.response).dump()) << request;
  }
  EXPECT_TRUE(host.events.empty());
  EXPECT_EQ(host.Finish(), 0);
}

const Script kScripts[] = {
    {"ParseAndFormat",
     "",
     {{R"({"id":1,"create":"VOKTools.clsCommon"})", R"({"id":1,"ok":true,"object":1})"},
      {R"({"id":2,"object":1,"call":"strParseFileName","args":["C:\\dir\\file.txt",0]})",
       R"({"id":2,"ok":true,"result":"C:\\dir\\"})"},
      {R"({"id":3,"object":1,"call":"strParseFileName","args":["C:\\dir\\file.txt",2]})",
       R"({"id":3,"ok":true,"result":"txt"})"},
      {R"({"id":4,"object":1,"call":"FormatString","args":["%1%|%2%|%3%|%4%|%5%","a",7,true,2.5,3000000000]})",
       R"({"id":4,"ok":true,"result":"a|7|True|2.5|3000000000"})"},
      {R"({"id":"by id","create":"{926F290A-656B-4D25-9BF6-3C16AA206050}"})",
       R"({"id":"by id","ok":true,"object":2})"},
      {R"({"id":5,"object":2,"call":"DeleteFile","args":["$DIR/none"]})",
       R"({"id":5,"ok":true,"result":null})"}}},
    {"CallErrors",
     "",
     {{R"({"id":1,"create":"VOKTools.clsCommon"})", R"({"id":1,"ok":true,"object":1})"},
      {R"({"id":2,"object":1,"call":"strParseFileName","args":["x",40000]})",
       R"({"id":2,"ok":false,"error":{"number":6,"description":"Overflow"}})"},
      {R"({"id":3,"object":1,"call":"NoSuchMember"})",
       R"({"id":3,"ok":false,"error":{"number":438,"description":"Object doesn't support this property or method"}})"},
      {R"({"id":4,"object":1,"call":"SandR","args":["a"]})",
       R"({"id":4,"ok":false,"error":{"number":449,"description":"Argument not optional"}})"},
      {R"({"id":5,"create":"VOKTools.clsUNCName"})",
       R"({"id":5,"ok":false,"error":{"number":429,"description":"class not available in this build"}})"},
      {R"({"id":6,"create":"VOKTools.NoSuchClass"})",
       R"({"id":6,"ok":false,"error":{"number":429,"description":"ActiveX component can't create object"}})"},
      {R"({"id":7,"object":99,"get":"Filename"})",
       R"({"id":7,"ok":false,"error":{"number":424,"description":"Object required"}})"}}},
    {"ReleasedObjectIsGone",
     "",
     {{R"({"id":1,"create":"VOKTools.clsCommon"})", R"({"id":1,"ok":true,"object":1})"},
      {R"({"id":2,"object":1,"release":true})", R"({"id":2,"ok":true})"},
      {R"({"id":3,"object":1,"call":"FileExists","args":["x"]})",
       R"({"id":3,"ok":false,"error":{"number":424,"description":"Object required"}})"},
      {R"({"id":4,"object":1,"release":true})",
       R"({"id":4,"ok":false,"error":{"number":424,"description":"Object required"}})"},
      {R"({"id":5,"create":"VOKTools.clsCommon"})", R"({"id":5,"ok":true,"object":2})"}}},
    {"ValuesRoundTripThroughACollection",
     "",
     {{R"({"id":1,"create":"Collection"})", R"({"id":1,"ok":true,"object":1})"},
      {R"({"id":2,"object":1,"call":"Add","args":[{"bytes":[0,255]}]})",
       R"({"id":2,"ok":true,"result":null})"},
      {R"({"id":3,"object":1,"call":"Add","args":[["a",{"hex":"ff"}]]})",
       R"({"id":3,"ok":true,"result":null})"},
      {R"({"id":4,"object":1,"call":"Add","args":[{"object":null}]})",
       R"({"id":4,"ok":true,"result":null})"},
      {R"({"id":5,"object":1,"call":"Add","args":[3000000000]})",
       R"({"id":5,"ok":true,"result":null})"},
      {R"({"id":6,"object":1,"call":"Add","args":[{"hex":"c3a9"}]})",
       R"({"id":6,"ok":true,"result":null})"},
      {R"({"id":7,"object":1,"call":"Add","args":[null]})",
       R"({"id":7,"ok":false,"error":{"number":449,"description":"Argument not optional"}})"},
      {R"({"id":8,"object":1,"call":"Item","args":[1]})",
       R"({"id":8,"ok":true,"result":{"bytes":[0,255]}})"},
      {R"({"id":9,"object":1,"call":"Item","args":[2]})",
       R"({"id":9,"ok":true,"result":["a",{"hex":"ff"}]})"},
      {R"({"id":10,"object":1,"call":"Item","args":[3]})",
       R"({"id":10,"ok":true,"result":{"object":null}})"},
      {R"({"id":11,"object":1,"call":"Item","args":[4]})",
       R"({"id":11,"ok":true,"result":3000000000.0})"},
      {R"({"id":12,"object":1,"call":"Item","args":[5]})", R"({"id":12,"ok":true,"result":"é"})"},
      {R"({"id":13,"object":1,"call":"Count"})", R"({"id":13,"ok":true,"result":5})"}}},
    {"SameObjectSameNumber",
     "",
     {{R"({"id":1,"create":"Collection"})", R"({"id":1,"ok":true,"object":1})"},
      {R"({"id":2,"create":"VOKTools.clsCommon"})", R"({"id":2,"ok":true,"object":2})"},
      {R"({"id":3,"object":1,"call":"Add","args":[{"object":2}]})",
       R"({"id":3,"ok":true,"result":null})"},
      {R"({"id":4,"object":1,"call":"Add","args":[{"object":1}]})",
       R"({"id":4,"ok":true,"result":null})"},
      {R"({"id":5,"object":1,"call":"Item","args":[1]})",
       R"({"id":5,"ok":true,"result":{"object":2,"class":"clsCommon"}})"},
      {R"({"id":6,"object":1,"call":"Item","args":[2]})",
       R"({"id":6,"ok":true,"result":{"object":1,"class":"Collection","items":[{"object":2,"class":"clsCommon"},{"object":1,"class":"Collection"}]}})"}}},
    {"ReadsLinesThroughByRef",
     "a\r\nb\n\rc",
     {{R"({"id":1,"create":"VOKTools.clsRetrieveFile"})", R"({"id":1,"ok":true,"object":1})"},
      {R"({"id":2,"object":1,"let":"Filename","value":"$DIR/in.txt"})",
       R"({"id":2,"ok":true,"result":null})"},
      {R"({"id":3,"object":1,"let":"ChunkSize","value":1})", R"({"id":3,"ok":true,"result":null})"},
      {R"({"id":4,"object":1,"call":"OpenFile"})", R"({"id":4,"ok":true,"result":true})"},
      {R"({"id":5,"object":1,"call":"GetLineFromFile"})",
       R"({"id":5,"ok":true,"result":true,"byref":{"strLine":"a\r\n"}})"},
      {R"({"id":6,"object":1,"call":"GetLineFromFile","args":["overwritten"]})",
       R"({"id":6,"ok":true,"result":true,"byref":{"strLine":"b\n\r"}})"},
      {R"({"id":7,"object":1,"call":"GetLineFromFile"})",
       R"({"id":7,"ok":true,"result":true,"byref":{"strLine":"c"}})"},
      {R"({"id":8,"object":1,"call":"GetLineFromFile"})",
       R"({"id":8,"ok":true,"result":false,"byref":{"strLine":""}})"},
      {R"({"id":9,"object":1,"get":"LineNumber"})", R"({"id":9,"ok":true,"result":2})"}}},
    {"NonUtf8TextsTravelAsHex",
     "",
     {{R"({"id":1,"create":"VOKTools.clsCommon"})", R"({"id":1,"ok":true,"object":1})"},
      {R"({"id":2,"object":1,"call":"SandR","args":[{"hex":"61ff62"},"b",{"hex":"fe"}]})",
       R"({"id":2,"ok":true,"result":{"hex":"61fffe"}})"},
      {R"({"id":3,"object":1,"call":"SandR","args":["été","é","ü"]})",
       R"({"id":3,"ok":true,"result":"ütü"})"},
      {R"({"id":4,"object":1,"call":"FileExists","args":[{"hex":"2f6e6fff"}]})",
       R"({"id":4,"ok":true,"result":false})"}}},
};

INSTANTIATE_TEST_SUITE_P(All, CliInvokeScript, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return info.param.name; });

TEST(CliInvokeCommand, MoveFileFillsAHostCollection) {
  ScratchDir dir;
  WriteFile(dir / "from.txt", "new");
  Host host;
  host.Send(R"({"id":1,"create":"VOKTools.clsCommon"})");
  host.Send(R"({"id":2,"create":"Collection"})");
  auto move = [&](const std::string& from, const std::string& to) {
    return host.Send(R"({"id":3,"object":1,"call":"MoveFile","args":[")" + from + R"(",")" + to +
                     R"(",{"object":2}]})")["result"];
  };
  EXPECT_EQ(move(dir / "from.txt", dir / "to.txt"), 0);
  EXPECT_EQ(ReadFile(dir / "to.txt"), "new");
  EXPECT_EQ(host.Send(R"({"id":4,"object":2,"call":"Count"})")["result"], 0);

  EXPECT_EQ(move(dir / "missing.txt", dir / "to.txt"), 1);
  EXPECT_EQ(host.Send(R"({"id":5,"object":2,"call":"Count"})")["result"], 1);
  std::string item = host.Send(R"({"id":6,"object":2,"call":"Item","args":[1]})")["result"];
  EXPECT_EQ(item.rfind("Error copying to : " + dir / "to.txt" + "\r\n", 0), 0u) << item;
}

struct Malformed {
  std::string name, line;
  Json id;
};

void PrintTo(const Malformed& m, std::ostream* os) { *os << m.name; }

class CliInvokeMalformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(CliInvokeMalformed, AnswersError5AndGoesOn) {
  Host host;
  host.Send(R"({"id":0,"create":"VOKTools.clsCommon"})");
  Json error = host.Send(GetParam().line);
  EXPECT_EQ(error["id"], GetParam().id);
  EXPECT_EQ(error["ok"], false);
  EXPECT_EQ(error["error"]["number"], 5) << error.dump();
  EXPECT_EQ(host.Send("\n"
                      R"({"id":"next","object":1,"call":"SandR","args":["a","a","b"]})")
                .dump(),
            R"({"id":"next","ok":true,"result":"b"})");
}

const Malformed kMalformed[] = {
    {"NotJson", "not json", nullptr},
    {"NotAnObject", "[1,2]", nullptr},
    {"InvalidUtf8", "{\"id\":1,\"create\":\"\xff\"}", nullptr},
    {"NoAction", R"({"id":2,"object":1})", 2},
    {"TwoActions", R"({"id":3,"create":"Collection","release":true})", 3},
    {"ArgsNotArray", R"({"id":4,"object":1,"call":"FileExists","args":"x"})", 4},
    {"ObjectNotNumber", R"({"id":5,"object":"1","call":"FileExists"})", 5},
    {"CreateNotText", R"({"id":6,"create":7})", 6},
    {"ReleaseFalse", R"({"id":7,"object":1,"release":false})", 7},
    {"LetWithoutValue", R"({"id":8,"object":1,"let":"X"})", 8},
    {"ByteOutOfRange", R"({"id":9,"object":1,"call":"FileExists","args":[{"bytes":[256]}]})", 9},
    {"OddHex", R"({"id":10,"object":1,"call":"FileExists","args":[{"hex":"abc"}]})", 10},
    {"ArrayOfNumbers", R"({"id":11,"object":1,"call":"FileExists","args":[[1]]})", 11},
    {"UnknownObjectShape", R"({"id":12,"object":1,"call":"FileExists","args":[{"x":1}]})", 12},
};

INSTANTIATE_TEST_SUITE_P(All, CliInvokeMalformed, ::testing::ValuesIn(kMalformed),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vok::test
