// frmHTMLOptions: the options dialog of clsHTMLValidate as a model of its
// controls, so that it can be driven without a window system (tests call
// the event handlers as a user's clicks would) and drawn by one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "voktools/dispatch.h"

namespace vok {

class frmHTMLOptions : public Dispatch {
 public:
  struct Item {
    std::string text;
    int32_t data = 0;  // the overlap flag, 0 or 1
  };
  // A control's caption, from the message catalogue when the form loads.
  struct Caption {
    std::string_view control;
    std::string text;
  };
  // Positions in twips (left, top, width, height); those of the controls
  // inside fraTags are relative to it.
  struct Position {
    std::string_view control;
    int32_t left, top, width, height;
  };
  static constexpr int32_t kClientWidth = 3885;
  static constexpr int32_t kClientHeight = 4470;
  static const std::vector<Position>& Positions();

  // The form's load event: sets the eight captions.
  void Load();
  const std::vector<Caption>& Captions() const { return captions_; }

  // Fills the list from "NAME|FLAG," items (an item without "|" gets flag
  // 0; a flag that is not a number stops with error 13) and selects the
  // first item.
  void Tags(std::string_view value);
  std::string Tags() const;
  // Set by OK (false) and Cancel (true); false while neither was pressed.
  bool Cancelled() const { return cancelled_; }
  bool Visible() const { return visible_; }
  void Show() { visible_ = true; }

  // The controls' state.
  std::vector<Item> lstTags;
  int32_t ListIndex = -1;  // the selected item, -1 for none
  std::string txtTag;
  bool chkOverlap = false;

  // Event handlers.
  void cmdAdd_Click();
  void cmdRemove_Click();
  void cmdClear_Click();
  void chkOverlap_Click();
  void lstTags_Click();
  void cmdOK_Click();
  void cmdCancel_Click();

  const ClassTypeInfo& TypeInfo() const override;

 private:
  void Select(int32_t index);

  std::vector<Caption> captions_;
  bool cancelled_ = false;
  bool visible_ = false;
};

}  // namespace vok
