#include <gtest/gtest.h>

#include <tuple>

#include "frame/forms.h"
#include "support/errors.h"
#include "support/fault_file_system.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"

namespace vok {
namespace {

// A host window: Width, Height, Move, TextWidth (10 units a character, 1 a
// dot), Name.
class HostForm : public Dispatch {
 public:
  HostForm(double w, double h, std::string name = "frmHost")
      : width(w), height(h), name(std::move(name)) {}
  double width, height, left = -1, top = -1;
  std::string name;

  const ClassTypeInfo& TypeInfo() const override {
    static const ClassTypeInfo info{
        "HostForm",
        {{"Width", 1, MemberKind::kGet, {}, VarType::kDouble},
         {"Height", 2, MemberKind::kGet, {}, VarType::kDouble},
         {"Move", 3, MemberKind::kMethod, {{.name = "Left"}, {.name = "Top"}}, VarType::kEmpty},
         {"TextWidth",
          4,
          MemberKind::kMethod,
          {{.name = "Str", .type = VarType::kText}},
          VarType::kDouble},
         {"Name", 5, MemberKind::kGet, {}, VarType::kText}}};
    return info;
  }

 protected:
  Variant DoInvoke(const MemberInfo& m, InvokeKind, std::vector<Variant>& a) override {
    switch (m.dispid) {
      case 1:
        return width;
      case 2:
        return height;
      case 3:
        left = a[0].ToDouble(), top = a[1].ToDouble();
        return {};
      case 4: {
        double w = 0;
        for (char ch : a[0].ToText()) w += ch == '.' ? 1 : 10;
        return w;
      }
      case 5:
        return name;
    }
    return {};
  }
};

// A host text box: SelStart, SelLength, Text.
class HostTextBox : public Dispatch {
 public:
  std::string text = "select me";
  int32_t sel_start = 3, sel_length = 1;

  const ClassTypeInfo& TypeInfo() const override {
    static const ClassTypeInfo info{
        "HostTextBox",
        {{"SelStart", 1, MemberKind::kGetLet, {}, VarType::kInt32, VarType::kInt32},
         {"SelLength", 2, MemberKind::kGetLet, {}, VarType::kInt32, VarType::kInt32},
         {"Text", 3, MemberKind::kGetLet, {}, VarType::kText, VarType::kText}}};
    return info;
  }

 protected:
  Variant DoInvoke(const MemberInfo& m, InvokeKind kind, std::vector<Variant>& a) override {
    bool let = kind == InvokeKind::kPropertyLet;
    switch (m.dispid) {
      case 1:
        return let ? (sel_start = a[0].ToInt32(), Variant()) : Variant(sel_start);
      case 2:
        return let ? (sel_length = a[0].ToInt32(), Variant()) : Variant(sel_length);
      case 3:
        return let ? (text = a[0].ToText(), Variant()) : Variant(text);
    }
    return {};
  }
};

using test::ErrorNumber;

TEST(CentreForm, MovesToTheMiddleWithFractionalHalvesOrFailsClearly) {
  test::TestEnv t;  // headless
  clsCommon c;
  auto form = std::make_shared<HostForm>(300, 201);
  EXPECT_EQ(ErrorNumber([&] { c.CentreForm(Variant(form)); }), 445);
  EXPECT_EQ(form->left, -1);
  test::FixedScreen screen(1025, 768);
  t.env.windowing = &screen;
  c.CentreForm(Variant(form));
  EXPECT_DOUBLE_EQ(form->left, 362.5);
  EXPECT_DOUBLE_EQ(form->top, 283.5);
  EXPECT_EQ(ErrorNumber([&] { c.CentreForm(Variant("not a window")); }), 424);
  EXPECT_EQ(ErrorNumber([&] { c.CentreForm(Variant::Nothing()); }), 91);
  // A box has no Width.
  EXPECT_EQ(ErrorNumber([&] { c.CentreForm(Variant(std::make_shared<HostTextBox>())); }), 438);
}

TEST(HighLight, SelectsTheWholeText) {
  clsCommon c;
  auto box = std::make_shared<HostTextBox>();
  c.Call("HighLight", {Variant(box)});
  EXPECT_EQ(box->sel_start, 0);
  EXPECT_EQ(box->sel_length, 9);
}

// A caption too wide loses characters in its middle, where dots stand.
TEST(SetCaption, ShortensInTheMiddle) {
  clsCommon c;
  auto form = std::make_shared<HostForm>(0, 0);
  const std::tuple<std::string, int32_t, std::string> cases[] = {
      {"fits", 40, "fits"},            // unchanged, no dots
      {"abcde", 40, "a....de"},        // 5 / 2 rounds to 2
      {"abcdefg", 60, "abc....fg"},    // 7 / 2 rounds to 4
      {"abcdefgh", 70, "abc....fgh"},  // even: plain half
      {"abcdefgh", 30, "a....h"},      // shortened three times
      {"", 0, ""}};
  for (const auto& [caption, max, expected] : cases) {
    EXPECT_EQ(c.SetCaption(caption, Variant(form), max), expected) << caption << " " << max;
  }
  EXPECT_EQ(ErrorNumber([&] { c.SetCaption("abcdef", Variant(form), 3); }), 5);
  EXPECT_EQ(ErrorNumber([&] { c.SetCaption("x", Variant(form), 5); }), 5);
}

TEST(IsLoaded, SeesOnlyTheLibrarysLoadedWindowsByExactName) {
  clsCommon c;
  EXPECT_FALSE(c.IsLoaded("frmHTMLOptions"));
  auto form = std::make_shared<HostForm>(0, 0, "frmHTMLOptions");
  RegisterLoadedForm(form);
  EXPECT_TRUE(c.IsLoaded("frmHTMLOptions"));
  EXPECT_FALSE(c.IsLoaded("frmhtmloptions"));
  UnregisterLoadedForm(form.get());
  EXPECT_FALSE(c.IsLoaded("frmHTMLOptions"));
}

}  // namespace
}  // namespace vok
