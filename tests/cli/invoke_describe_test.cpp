// `describe` and the class reference of cli/INVOKE.md against the member
// tables that calls go through.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "invoke_describe.h"
#include "invoke_host.h"
#include "support/scratch_dir.h"
#include "voktools/class_table.h"
#include "voktools/collection.h"
#include "voktools/factory.h"

namespace vok::cli {
namespace {

// An invoke host answering one request at a time.
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
  InvokeHost host_{in_, out_};
};

std::vector<std::string> ClassNames() {
  std::vector<std::string> names;
  for (const ClassEntry& entry : ClassTable()) names.emplace_back(entry.prog_id);
  names.emplace_back("Collection");
  return names;
}

ObjectRef Make(const std::string& name) {
  return name == "Collection" ? Collection::Create() : CreateObject(name);
}

bool Available(const std::string& name) {
  const ClassEntry* entry = FindClass(name);
  return entry == nullptr || IsClassAvailable(*entry);
}

std::string KindOf(MemberKind kind) {
  switch (kind) {
    case MemberKind::kMethod:
      return "method";
    case MemberKind::kGet:
      return "get";
    case MemberKind::kGetLet:
      return "get/let";
    case MemberKind::kLetGet:
      return "let/get";
  }
  return "?";
}

class CliInvokeDescribe : public ::testing::TestWithParam<std::string> {};

TEST_P(CliInvokeDescribe, AnswersTheMemberTableOrTheErrorOfCreating) {
  const std::string& name = GetParam();
  Session session;
  Json answer = session.Send({{"id", "d"}, {"describe", name}});
  if (!Available(name)) {
    EXPECT_EQ(answer, session.Send({{"id", "d"}, {"create", name}}));
    EXPECT_EQ(answer["error"]["number"], 429);
    return;
  }
  ASSERT_EQ(answer["ok"], true) << answer.dump();
  ObjectRef object = Make(name);
  const ClassTypeInfo& info = object->TypeInfo();
  EXPECT_EQ(answer["class"], info.name);
  EXPECT_EQ(answer["progid"], name);
  Json events = Json::array();
  for (std::string_view e : object->EventNames()) events.push_back(e);
  EXPECT_EQ(answer["events"], events);

  const Json& members = answer["members"];
  ASSERT_EQ(members.size(), info.members.size());
  for (size_t i = 0; i < members.size(); ++i) {
    const MemberInfo& m = info.members[i];
    const Json& j = members[i];
    SCOPED_TRACE(std::string(m.name));
    EXPECT_EQ(j["name"], m.name);
    EXPECT_EQ(j["dispid"], m.dispid);
    EXPECT_EQ(j["kind"], KindOf(m.kind));
    EXPECT_EQ(j["result"], m.result == VarType::kEmpty ? Json() : Json(VarTypeName(m.result)));
    const bool let = m.kind == MemberKind::kGetLet || m.kind == MemberKind::kLetGet;
    EXPECT_EQ(j.contains("value"), let);
    if (let) {
      EXPECT_EQ(j["value"], VarTypeName(m.value_type));
    }
    ASSERT_EQ(j["params"].size(), m.params.size());
    for (size_t k = 0; k < m.params.size(); ++k) {
      const ParamInfo& p = m.params[k];
      const Json& jp = j["params"][k];
      EXPECT_EQ(jp["name"], p.name);
      EXPECT_EQ(jp["type"], VarTypeName(p.type));
      EXPECT_EQ(jp["byref"], p.by_ref);
      EXPECT_EQ(jp["optional"], p.optional);
      EXPECT_EQ(jp["out"], p.out);
      EXPECT_EQ(jp["paramarray"], p.param_array);
      EXPECT_EQ(jp.contains("default"), p.optional && !p.default_value.IsMissing());
    }
  }

  // By class id, with or without braces, the same answer.
  if (const ClassEntry* entry = FindClass(name)) {
    std::string id(entry->clsid);
    EXPECT_EQ(answer["clsid"], id);
    EXPECT_EQ(session.Send({{"id", "d"}, {"describe", id}}), answer);
    EXPECT_EQ(session.Send({{"id", "d"}, {"describe", id.substr(1, id.size() - 2)}}), answer);
  }
}

INSTANTIATE_TEST_SUITE_P(All, CliInvokeDescribe, ::testing::ValuesIn(ClassNames()),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(n.find('.') + 1);
                         });

