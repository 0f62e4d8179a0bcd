#include <gtest/gtest.h>

#include <tuple>

#include "frame/forms.h"
#include "support/errors.h"
#include "support/fault_file_system.h"
#include "voktools/automation_error.h"
#include "voktools/collection.h"
#include "voktools/common.h"

namespace vok {
namespace {

// A host window: Width, Height, Move, TextWidth (10 units a character, 1 a
// dot), Name, and a text box's SelStart, SelLength and Text.
class HostForm : public Dispatch {
 public:
  HostForm(double w, double h, std::string name = "frmHost")
      : width(w), height(h), name(std::move(name)) {}
  double width, height, left = -1, top = -1;
  std::string name, text = "select me";
  int32_t sel_start = 3, sel_length = 1;

  const ClassTypeInfo& TypeInfo() const override {
    using T = MemberTable<HostForm>;
    using V = VarType;
    auto int_property = [](std::string_view n, int32_t id, int32_t HostForm::*field) {
      return T::Property(
          n, id, MemberKind::kGetLet, V::kInt32, [field](HostForm& f, auto&) { return f.*field; },
          [field](HostForm& f, std::vector<Variant>& a) { f.*field = a[0].ToInt32(); });
    };
    static const ClassTypeInfo info{
        "HostForm",
        {T::Get("Width", 1, V::kDouble, [](HostForm& f, auto&) { return f.width; }),
         T::Get("Height", 2, V::kDouble, [](HostForm& f, auto&) { return f.height; }),
         T::Method("Move", 3, {{.name = "Left"}, {.name = "Top"}}, V::kEmpty, &HostForm::Move),
         T::Method("TextWidth", 4, {{.name = "Str", .type = V::kText}}, V::kDouble,
                   &HostForm::TextWidth),
         T::Get("Name", 5, V::kText, [](HostForm& f, auto&) { return f.name; }),
         int_property("SelStart", 6, &HostForm::sel_start),
         int_property("SelLength", 7, &HostForm::sel_length),
         T::Get("Text", 8, V::kText, [](HostForm& f, auto&) { return f.text; })}};
    return info;
  }
  void Move(const Variant& l, const Variant& t) { left = l.ToDouble(), top = t.ToDouble(); }
  double TextWidth(const std::string& s) {
    double w = 0;
    for (char ch : s) w += ch == '.' ? 1 : 10;
    return w;
  }
};

using test::ErrorNumber;

TEST(WindowHelpers, CentreHighLightAndIsLoaded) {
  test::TestEnv t;  // headless
  clsCommon c;
  auto form = std::make_shared<HostForm>(300, 201, "frmHTMLOptions");
  EXPECT_EQ(ErrorNumber([&] { c.CentreForm(Variant(form)); }), 445);
  EXPECT_EQ(form->left, -1);
  test::FixedScreen screen(1025, 768);
  t.env.windowing = &screen;
  c.CentreForm(Variant(form));
  EXPECT_DOUBLE_EQ(form->left, 362.5);
  EXPECT_DOUBLE_EQ(form->top, 283.5);
  EXPECT_EQ(ErrorNumber([&] { c.CentreForm(Variant("not a window")); }), 424);
  EXPECT_EQ(ErrorNumber([&] { c.CentreForm(Variant::Nothing()); }), 91);
  EXPECT_EQ(ErrorNumber([&] { c.CentreForm(Variant(Collection::Create())); }), 438);  // no Width
  c.Call("HighLight", {Variant(form)});
  EXPECT_EQ(form->sel_start, 0);
  EXPECT_EQ(form->sel_length, 9);
  // Only the library's loaded windows, by exact name.
  EXPECT_FALSE(c.IsLoaded("frmHTMLOptions"));
  RegisterLoadedForm(form);
  EXPECT_TRUE(c.IsLoaded("frmHTMLOptions"));
  EXPECT_FALSE(c.IsLoaded("frmhtmloptions"));
  UnregisterLoadedForm(form.get());
  EXPECT_FALSE(c.IsLoaded("frmHTMLOptions"));
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

}  // namespace
}  // namespace vok
