// The automation runtime's ordered Collection: items addressed from 1.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {
VOK_PUBLIC_BEGIN

class Collection : public Dispatch {
 public:
  static std::shared_ptr<Collection> Create() { return std::make_shared<Collection>(); }

  void Add(Variant item) {
    if (drain_) {
      drain_(std::move(item));
    } else {
      items_.push_back(std::move(item));
    }
  }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Error 9 (subscript out of range) outside 1..Count.
  const Variant& Item(int32_t index) const;
  void Remove(int32_t index);
  // Removes every item at once (the same end as removing item 1 until none
  // is left, in linear time).
  void Clear();

  // The items as texts, in order (for hosts printing an error list).
  std::vector<std::string> Texts() const;
  // The same, moved out; the collection is left empty.
  std::vector<std::string> TakeTexts();

  // For C++ hosts: the items added from now on go to take instead of into
  // the collection (a host that passes on a long error list as it grows);
  // an empty take ends that.
  void DrainTo(std::function<void(Variant)> take) { drain_ = std::move(take); }

  const ClassTypeInfo& TypeInfo() const override;

 private:
  std::vector<Variant> items_;
  std::function<void(Variant)> drain_;
};

VOK_PUBLIC_END

}  // namespace vok
