// `voktools invoke`: request scripts through the command's pipes, and the
// host's parts in-process.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/child_process.h"
#include "invoke_describe.h"
#include "invoke_host.h"
#include "json_text.h"
#include "report.h"
#include "voktools/class_table.h"
#include "voktools/collection.h"
#include "voktools/factory.h"

namespace vok::test {
namespace {

using cli::Json;

const std::string kMif = "<MIFFile 7.00>\n<Marker <MType 2> <MText `print:laser'>>\n";
const std::string kCreateCommon = R"({"id":1,"create":"VOKTools.clsCommon"})" "\n";
const std::string kObjectOne = R"({"id":1,"ok":true,"object":1})" "\n";

// Malformed requests, one for each way the host words a problem, each
// answered with error 5 and its line, after which the host goes on: the
// request and its id, and the description.
struct Malformed {
  std::string line, id, description;
};
const Malformed kMalformed[] = {
    {"not json", "null", R"(not valid JSON: \"not\" at byte 1 is not a JSON value (texts go in double quotes))"},
    {R"({"id":1,"create":)", "null", "not valid JSON: the line ends before the request is complete"},
    {R"({"id":1,})", "null", "not valid JSON: unexpected '}' at byte 9; expected a string"},
    {R"({"id":1} {"id":2})", "null", "not valid JSON: more text at byte 10 after the request (one request per line)"},
    {R"({"id":-})", "null", "not valid JSON: a malformed number at byte 8: expected digit after '-'"},
    {"{\"id\":1,\"create\":\"a\tb\"}", "null", R"(not valid JSON: in a string at byte 20: control character U+0009 (HT) must be escaped to \\u0009 or \\t)"},
    {"{\"id\":1,\"create\":\"\xff\"}", "null", R"(not valid JSON: a string holds the byte 0xFF at byte 19, which is not UTF-8; send such a text as {\"hex\":\"..\"})"},
    {"[1,2]", "null", "a request must be a JSON object {..}, not an array"},
    {R"({"id":1,"id":2,"create":"Collection"})", "null", R"(the key \"id\" appears twice in one object)"},
    {R"({"id":1,"creat":"Collection"})", "1", R"(unknown key \"creat\")"},
    {R"({"id":1,"object":1,"call":"FileExists","value":2})", "1", R"(\"value\" does not belong in a \"call\" request)"},
    {R"({"id":2,"object":1})", "2", R"(nothing to do: a request needs one of \"create\", \"describe\", \"call\", \"get\", \"let\" or \"release\")"},
    {R"({"id":3,"create":"Collection","release":true})", "3", R"(\"create\" and \"release\" in one request; send them as two requests)"},
    {R"({"id":4,"call":"FileExists"})", "4", R"(no \"object\": which object is it for?)"},
    {R"({"id":5,"object":"1","call":"FileExists"})", "5", R"(\"object\" must be an object number, not a string)"},
    {R"({"id":6,"create":7})", "6", R"(\"create\" must be a class name (a string), not the number 7)"},
    {R"({"id":7,"object":1,"release":false})", "7", R"(\"release\" must be true, not false)"},
    {R"({"id":8,"object":1,"let":"X"})", "8", R"(\"let\" needs a \"value\")"},
    {R"({"id":9,"object":1,"call":"FileExists","args":[{"bytes":[1,256]}]})", "9", R"(argument 1: \"bytes\" holds integers 0 to 255, and item 2 is the number 256)"},
    {R"({"id":10,"object":1,"call":"FileExists","args":["a",{"hex":"abc"}]})", "10", R"(argument 2: \"hex\" takes pairs of hex digits)"},
    {R"({"id":11,"object":1,"call":"FileExists","args":[[1]]})", "11", "argument 1: an array holds strings only, and item 1 is the number 1"},
    {R"({"id":12,"object":1,"let":"X","value":{"x":1}})", "12", R"(\"value\": an object argument is {\"object\":N}, {\"bytes\":[..]} or {\"hex\":\"..\"})"},
};

CommandCase MalformedCase() {
  CommandCase c{"Malformed", {}, {"invoke"}, 0, kObjectOne, {}, "", kCreateCommon};
  int line = 1;
  for (const Malformed& m : kMalformed) {
    c.input += m.line + "\n";
    c.out += R"({"id":)" + m.id + R"(,"ok":false,"error":{"number":5,"description":"line )" +
             std::to_string(++line) + ": " + m.description + "\"}}\n";
  }
  // A blank line counts, and the host still answers.
  c.input += "\n" R"({"id":"next","object":1,"call":"SandR","args":["a","a","b"]})" "\n";
  c.out += R"({"id":"next","ok":true,"result":"b"})" "\n";
  return c;
}

// Values of every kind added to a Collection come back as they went in; a
// missing one is refused. The Collection holds itself.
CommandCase CollectionCase() {
  CommandCase c{"ValuesRoundTripThroughACollection", {}, {"invoke"}, 0,
                kObjectOne + R"({"id":2,"ok":true,"object":2})" "\n", {}, "",
                R"({"id":1,"create":"Collection"})" "\n" R"({"id":2,"create":"VOKTools.clsCommon"})" "\n"};
  for (const char* value : {R"({"bytes":[0,255]})", R"(["a",{"hex":"ff"}])", R"({"object":null})", "3000000000",
                            R"({"hex":"c3a9"})", R"({"object":2})", "null", R"({"object":1})"}) {
    c.input += R"({"id":3,"object":1,"call":"Add","args":[)" + std::string(value) + "]}\n";
    c.out += value == std::string("null")
                 ? R"({"id":3,"ok":false,"error":{"number":449,"description":"Argument not optional"}})" "\n"
                 : R"({"id":3,"ok":true,"result":null})" "\n";
  }
  c.input += R"({"id":5,"object":1,"call":"Item","args":[7]})" "\n" R"({"id":6,"object":1,"call":"Count"})" "\n";
  c.out += R"({"id":5,"ok":true,"result":{"object":1,"class":"Collection","items":[{"bytes":[0,255]},["a",{"hex":"ff"}],)"
           R"({"object":null},3000000000.0,"é",{"object":2,"class":"clsCommon"},{"object":1,"class":"Collection"}]}})" "\n"
           R"({"id":6,"ok":true,"result":7})" "\n";
  return c;
}

std::vector<CommandCase> Cases() {
  return {
      MalformedCase(),
      {"CallsAndTheirErrors", {}, {"invoke"}, 0,
       kObjectOne + R"({"id":3,"ok":true,"result":"a|7|True|2.5|3000000000"}
{"id":"by id","ok":true,"object":2}
{"id":5,"ok":true,"result":null}
{"id":7,"ok":false,"error":{"number":438,"description":"Object doesn't support this property or method"}}
{"id":10,"ok":false,"error":{"number":429,"description":"ActiveX component can't create object"}}
{"id":11,"ok":true}
{"id":12,"ok":false,"error":{"number":424,"description":"Object required"}}
{"id":13,"ok":false,"error":{"number":424,"description":"Object required"}}
{"id":14,"ok":true,"result":{"hex":"61fffe"}}
{"id":15,"ok":true,"result":"ütü"}
{"id":16,"ok":true,"object":3}
)",
       {}, "",
       kCreateCommon + R"({"id":3,"object":1,"call":"FormatString","args":["%1%|%2%|%3%|%4%|%5%","a",7,true,2.5,3000000000]}
{"id":"by id","create":"{926F290A-656B-4D25-9BF6-3C16AA206050}"}
{"id":5,"object":2,"call":"DeleteFile","args":["$DIR/none"]}
{"id":7,"object":1,"call":"NoSuchMember"}
{"id":10,"create":"VOKTools.NoSuchClass"}
{"id":11,"object":2,"release":true}
{"id":12,"object":2,"get":"Filename"}
{"id":13,"object":2,"release":true}
{"id":14,"object":1,"call":"SandR","args":[{"hex":"61ff62"},"b",{"hex":"fe"}]}
{"id":15,"object":1,"call":"SandR","args":["été","é","ü"]}
{"id":16,"create":"voktools.CLSCOMMON"}
)"},
      CollectionCase(),
      {"ReadsLinesThroughByRef", {{"in.txt", "a\r\nb\n\rc"}}, {"invoke"}, 0,
       R"({"id":1,"ok":true,"object":1}
{"id":2,"ok":true,"result":null}
{"id":4,"ok":true,"result":true}
{"id":5,"ok":true,"result":true,"byref":{"strLine":"a\r\n"}}
{"id":6,"ok":true,"result":true,"byref":{"strLine":"b\n\r"}}
{"id":7,"ok":true,"result":true,"byref":{"strLine":"c"}}
{"id":8,"ok":true,"result":false,"byref":{"strLine":""}}
{"id":9,"ok":true,"result":2}
)",
       {}, "",
       R"({"id":1,"create":"VOKTools.clsRetrieveFile"}
{"id":2,"object":1,"let":"Filename","value":"$DIR/in.txt"}
{"id":4,"object":1,"call":"OpenFile"}
{"id":5,"object":1,"call":"GetLineFromFile"}
{"id":6,"object":1,"call":"GetLineFromFile","args":["overwritten"]}
{"id":7,"object":1,"call":"GetLineFromFile"}
{"id":8,"object":1,"call":"GetLineFromFile"}
{"id":9,"object":1,"get":"LineNumber"}
)"},
      // The converters late-bound: a Progress event comes before the
      // response of the call that raised it, and one object carries a batch.
      {"ConvertersWithProgress",
       {{"page.asp", "<p><%= x %></p>"}, {"ch.mif", kMif}},
       {"invoke"}, 0,
       R"({"id":1,"ok":true,"object":1}
{"id":2,"ok":true,"result":null}
{"event":"Progress","object":1,"args":[100]}
{"id":3,"ok":true,"result":0}
{"id":5,"ok":true,"object":2}
{"id":6,"ok":true,"result":null}
{"id":7,"ok":true,"result":null}
{"event":"Progress","object":2,"args":[100]}
{"id":8,"ok":true,"result":0}
{"id":9,"ok":true,"result":0}
)",
       {}, "",
       R"({"id":1,"create":"VOKTools.clsASP2HTML"}
{"id":2,"object":1,"let":"ASPFile","value":"$DIR/page.asp"}
{"id":3,"object":1,"call":"ASP2HTML"}
{"id":5,"create":"VOKTools.clsMIFUtilities"}
{"id":6,"object":2,"call":"StartBatch"}
{"id":7,"object":2,"let":"MIFFile","value":"$DIR/ch.mif"}
{"id":8,"object":2,"call":"Extract"}
{"id":9,"object":2,"call":"EndBatch"}
)"},
  };
}