class CliInvokeDescribedShapes : public ::testing::TestWithParam<std::string> {};

// What describe says about kinds and parameters is what calls check, before
// any member runs: a let where the kind has none (438), one argument more
// than the parameters (450), no arguments where one is required (449).
TEST_P(CliInvokeDescribedShapes, AreTheOnesCallsCheck) {
  const std::string& name = GetParam();
  Session session;
  Json members = session.Send({{"id", 1}, {"describe", name}})["members"];
  ASSERT_EQ(session.Send({{"id", 2}, {"create", name}})["object"], 1);
  auto error = [&](const Json& member, const std::string& action, size_t args) -> Json {
    Json request = {{"id", 3}, {"object", 1}, {action, member["name"]}};
    if (args > 0) request["args"] = Json(std::vector<Json>(args, nullptr));
    if (action == "let") request["value"] = nullptr;
    return session.Send(request)["error"]["number"];
  };
  for (const Json& m : members) {
    SCOPED_TRACE(m.dump());
    const Json& params = m["params"];
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

std::vector<std::string> AvailableClassNames() {
  std::vector<std::string> names = ClassNames();
  std::erase_if(names, [](const std::string& n) { return !Available(n); });
  return names;
}

INSTANTIATE_TEST_SUITE_P(Available, CliInvokeDescribedShapes,
                         ::testing::ValuesIn(AvailableClassNames()), [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(n.find('.') + 1);
                         });

TEST(CliInvokeDescribe, StarListsTheClassTableThenCollection) {
  Session session;
  Json classes = session.Send({{"id", 1}, {"describe", "*"}})["classes"];
  ASSERT_EQ(classes.size(), ClassTable().size() + 1);
  for (size_t i = 0; i < ClassTable().size(); ++i) {
    const ClassEntry& entry = ClassTable()[i];
    EXPECT_EQ(classes[i]["progid"], entry.prog_id);
    EXPECT_EQ(classes[i]["clsid"], entry.clsid);
    EXPECT_EQ(classes[i]["available"], IsClassAvailable(entry));
  }
  EXPECT_EQ(classes.back()["progid"], "Collection");
}

std::string InvokeMdPath() {
  return (std::filesystem::path(__FILE__).parent_path() / "../../cli/INVOKE.md").lexically_normal();
}

TEST(CliInvokeReference, CommittedFileIsInStepWithTheClassTable) {
  std::string document = vok::test::ReadFile(InvokeMdPath());
  std::optional<std::string> current = WithCurrentReference(document);
  ASSERT_TRUE(current) << InvokeMdPath() << " has no line starting with " << kReferenceMarker;
  EXPECT_EQ(document, *current)
      << InvokeMdPath() << " is out of step with the class table; regenerate it with "
      << "cmake --build <build folder> --target invoke_reference";
}

// Every class that this build holds has a section whose rows are its
// members in interface order.
TEST(CliInvokeReference, ListsEveryMemberInOrder) {
  std::string reference = ReferenceMarkdown();
  for (const std::string& name : ClassNames()) {
    if (!Available(name)) continue;
    ObjectRef object = Make(name);
    SCOPED_TRACE(name);
    size_t at = reference.find("\n### " + std::string(object->ClassName()) + "\n");
    ASSERT_NE(at, std::string::npos);
    size_t end = reference.find("\n### ", at + 1);
    std::istringstream section(reference.substr(at, end - at));
    std::vector<std::string> rows, expected;
    for (std::string line; std::getline(section, line);) {
      if (line.starts_with("| `")) rows.push_back(line.substr(0, line.find(" | ", line.find(" | ") + 3)));
    }
    for (const MemberInfo& m : object->TypeInfo().members) {
      expected.push_back("| `" + std::string(m.name) + "` | " + std::to_string(m.dispid));
    }
    EXPECT_EQ(rows, expected);
  }
}

TEST(CliInvokeReference, ReplacesWhatFollowsTheMarker) {
  const std::string marker(kReferenceMarker);
  EXPECT_EQ(WithCurrentReference("intro\n" + marker + "\n### stale\n"), "intro\n" + ReferenceMarkdown());
  EXPECT_EQ(WithCurrentReference("intro\nnot " + marker + "\n"), std::nullopt);
}

}  // namespace
}  // namespace vok::cli
