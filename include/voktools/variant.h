// The values that cross the automation interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "voktools/export.h"

namespace vok {

VOK_PUBLIC_BEGIN

class Dispatch;

using ByteArray = std::vector<uint8_t>;
using TextArray = std::vector<std::string>;
using ObjectRef = std::shared_ptr<Dispatch>;

enum class VarType : uint8_t {
  kEmpty,
  kMissing,  // an omitted optional argument
  kBool,
  kInt16,
  kInt32,
  kDouble,
  kText,
  kBytes,
  kTextArray,
  kObject,   // an object reference, possibly the empty one (Nothing)
  kVariant,  // in member tables: any of the above, passed as it is
};

const char* VarTypeName(VarType t);

// A text is a byte string: one byte is one character.
class Variant {
 public:
  struct MissingTag {};

  Variant() = default;
  Variant(MissingTag) : v_(MissingTag{}) {}
  Variant(bool b) : v_(b) {}
  Variant(int16_t i) : v_(i) {}
  Variant(int32_t i) : v_(i) {}
  Variant(double d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(ByteArray b) : v_(std::move(b)) {}
  Variant(TextArray a) : v_(std::move(a)) {}
  Variant(ObjectRef o) : v_(std::move(o)) {}
  template <typename T>
  requires std::is_base_of_v<Dispatch, T> Variant(std::shared_ptr<T> o)
      : v_(ObjectRef(std::move(o))) {}

  static Variant Missing() { return Variant(MissingTag{}); }
  static Variant Nothing() { return Variant(ObjectRef()); }

  VarType type() const;
  bool IsEmpty() const { return type() == VarType::kEmpty; }
  bool IsMissing() const { return type() == VarType::kMissing; }
  bool IsObject() const { return type() == VarType::kObject; }

  // The runtime's conversions; AutomationError 13 (type mismatch) or 6
  // (overflow) when the value does not convert.
  std::string ToText() const;
  int16_t ToInt16() const;
  int32_t ToInt32() const;
  double ToDouble() const;
  bool ToBool() const;
  const ByteArray& ToBytes() const;
  const TextArray& ToTextArray() const;
  // The object held; error 424 (object required) for anything else. May be null.
  ObjectRef ToObject() const;

  // Converts to t (kVariant leaves the value as it is).
  Variant CoerceTo(VarType t) const;

  // Raw access for hosts that map values to their own types.
  template <typename T>
  const T* get_if() const {
    return std::get_if<T>(&v_);
  }
  template <typename T>
  T* get_if() {
    return std::get_if<T>(&v_);
  }

  bool operator==(const Variant& other) const { return v_ == other.v_; }

 private:
  friend bool operator==(MissingTag, MissingTag) { return true; }
  std::variant<std::monostate, MissingTag, bool, int16_t, int32_t, double, std::string, ByteArray,
               TextArray, ObjectRef>
      v_;
};

// Automation text of a double: up to 15 significant digits, no trailing zeros,
// exponent form "1E+20" for very large or small magnitudes.
std::string DoubleToText(double d);

VOK_PUBLIC_END

}  // namespace vok
