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
    using T = MemberTable<HostForm>;
    using V = VarType;
    static const ClassTypeInfo info{
        "HostForm",
        {T::Get("Width", 1, V::kDouble, [](HostForm& f, auto&) { return f.width; }),
         T::Get("Height", 2, V::kDouble, [](HostForm& f, auto&) { return f.height; }),
         T::Method("Move", 3, {{.name = "Left"}, {.name = "Top"}}, V::kEmpty, &HostForm::Move),
         T::Method("TextWidth", 4, {{.name = "Str", .type = V::kText}}, V::kDouble,
                   &HostForm::TextWidth),
         T::Get("Name", 5, V::kText, [](HostForm& f, auto&) { return f.name; })}};
    return info;
  }

  void Move(const Variant& l, const Variant& t) { left = l.ToDouble(), top = t.ToDouble(); }
  double TextWidth(const std::string& s) {
    double w = 0;
    for (char ch : s) w += ch == '.' ? 1 : 10;
    return w;
  }
};

// A host text box: SelStart, SelLength, Text.
class HostTextBox : public Dispatch {
 public:
  std::string text = "select me";
  int32_t sel_start = 3, sel_length = 1;

  const ClassTypeInfo& TypeInfo() const override {
    static const ClassTypeInfo info{"HostTextBox",
                                    {Field("SelStart", 1, VarType::kInt32, &HostTextBox::sel_start),
                                     Field("SelLength", 2, VarType::kInt32, &HostTextBox::sel_length),
                                     Field("Text", 3, VarType::kText, &HostTextBox::text)}};
    return info;
  }

 private:
  // A read-write property backed by a data member.
  template <typename F>
  static MemberInfo Field(std::string_view name, int32_t dispid, VarType type,
                          F HostTextBox::*field) {
    return MemberTable<HostTextBox>::Property(
        name, dispid, MemberKind::kGetLet, type,
        [field](HostTextBox& box, auto&) { return Variant(box.*field); },
        [field](HostTextBox& box, std::vector<Variant>& a) {
          box.*field = dispatch_internal::FromVariant<F>(a[0]);
        });
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
