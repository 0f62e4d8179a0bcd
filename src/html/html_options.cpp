#include "html/html_options.h"

#include <charconv>

#include "voktools/ascii.h"
#include "voktools/automation_error.h"
#include "voktools/messages.h"

namespace vok {

namespace {

std::string_view TrimSpaces(std::string_view s) {
  const size_t first = s.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view()
                                         : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

}  // namespace

const std::vector<frmHTMLOptions::Position>& frmHTMLOptions::Positions() {
  static const std::vector<Position> positions{
      {"fraTags", 60, 60, 3735, 3855},      {"lstTags", 180, 300, 2115, 2985},
      {"txtTag", 2400, 300, 1155, 315},     {"cmdAdd", 2400, 720, 1155, 375},
      {"cmdRemove", 2400, 1200, 1155, 375}, {"cmdClear", 2400, 1680, 1155, 375},
      {"chkOverlap", 180, 3420, 3375, 255}, {"cmdOK", 1380, 4020, 1155, 375},
      {"cmdCancel", 2640, 4020, 1155, 375},
  };
  return positions;
}

void frmHTMLOptions::Load() {
  captions_.clear();
  const std::pair<std::string_view, MessageId> ids[] = {
      {"frmHTMLOptions", MessageId::kOptionsCaption},
      {"fraTags", MessageId::kRecognizedTagsCaption},
      {"cmdAdd", MessageId::kAddCaption},
      {"cmdRemove", MessageId::kRemoveCaption},
      {"cmdClear", MessageId::kClearCaption},
      {"chkOverlap", MessageId::kOverlapCaption},
      {"cmdOK", MessageId::kOkCaption},
      {"cmdCancel", MessageId::kCancelCaption},
  };
  for (const auto& [control, id] : ids) captions_.push_back({control, std::string(Message(id))});
}

void frmHTMLOptions::Tags(std::string_view value) {
  lstTags.clear();
  ListIndex = -1;
  while (!value.empty()) {
    const size_t comma = value.find(',');
    const std::string_view item = value.substr(0, comma);
    value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    const size_t bar = item.find('|');
    if (bar == std::string_view::npos) {
      lstTags.push_back({std::string(item), 0});
      continue;
    }
    const std::string_view flag = TrimSpaces(item.substr(bar + 1));
    int32_t data = 0;
    const auto [end, ec] = std::from_chars(flag.data(), flag.data() + flag.size(), data);
    if (flag.empty() || ec != std::errc() || end != flag.data() + flag.size()) {
      throw AutomationError(err::kTypeMismatch);
    }
    lstTags.push_back({std::string(item.substr(0, bar)), data});
  }
  if (!lstTags.empty()) Select(0);
}

std::string frmHTMLOptions::Tags() const {
  std::string text;
  for (const Item& item : lstTags) text += item.text + "|" + std::to_string(item.data) + ",";
  return text;
}

void frmHTMLOptions::Select(int32_t index) {
  ListIndex = index;
  lstTags_Click();
}

void frmHTMLOptions::cmdAdd_Click() {
  const std::string upper = AsciiUpperCopy(TrimSpaces(txtTag));
  if (upper.empty()) return;
  for (const Item& item : lstTags) {
    if (item.text == upper) return;
  }
  lstTags.push_back({upper, 0});
  Select(static_cast<int32_t>(lstTags.size()) - 1);
}

void frmHTMLOptions::cmdRemove_Click() {
  if (ListIndex < 0 || ListIndex >= static_cast<int32_t>(lstTags.size())) return;
  int32_t i = ListIndex;
  lstTags.erase(lstTags.begin() + i);
  ListIndex = -1;
  if (i > static_cast<int32_t>(lstTags.size()) - 1) i = static_cast<int32_t>(lstTags.size()) - 1;
  if (!lstTags.empty()) Select(i);
}

void frmHTMLOptions::cmdClear_Click() {
  lstTags.clear();
  ListIndex = -1;
  lstTags_Click();
}

void frmHTMLOptions::chkOverlap_Click() {
  if (ListIndex >= 0 && ListIndex < static_cast<int32_t>(lstTags.size())) {
    lstTags[static_cast<size_t>(ListIndex)].data = chkOverlap ? 1 : 0;
  }
}

void frmHTMLOptions::lstTags_Click() {
  if (ListIndex >= 0 && ListIndex < static_cast<int32_t>(lstTags.size())) {
    chkOverlap = lstTags[static_cast<size_t>(ListIndex)].data == 1;
  }
}

void frmHTMLOptions::cmdOK_Click() {
  cancelled_ = false;
  visible_ = false;
}

void frmHTMLOptions::cmdCancel_Click() {
  cancelled_ = true;
  visible_ = false;
}

const ClassTypeInfo& frmHTMLOptions::TypeInfo() const {
  using C = frmHTMLOptions;
  using T = MemberTable<C>;
  using V = VarType;
  static const ClassTypeInfo info{
      "frmHTMLOptions",
      {
          T::Get("Name", 1, V::kText, &C::ClassName),
          T::Property("Tags", 2, MemberKind::kLetGet, V::kText, &C::Tags, &C::Tags),
          T::Get("Cancelled", 3, V::kBool, &C::Cancelled),
      }};
  return info;
}

}  // namespace vok
