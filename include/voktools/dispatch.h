// Late-bound calls by member name, as an automation host makes them.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "voktools/variant.h"

namespace vok {

enum class InvokeKind : uint8_t { kMethod, kPropertyGet, kPropertyLet };

enum class MemberKind : uint8_t {
  kMethod,
  kGet,     // property get only
  kGetLet,  // property get, then let, in the interface
  kLetGet,  // property let, then get, in the interface
};

struct ParamInfo {
  std::string_view name;
  VarType type = VarType::kVariant;
  bool by_ref = true;
  bool optional = false;
  bool out = false;                            // the member writes it back
  bool param_array = false;                    // the trailing variable-length list
  Variant default_value = Variant::Missing();  // for optional parameters
};

struct MemberInfo {
  std::string_view name;
  int32_t dispid;
  MemberKind kind;
  // For properties: the parameters of get (let takes one more: the value).
  std::vector<ParamInfo> params;
  VarType result = VarType::kEmpty;      // kEmpty: no result
  VarType value_type = VarType::kEmpty;  // for properties: the type of the value
};

struct ClassTypeInfo {
  std::string_view name;            // the class name, "clsCommon"
  std::vector<MemberInfo> members;  // in interface order

  // The member called name (ASCII case ignored), or null.
  const MemberInfo* Find(std::string_view name) const;
  const MemberInfo* Find(int32_t dispid) const;
};

// Receives the events of an object: the event's name, its dispatch id and its
// arguments (by-reference arguments may be changed by the sink).
using EventSink = std::function<void(std::string_view, int32_t, std::vector<Variant>&)>;

class Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  virtual ~Dispatch() = default;

  virtual const ClassTypeInfo& TypeInfo() const = 0;
  std::string_view ClassName() const { return TypeInfo().name; }

  // The member's dispatch id; AutomationError 438 when there is none.
  int32_t GetIDOfName(std::string_view name) const;

  // Calls a member. Arguments are coerced to the member's parameter types
  // (13 type mismatch, 6 overflow, 449 argument not optional, 450 too many);
  // by-reference output parameters are written back into args.
  Variant Invoke(int32_t dispid, InvokeKind kind, std::vector<Variant>& args);
  Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant>& args);

  // Conveniences for callers holding values.
  Variant Call(std::string_view name, std::vector<Variant> args = {});
  Variant Get(std::string_view name, std::vector<Variant> args = {});
  void Let(std::string_view name, Variant value);

  // Late-bound event connection; a class without events has nothing to raise.
  // Returns a cookie for Unadvise.
  virtual int32_t Advise(EventSink sink);
  virtual void Unadvise(int32_t cookie);
  // Names of the object's events ("Progress"), empty when it has none.
  virtual std::vector<std::string_view> EventNames() const { return {}; }

 protected:
  // Runs the member with coerced arguments (optionals filled with their
  // defaults, or Missing). For a let, the value is the last argument.
  virtual Variant DoInvoke(const MemberInfo& member, InvokeKind kind,
                           std::vector<Variant>& args) = 0;
};

}  // namespace vok
