// Late-bound calls by member name, as an automation host makes them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "voktools/export.h"
#include "voktools/variant.h"

namespace vok {
VOK_PUBLIC_BEGIN

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

class Dispatch;

// Runs a member on an object with the coerced arguments (for a let, the value
// is the last); by-reference arguments it changes are written back into them.
using MemberHandler = std::function<Variant(Dispatch&, std::vector<Variant>&)>;

struct MemberInfo {
  std::string_view name;
  int32_t dispid;
  MemberKind kind;
  // For properties: the parameters of get (let takes one more: the value).
  std::vector<ParamInfo> params;
  VarType result = VarType::kEmpty;      // kEmpty: no result
  VarType value_type = VarType::kEmpty;  // for properties: the type of the value
  MemberHandler call;                    // the method, or the property's get
  MemberHandler let;                     // the property's let; empty when read-only
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
};

// The helpers of MemberTable, instantiated inside each binary that builds a
// member table: not exported.
VOK_PUBLIC_END
namespace dispatch_internal {

// What an argument of C++ type T is held in while the member runs.
template <typename T>
using Held = std::conditional_t<std::is_same_v<std::remove_cvref_t<T>, std::string_view>,
                                std::string, std::remove_cvref_t<T>>;

template <typename T>
inline constexpr bool kIsRest = std::is_same_v<T, std::vector<Variant>>;

template <typename T>
T FromVariant(const Variant& v) {
  if constexpr (std::is_same_v<T, std::string>) {
    return v.ToText();
  } else if constexpr (std::is_same_v<T, bool>) {
    return v.ToBool();
  } else if constexpr (std::is_same_v<T, int16_t>) {
    return v.ToInt16();
  } else if constexpr (std::is_same_v<T, int32_t>) {
    return v.ToInt32();
  } else if constexpr (std::is_same_v<T, double>) {
    return v.ToDouble();
  } else if constexpr (std::is_same_v<T, TextArray>) {
    return v.ToTextArray();
  } else {
    static_assert(std::is_same_v<T, Variant>, "no conversion from a Variant to this type");
    return v;
  }
}

// The argument at index i as a T; a trailing std::vector<Variant> takes
// every argument from i on (a parameter array).
template <typename T>
T Take(const std::vector<Variant>& args, size_t i) {
  if constexpr (kIsRest<T>) {
    return T(args.begin() + static_cast<std::ptrdiff_t>(std::min(i, args.size())), args.end());
  } else {
    return FromVariant<T>(args.at(i));
  }
}

template <typename F>
struct MemberFunction;
template <typename C, typename R, typename... A>
struct MemberFunction<R (C::*)(A...)> {
  using Result = R;
  using Args = std::tuple<A...>;
};
template <typename C, typename R, typename... A>
struct MemberFunction<R (C::*)(A...) const> : MemberFunction<R (C::*)(A...)> {};

template <typename R, typename Run>
Variant ResultOf(Run&& run) {
  if constexpr (std::is_void_v<R>) {
    run();
    return Variant();
  } else {
    return Variant(run());
  }
}

// Calls a member function with the arguments converted to its parameter
// types; parameters taken by non-const reference are written back.
template <typename C, typename F, size_t... I>
Variant CallMember(C& self, F f, std::vector<Variant>& args, std::index_sequence<I...>) {
  using Args = typename MemberFunction<F>::Args;
  std::tuple<Held<std::tuple_element_t<I, Args>>...> held{
      Take<Held<std::tuple_element_t<I, Args>>>(args, I)...};
  Variant result = ResultOf<typename MemberFunction<F>::Result>(
      [&] { return (self.*f)(std::get<I>(held)...); });
  (
      [&] {
        using A = std::tuple_element_t<I, Args>;
        if constexpr (std::is_lvalue_reference_v<A> &&
                      !std::is_const_v<std::remove_reference_t<A>> && !kIsRest<Held<A>>) {
          args[I] = Variant(std::move(std::get<I>(held)));
        }
      }(),
      ...);
  return result;
}

// A handler from a member function of C, or from a callable taking
// (C&, std::vector<Variant>&).
template <typename C, typename F>
MemberHandler Handler(F f) {
  return [f](Dispatch& object, std::vector<Variant>& args) -> Variant {
    C& self = static_cast<C&>(object);
    if constexpr (std::is_member_function_pointer_v<F>) {
      constexpr size_t n = std::tuple_size_v<typename MemberFunction<F>::Args>;
      return CallMember(self, f, args, std::make_index_sequence<n>());
    } else {
      using R = std::invoke_result_t<F, C&, std::vector<Variant>&>;
      return ResultOf<R>([&] { return f(self, args); });
    }
  };
}

}  // namespace dispatch_internal
VOK_PUBLIC_BEGIN

// Builds the member table of class C: each entry names a member and binds it
// to a member function of C (or to a callable taking C& and the arguments).
template <typename C>
struct MemberTable {
  template <typename F>
  static MemberInfo Method(std::string_view name, int32_t dispid, std::vector<ParamInfo> params,
                           VarType result, F f) {
    return {name,   dispid,         MemberKind::kMethod, std::move(params),
            result, VarType::kEmpty, dispatch_internal::Handler<C>(f), {}};
  }

  // A read-only property.
  template <typename F>
  static MemberInfo Get(std::string_view name, int32_t dispid, VarType type, F get) {
    return {name, dispid, MemberKind::kGet, {}, type, VarType::kEmpty,
            dispatch_internal::Handler<C>(get), {}};
  }

  // A read-write property; kind says whether get or let comes first in the
  // interface. The getter and setter may share a name.
  template <typename R, typename T>
  static MemberInfo Property(std::string_view name, int32_t dispid, MemberKind kind, VarType type,
                             R (C::*get)() const, void (C::*let)(T)) {
    return {name, dispid, kind, {}, type, type, dispatch_internal::Handler<C>(get),
            dispatch_internal::Handler<C>(let)};
  }
  template <typename G, typename L>
  static MemberInfo Property(std::string_view name, int32_t dispid, MemberKind kind, VarType type,
                             G get, L let) {
    return {name, dispid, kind, {}, type, type, dispatch_internal::Handler<C>(std::move(get)),
            dispatch_internal::Handler<C>(std::move(let))};
  }
};

VOK_PUBLIC_END

}  // namespace vok
