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
  std::string description;  // after "line 2: "
};

void PrintTo(const Malformed& m, std::ostream* os) { *os << m.name; }

class CliInvokeMalformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(CliInvokeMalformed, SaysWhatIsWrongAndGoesOn) {
  Host host;
  host.Send(R"({"id":0,"create":"VOKTools.clsCommon"})");
  Json error = host.Send(GetParam().line);
  EXPECT_EQ(error["id"], GetParam().id);
  EXPECT_EQ(error["ok"], false);
  EXPECT_EQ(error["error"]["number"], 5) << error.dump();
  EXPECT_EQ(error["error"]["description"], "line 2: " + GetParam().description);
  EXPECT_EQ(host.Send("\n"
                      R"({"id":"next","object":1,"call":"SandR","args":["a","a","b"]})")
                .dump(),
            R"({"id":"next","ok":true,"result":"b"})");
  // The blank line counts.
  EXPECT_EQ(host.Send("[]")["error"]["description"],
            "line 5: a request must be a JSON object {..}, not an array");
}

const Malformed kMalformed[] = {
    {"NotJson", "not json", nullptr,
     R"(not valid JSON: "not" at byte 1 is not a JSON value (texts go in double quotes))"},
    {"SingleQuotes", "{'id':1}", nullptr,
     R"(not valid JSON: "'" at byte 2 is not a JSON value (texts go in double quotes))"},
    {"CutShort", R"({"id":1,"create":)", nullptr,
     "not valid JSON: the line ends before the request is complete"},
    {"TrailingComma", R"({"id":1,})", nullptr,
     "not valid JSON: unexpected '}' at byte 9; expected a string"},
    {"TwoOnOneLine", R"({"id":1} {"id":2})", nullptr,
     "not valid JSON: more text at byte 10 after the request (one request per line)"},
    {"BadNumber", R"({"id":-})", nullptr,
     "not valid JSON: a malformed number at byte 8: expected digit after '-'"},
    {"TabInString", "{\"id\":1,\"create\":\"a\tb\"}", nullptr,
     "not valid JSON: in a string at byte 20: control character U+0009 (HT) must be escaped to "
     "\\u0009 or \\t"},
    {"InvalidUtf8", "{\"id\":1,\"create\":\"\xff\"}", nullptr,
     "not valid JSON: a string holds the byte 0xFF at byte 19, which is not UTF-8; send such a "
     "text as {\"hex\":\"..\"}"},
    {"NotAnObject", "[1,2]", nullptr, "a request must be a JSON object {..}, not an array"},
    {"KeyTwice", R"({"id":1,"id":2,"create":"Collection"})", nullptr,
     R"(the key "id" appears twice in one object)"},
    {"UnknownKey", R"({"id":1,"creat":"Collection"})", 1, R"(unknown key "creat")"},
    {"MisspeltArgs", R"({"id":1,"object":1,"call":"FileExists","arg":["x"]})", 1,
     R"(unknown key "arg")"},
    {"KeyOfAnotherAction", R"({"id":1,"object":1,"call":"FileExists","value":2})", 1,
     R"("value" does not belong in a "call" request)"},
    {"NoAction", R"({"id":2,"object":1})", 2,
     R"(nothing to do: a request needs one of "create", "describe", "call", "get", "let" or "release")"},
    {"TwoActions", R"({"id":3,"create":"Collection","release":true})", 3,
     R"("create" and "release" in one request; send them as two requests)"},
    {"NoObject", R"({"id":4,"call":"FileExists"})", 4, R"(no "object": which object is it for?)"},
    {"ArgsNotArray", R"({"id":4,"object":1,"call":"FileExists","args":"x"})", 4,
     R"("args" must be an array, not a string)"},
    {"ObjectNotNumber", R"({"id":5,"object":"1","call":"FileExists"})", 5,
     R"("object" must be an object number, not a string)"},
    {"CreateNotText", R"({"id":6,"create":7})", 6,
     R"("create" must be a class name (a string), not the number 7)"},
    {"MemberNotText", R"({"id":6,"object":1,"get":["x"]})", 6,
     R"("get" must be a member name (a string), not an array)"},
    {"ReleaseFalse", R"({"id":7,"object":1,"release":false})", 7,
     R"("release" must be true, not false)"},
    {"LetWithoutValue", R"({"id":8,"object":1,"let":"X"})", 8, R"("let" needs a "value")"},
    {"ByteOutOfRange", R"({"id":9,"object":1,"call":"FileExists","args":[{"bytes":[1,256]}]})", 9,
     R"(argument 1: "bytes" holds integers 0 to 255, and item 2 is the number 256)"},
    {"OddHex", R"({"id":10,"object":1,"call":"FileExists","args":["a",{"hex":"abc"}]})", 10,
     R"(argument 2: "hex" takes pairs of hex digits)"},
    {"ArrayOfNumbers", R"({"id":11,"object":1,"call":"FileExists","args":[[1]]})", 11,
     "argument 1: an array holds strings only, and item 1 is the number 1"},
    {"UnknownObjectShape", R"({"id":12,"object":1,"call":"FileExists","args":[{"x":1}]})", 12,
     R"(argument 1: an object argument is {"object":N}, {"bytes":[..]} or {"hex":".."})"},
    {"MalformedForAnUnknownObject", R"({"id":13,"object":99,"call":"X","args":"x"})", 13,
     R"("args" must be an array, not a string)"},
    {"LetValueShape", R"({"id":13,"object":1,"let":"X","value":{"x":1}})", 13,
     R"("value": an object argument is {"object":N}, {"bytes":[..]} or {"hex":".."})"},
};

INSTANTIATE_TEST_SUITE_P(All, CliInvokeMalformed, ::testing::ValuesIn(kMalformed),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vok::test
