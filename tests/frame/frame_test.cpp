#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "support/errors.h"
#include "voktools/automation_error.h"
#include "voktools/class_table.h"
#include "voktools/collection.h"
#include "voktools/events.h"
#include "voktools/factory.h"
#include "voktools/host.h"
#include "voktools/variant.h"

namespace vok {
namespace {

using test::ErrorNumber;

TEST(Variant, ConvertsLikeTheRuntime) {
  const std::pair<Variant, std::string> texts[] = {
      {Variant(), ""}, {true, "True"}, {int16_t{-32768}, "-32768"}, {int32_t{70000}, "70000"},
      {0.1, "0.1"}, {-2.0, "-2"}, {1e20, "1E+20"}, {1.25e-7, "1.25E-7"},
      {123456789012345.0, "123456789012345"}, {ByteArray{'h', 'i', 0xFF}, "hi\xFF"}};
  for (const auto& [value, text] : texts) EXPECT_EQ(value.ToText(), text);
  EXPECT_EQ(Variant(2.5).ToInt16(), 2);
  EXPECT_EQ(Variant(3.5).ToInt16(), 4);
  EXPECT_EQ(Variant(-2.5).ToInt32(), -2);
  EXPECT_EQ(Variant(" 42 ").ToInt32(), 42);
  EXPECT_EQ(Variant("&HFFFF").ToInt16(), -1);
  EXPECT_EQ(Variant(true).ToInt32(), -1);
  EXPECT_EQ(ErrorNumber([] { Variant(int32_t{32768}).ToInt16(); }), 6);
  EXPECT_EQ(ErrorNumber([] { Variant(3e9).ToInt32(); }), 6);
  EXPECT_EQ(ErrorNumber([] { Variant("12abc").ToInt32(); }), 13);
  EXPECT_EQ(ErrorNumber([] { Variant("").ToInt32(); }), 13);
  EXPECT_EQ(ErrorNumber([] { Variant(TextArray{"a"}).ToText(); }), 13);
  EXPECT_EQ(ErrorNumber([] { Variant("x").ToObject(); }), 424);
  EXPECT_TRUE(Variant("TRUE").ToBool());
  EXPECT_FALSE(Variant("0").ToBool());
}

TEST(Collection, IsOneBasedAndSharedLive) {
  auto list = Collection::Create();
  ObjectRef held = list;  // what a host keeps
  list->Add("first");
  list->Add(int32_t{2});
  held->Call("Add", {"third"});
  EXPECT_EQ(held->Call("Item", {int32_t{1}}).ToText(), "first");
  held->Call("Remove", {int32_t{1}});
  EXPECT_EQ(list->Item(1).ToInt32(), 2);
  EXPECT_EQ(held->Get("Count").ToInt32(), 2);
  EXPECT_EQ(ErrorNumber([&] { list->Item(0); }), 9);
  EXPECT_EQ(ErrorNumber([&] { list->Item(3); }), 9);
  EXPECT_EQ(ErrorNumber([&] { list->Remove(5); }), 9);
  list->Clear();
  EXPECT_EQ(held->Get("Count").ToInt32(), 0);
  EXPECT_EQ(ErrorNumber([&] { list->Advise([](auto, auto, auto&) {}); }), 445);  // no events
}

TEST(ClassTable, IdentifiersAreWellFormedAndDistinct) {
  std::set<std::string_view> ids{kTypeLibId};
  for (const ClassEntry& c : ClassTable()) {
    EXPECT_EQ(c.prog_id, "VOKTools." + std::string(c.class_name));
    for (std::string_view id : {c.clsid, c.iid, c.event_iid, c.earlier_iid}) {
      if (id.empty()) continue;
      bool well_formed = id.size() == 38;
      for (size_t i = 0; well_formed && i < id.size(); ++i) {
        const char want = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"[i];
        well_formed = want == 'X' ? std::isxdigit(static_cast<unsigned char>(id[i])) && !std::islower(id[i])
                                  : id[i] == want;
      }
      EXPECT_TRUE(well_formed) << id;
      EXPECT_TRUE(ids.insert(id).second) << "duplicate " << id;
    }
  }
}

// A class with a Progress event, raised from its one method with 10 and 60.
template <typename Arg>
class Ticker : public Dispatch {
 public:
  ProgressEvent<Arg> progress;
  std::vector<int16_t> raised_values;  // as the class sees them afterwards

  const ClassTypeInfo& TypeInfo() const override {
    static const ClassTypeInfo info{
        "Ticker", {MemberTable<Ticker>::Method("Run", 1, {}, VarType::kEmpty, &Ticker::Run)}};
    return info;
  }
  int32_t Advise(EventSink sink) override { return progress.AdviseSink(std::move(sink)); }
  void Unadvise(int32_t cookie) override { progress.UnadviseSink(cookie); }
  std::vector<std::string_view> EventNames() const override { return {"Progress"}; }
  void Run() {
    for (int16_t p : {int16_t{10}, int16_t{60}}) {
      progress.Raise(p);
      raised_values.push_back(p);
    }
  }
};

// Typed handlers, then late-bound sinks, then one turn of the message loop;
// only a by-reference event gives the class the handlers' changes.
template <typename Arg>
void CheckEvents(const std::vector<int16_t>& raised) {
  int pumps = 0;
  SetMessagePump([&] { ++pumps; });
  auto ticker = std::make_shared<Ticker<Arg>>();
  std::vector<std::string> seen;
  ticker->progress.Connect([&](Arg p) { seen.push_back("typed " + std::to_string(p++)); });
  int32_t cookie = ticker->Advise([&](std::string_view name, int32_t dispid, std::vector<Variant>& a) {
    seen.push_back(std::string(name) + ":" + std::to_string(dispid) + ":" + a[0].ToText());
    a[0] = Variant(static_cast<int16_t>(a[0].ToInt16() * 2));
  });
  ticker->Call("Run");
  const bool by_ref = std::is_reference_v<Arg>;
  EXPECT_EQ(seen, (std::vector<std::string>{"typed 10", by_ref ? "Progress:1:11" : "Progress:1:10",
                                            "typed 60", by_ref ? "Progress:1:61" : "Progress:1:60"}));
  EXPECT_EQ(ticker->raised_values, raised);
  EXPECT_EQ(pumps, 2);
  ticker->Unadvise(cookie);
  ticker->Call("Run");
  EXPECT_EQ(seen.size(), 6u);  // the typed handler only
  SetMessagePump(nullptr);
}

TEST(Events, ReachHandlersThenSinksThenPumpMessages) {
  CheckEvents<int16_t>({10, 60});
  CheckEvents<int16_t&>({22, 122});
}

}  // namespace
}  // namespace vok
