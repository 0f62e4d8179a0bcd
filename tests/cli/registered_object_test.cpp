// Objects of the library registered in the store, called through its C
// interface, answer every call as this build's own objects of the class do:
// results, errors, by-reference outputs, events and the files they write.
#include "registered_object.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "frame/registration.h"
#include "support/fault_registry.h"
#include "support/scratch_dir.h"
#include "voktools/automation_error.h"
#include "voktools/class_table.h"
#include "voktools/factory.h"

namespace vok::cli {
namespace {

const std::string kBuiltLibrary = std::filesystem::canonical(VOK_LIBRARY_PATH).string();
const std::string kRtf = VOK_CORPUS_DIR "/rtf/rtfjs-wmf-and-emf.rtf";
const std::string kMif = VOK_CORPUS_DIR "/mif/ukparl-Compare-bookCMP.mif";

// One call; "$DIR/" in a text argument is the run's own folder. With
// on_result, the call is made on the object the previous call returned.
struct Step {
  std::string member;
  InvokeKind kind = InvokeKind::kMethod;
  std::vector<Variant> args = {};
  bool on_result = false;
};

// Everything a run shows: each call's result or error and its arguments
// afterwards, the events in between, and the folder's files at the end.
std::vector<std::string> RunSteps(const ObjectRef& object, std::vector<Step> steps,
                             const test::ScratchDir& dir) {
  std::vector<std::string> log;
  if (!object->EventNames().empty()) {
    object->Advise([&log](std::string_view event, int32_t, std::vector<Variant>& args) {
      log.push_back(std::string(event) + " " + args.at(0).ToText());
    });
  }
  auto shown = [&dir](const Variant& v) -> std::string {
    if (v.IsObject()) return v.ToObject() ? "object " + std::string(v.ToObject()->ClassName()) : "Nothing";
    if (v.type() == VarType::kTextArray) {
      std::string s = "[";
      for (const std::string& t : v.ToTextArray()) s += t + ",";
      return s + "]";
    }
    std::string s = v.ToText();
    for (size_t at; (at = s.find(dir.path())) != std::string::npos;) s.replace(at, dir.path().size(), "$DIR/");
    return std::string(VarTypeName(v.type())) + " " + s;
  };
  ObjectRef target = object, last;
  for (Step& step : steps) {
    for (Variant& a : step.args) {
      if (const std::string* t = a.get_if<std::string>(); t && t->starts_with("$DIR/")) {
        a = Variant(dir.path() + t->substr(5));
      }
    }
    ObjectRef on = step.on_result ? last : target;
    std::string line = step.member + ": ";
    try {
      const Variant result = on->Invoke(step.member, step.kind, step.args);
      if (result.IsObject()) last = result.ToObject();
      line += shown(result);
      for (const Variant& a : step.args) line += " | " + shown(a);
    } catch (const AutomationError& e) {
      line += "error " + std::to_string(e.number());
    }
    log.push_back(line);
  }
  for (const std::string& name : dir.Entries()) {
    log.push_back(name + ": " + std::to_string(test::ReadFile(dir / name).size()) + " bytes");
  }
  return log;
}

struct Script {
  std::string class_name;
  std::function<void(const test::ScratchDir&)> prepare;
  std::vector<Step> steps;
};

void PrintTo(const Script& s, std::ostream* os) { *os << s.class_name; }

constexpr auto kGet = InvokeKind::kPropertyGet;
constexpr auto kLet = InvokeKind::kPropertyLet;

const Script kScripts[] = {
    {"clsCommon",
     [](const test::ScratchDir& dir) { test::WriteFile(dir / "a.txt", "a"); },
     {{"strParseFileName", {}, {"C:\\dir\\file.txt", int16_t{2}}},
      {"FormatString", {}, {"%1 and %2", "one", int32_t{2}}},
      {"SandR", {}, {std::string("a\0b a", 5), "a", "xy"}},
      {"GetKeyValue", {}, {int32_t(0x80000001), "No\\Such\\Key", "", Variant()}},
      {"FileExists", {}, {"$DIR/a.txt"}},
      {"MoveFile", {}, {"$DIR/a.txt", "$DIR/b.txt", Variant::Nothing()}},
      {"MoveFile", {}, {"$DIR/missing", "$DIR/c.txt"}},
      {"FormatString", {}, {}},
      {"NoSuchMember", {}, {}}}},
    {"clsRTFUtil",
     [](const test::ScratchDir& dir) { test::WriteFile(dir / "d.rtf", test::ReadFile(kRtf)); },
     {{"RTFFile", kLet, {"$DIR/d.rtf"}},
      {"ObjFile", kLet, {"$DIR/d.obj"}},
      {"ExtractObjects"},
      {"RTFFile", kGet},
      {"InsertObjects"}}},
    {"clsRetrieveFile",
     [](const test::ScratchDir& dir) { test::WriteFile(dir / "l.txt", "one\r\ntwo\n"); },
     {{"Filename", kLet, {"$DIR/l.txt"}},
      {"OpenFile"},
      {"GetLineFromFile", {}, {"replaced"}},
      {"GetLineFromFile", {}, {Variant()}},
      {"GetLineFromFile", {}, {Variant()}},
      {"LineNumber", kGet}}},
    {"clsMIFUtilities",
     [](const test::ScratchDir& dir) { test::WriteFile(dir / "b.mif", test::ReadFile(kMif)); },
     {{"MIFFile", kLet, {"$DIR/b.mif"}},
      {"IndexFile", kLet, {"$DIR/b.idx"}},
      {"Extract"},
      {"MIFFile", kLet, {"$DIR/missing.mif"}},
      {"Extract"},
      {"ErrorList", kGet},
      {"Count", {}, {}, true},
      {"ErrorList", kGet},
      {"Item", {}, {int32_t{1}}, true},
      {"SplitOptions", kLet, {int32_t{70000}}}}},
};

class RegisteredObject : public testing::TestWithParam<Script> {
 protected:
  void SetUp() override { ASSERT_EQ(RegisterLibrary(store_, kBuiltLibrary), VOK_S_OK); }
  test::FaultRegistry store_;
};

TEST_P(RegisteredObject, AnswersAsThisBuildsObjectDoes) {
  const Script& script = GetParam();
  const ClassEntry* entry = FindClass("VOKTools." + script.class_name);
  ASSERT_NE(entry, nullptr);
  test::ScratchDir own_dir, registered_dir;
  script.prepare(own_dir);
  script.prepare(registered_dir);
  const auto own = RunSteps(CreateObject(entry->prog_id), script.steps, own_dir);
  const auto registered =
      RunSteps(CreateRegisteredObject(store_, entry->clsid), script.steps, registered_dir);
  EXPECT_EQ(registered, own);
  EXPECT_GT(own.size(), script.steps.size() - 1);
}

INSTANTIATE_TEST_SUITE_P(Classes, RegisteredObject, testing::ValuesIn(kScripts),
                         [](const auto& info) { return info.param.class_name; });

// Every class is made by class id and by programmatic name through the store;
// an unknown one, or one whose library is gone, is not.
TEST_F(RegisteredObject, MakesEveryRegisteredClassAndNothingElse) {
  for (const ClassEntry& entry : ClassTable()) {
    // These two connect to an office instance as they are made (their own
    // tests cover that).
    if (entry.class_name == "clsPPTUtil" || entry.class_name == "clsXLSUtil") continue;
    EXPECT_EQ(CreateRegisteredObject(store_, entry.clsid)->ClassName(), entry.class_name);
    EXPECT_EQ(CreateRegisteredObject(store_, entry.prog_id)->ClassName(), entry.class_name);
  }
  auto fails = [this](std::string_view name) {
    try {
      CreateRegisteredObject(store_, name);
      return 0;
    } catch (const AutomationError& e) {
      return e.number();
    }
  };
  EXPECT_EQ(fails("VOKTools.clsNothing"), err::kCannotCreateObject);
  EXPECT_EQ(fails("{00000000-0000-0000-0000-000000000000}"), err::kCannotCreateObject);
  test::ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.so").c_str(), 0600), 0);
  for (const std::string& library : {std::string("/no/such/libvoktools.so"), dir / "fifo.so"}) {
    ASSERT_EQ(RegisterLibrary(store_, library), VOK_S_OK);
    EXPECT_EQ(fails("VOKTools.clsCommon"), err::kCannotCreateObject) << library;
  }
}

}  // namespace
}  // namespace vok::cli