class CliInvoke : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliInvoke, AnswersEveryRequest) { CheckCommandCase(GetParam()); }

INSTANTIATE_TEST_SUITE_P(All, CliInvoke, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// An invoke host answering one request at a time, in-process.
class Session {
 public:
  Json Send(const Json& request) {
    out_.str("");
    host_.HandleLine(request.dump());
    return Json::parse(out_.str());
  }

 private:
  std::istringstream in_;
  std::ostringstream out_;
  cli::InvokeHost host_{in_, out_};
};

std::vector<std::string> ClassNames() {
  std::vector<std::string> names;
  for (const ClassEntry& entry : ClassTable()) names.emplace_back(entry.prog_id);
  names.emplace_back("Collection");
  return names;
}

// What describe says of a class is its member table, in order, and the
// shapes it gives are the ones calls check before any member runs: a let
// where the kind has none (438), an argument more than the parameters (450),
// none where one is required (449).
class CliInvokeDescribe : public ::testing::TestWithParam<std::string> {};

TEST_P(CliInvokeDescribe, AgreesWithTheMemberTableAndTheCalls) {
  const std::string& name = GetParam();
  const ClassEntry* entry = FindClass(name);
  Session session;
  Json answer = session.Send({{"id", 1}, {"describe", name}});
  if (entry != nullptr && !IsClassAvailable(*entry)) {
    EXPECT_EQ(answer, session.Send({{"id", 1}, {"create", name}}));
    EXPECT_EQ(answer["error"]["number"], 429);
    return;
  }
  if (entry != nullptr) {
    const std::string id(entry->clsid);
    EXPECT_EQ(session.Send({{"id", 1}, {"describe", id.substr(1, id.size() - 2)}}), answer);
  }
  ASSERT_EQ(session.Send({{"id", 2}, {"create", name}})["object"], 1);
  ObjectRef object = name == "Collection" ? Collection::Create() : CreateObject(name);
  const std::vector<MemberInfo>& members = object->TypeInfo().members;
  EXPECT_EQ(answer["class"], object->ClassName());
  const std::vector<std::string_view> events = object->EventNames();
  EXPECT_EQ(answer["events"], Json(std::vector<std::string>(events.begin(), events.end())));
  ASSERT_EQ(answer["members"].size(), members.size());
  auto error = [&](const Json& member, const std::string& action, size_t args) -> Json {
    Json request = {{"id", 3}, {"object", 1}, {action, member["name"]}};
    if (args > 0) request["args"] = Json(std::vector<Json>(args, nullptr));
    if (action == "let") request["value"] = nullptr;
    return session.Send(request)["error"]["number"];
  };
  for (size_t i = 0; i < members.size(); ++i) {
    const Json& m = answer["members"][i];
    const Json& params = m["params"];
    SCOPED_TRACE(m.dump());
    EXPECT_EQ(m["name"], members[i].name);
    ASSERT_EQ(params.size(), members[i].params.size());
    for (size_t k = 0; k < params.size(); ++k) EXPECT_EQ(params[k]["byref"], members[i].params[k].by_ref);
    const bool let = m["kind"] == "get/let" || m["kind"] == "let/get";
    EXPECT_EQ(error(m, "let", params.size() + 1), let ? 450 : 438);
    bool param_array = false, required = false;
    for (const Json& p : params) {
      param_array = param_array || p["paramarray"] == true;
      required = required || (p["optional"] == false && p["paramarray"] == false && p["out"] == false);
    }
    if (!param_array) {
      EXPECT_EQ(error(m, "call", params.size() + 1), 450);
    }
    if (required) {
      EXPECT_EQ(error(m, "call", 0), 449);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, CliInvokeDescribe, ::testing::ValuesIn(ClassNames()),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(n.find('.') + 1);
                         });

TEST(CliInvokeReference, CommittedFileIsInStepWithTheClassTable) {
  const std::string path =
      (std::filesystem::path(__FILE__).parent_path() / "../../cli/INVOKE.md").lexically_normal();
  const std::string document = ReadFile(path);
  EXPECT_EQ(cli::WithCurrentReference(document), document)
      << path << " is out of step with the class table; regenerate it with "
      << "cmake --build <build folder> --target invoke_reference";
  EXPECT_EQ(cli::WithCurrentReference("intro\n" + std::string(cli::kReferenceMarker) + "\n### x\n"),
            "intro\n" + cli::ReferenceMarkdown());
  EXPECT_EQ(Session().Send({{"id", 1}, {"describe", "*"}})["classes"].size(), ClassTable().size() + 1);
}

// A class with a Progress event: Run(n) raises it with 50, then with n.
class Ticker : public Dispatch {
 public:
  const ClassTypeInfo& TypeInfo() const override {
    static const ClassTypeInfo info{
        "clsTicker", {MemberTable<Ticker>::Method("Run", 1, {{"n", VarType::kInt16}}, VarType::kInt32, &Ticker::Run)}};
    return info;
  }
  std::vector<std::string_view> EventNames() const override { return {"Progress"}; }
  int32_t Advise(EventSink sink) override { return sinks.emplace(sinks.size() + 1, std::move(sink)).first->first; }
  void Unadvise(int32_t cookie) override { sinks.erase(cookie); }
  int32_t Run(int16_t n) {
    for (int16_t v : {int16_t{50}, n}) {
      for (auto& [cookie, sink] : sinks) {
        std::vector<Variant> event_args{Variant(v)};
        sink("Progress", 1, event_args);
      }
    }
    return 7;
  }
  std::map<int32_t, EventSink> sinks;
};

// Events come before the response of the call that raised them; a release,
// or the end of the host, disconnects them.
TEST(CliInvokeHost, EventsComeBeforeTheResponseUntilReleased) {
  auto ticker = std::make_shared<Ticker>();
  for (const bool release : {true, false}) {
    std::istringstream in(R"({"id":1,"create":"Test.Ticker"}
{"id":2,"object":1,"call":"Run","args":[100]}
)" + std::string(release ? R"({"id":3,"object":1,"release":true})" : ""));
    std::ostringstream out;
    {
      cli::InvokeHost host(in, out, [&](std::string_view) -> ObjectRef { return ticker; });
      host.Run();
      EXPECT_EQ(ticker->sinks.size(), release ? 0u : 1u);
    }
    EXPECT_EQ(ticker->sinks.size(), 0u);
    EXPECT_EQ(out.str(), std::string("{\"id\":1,\"ok\":true,\"object\":1}\n"
                                     "{\"event\":\"Progress\",\"object\":1,\"args\":[50]}\n"
                                     "{\"event\":\"Progress\",\"object\":1,\"args\":[100]}\n"
                                     "{\"id\":2,\"ok\":true,\"result\":7}\n") +
                             (release ? "{\"id\":3,\"ok\":true}\n" : ""));
  }
}

// Texts travel as JSON strings when they are UTF-8 (the JSON library's own
// check on output is the model), as hex otherwise, and come back byte for
// byte: short texts of the bytes where UTF-8's ranges begin and end.
TEST(CliTextInJson, TravelsAsStringOrHexAndBack) {
  const unsigned char kBytes[] = {0,    'a',  0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                  0xC0, 0xC2, 0xDF, 0xE0, 0xED, 0xF0, 0xF4, 0xF5, 0xFF};
  std::mt19937 rng(7);
  for (int i = 0; i < 50000; ++i) {
    std::string text;
    for (size_t n = rng() % 5; n > 0; --n) text += static_cast<char>(kBytes[rng() % std::size(kBytes)]);
    bool utf8 = true;
    try {
      Json(text).dump();
    } catch (const Json::type_error&) {
      utf8 = false;
    }
    const Json j = cli::TextToJson(text);
    ASSERT_EQ(j.is_string(), utf8) << j.dump();
    ASSERT_EQ(cli::TextFromJson(Json::parse(j.dump())), text) << j.dump();
  }
}

// The exit status is the largest result, held to 1..63; a JSON report keeps
// each entry whole, and a name that is not UTF-8 as hex.
TEST(CliReporter, ExitStatusAndJsonEntries) {
  for (const auto& [results, status] : {std::pair<std::vector<int>, int>{{100, 0}, 63}, {{-3}, 1}}) {
    std::ostringstream out, err;
    cli::Reporter reporter({}, out, err, false);
    cli::FileReport report;
    for (int r : results) {
      report.result = r;
      reporter.Report(report);
    }
    EXPECT_EQ(reporter.ExitStatus(), status) << ::testing::PrintToString(results);
  }
  cli::FileReport report;
  report.result = 1;
  report.errors = {"a\r\nb"};
  report.files = {{"F", "a\xFF"}};
  std::ostringstream json, err;
  cli::Reporter({.json = true}, json, err, true).Report(report);
  EXPECT_EQ(json.str(), R"({"result":1,"errors":["a\r\nb"],"warnings":[],"files":{"F":{"hex":"61ff"}}})" "\n");
  EXPECT_EQ(err.str(), "");  // a report alone draws no bar
}

}  // namespace
}  // namespace vok::test
