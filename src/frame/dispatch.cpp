#include "voktools/dispatch.h"

#include <cctype>

#include "voktools/ascii.h"
#include "voktools/automation_error.h"

namespace vok {

namespace {

bool AcceptsKind(MemberKind member, InvokeKind kind) {
  switch (member) {
    case MemberKind::kMethod:
      return kind != InvokeKind::kPropertyLet;
    case MemberKind::kGet:
      return kind != InvokeKind::kPropertyLet;
    case MemberKind::kGetLet:
    case MemberKind::kLetGet:
      return true;
  }
  return false;
}

}  // namespace

const MemberInfo* ClassTypeInfo::Find(std::string_view member_name) const {
  for (const MemberInfo& m : members) {
    if (EqualsIgnoreCase(m.name, member_name)) return &m;
  }
  return nullptr;
}

const MemberInfo* ClassTypeInfo::Find(int32_t dispid) const {
  for (const MemberInfo& m : members) {
    if (m.dispid == dispid) return &m;
  }
  return nullptr;
}

int32_t Dispatch::GetIDOfName(std::string_view name) const {
  const MemberInfo* m = TypeInfo().Find(name);
  if (m == nullptr) throw AutomationError(err::kNotSupported);
  return m->dispid;
}

Variant Dispatch::Invoke(std::string_view name, InvokeKind kind, std::vector<Variant>& args) {
  return Invoke(GetIDOfName(name), kind, args);
}

Variant Dispatch::Invoke(int32_t dispid, InvokeKind kind, std::vector<Variant>& args) {
  const MemberInfo* m = TypeInfo().Find(dispid);
  if (m == nullptr || !AcceptsKind(m->kind, kind)) throw AutomationError(err::kNotSupported);
  if (m->kind != MemberKind::kMethod && kind == InvokeKind::kMethod)
    kind = InvokeKind::kPropertyGet;

  std::vector<ParamInfo> params = m->params;
  if (kind == InvokeKind::kPropertyLet) {
    ParamInfo value;
    value.name = "value";
    value.type = m->value_type;
    value.by_ref = false;
    params.push_back(value);
  }
  bool has_param_array = !params.empty() && params.back().param_array;
  if (!has_param_array && args.size() > params.size()) {
    throw AutomationError(err::kWrongArgumentCount);
  }

  std::vector<Variant> coerced;
  coerced.reserve(std::max(args.size(), params.size()));
  for (size_t i = 0; i < params.size(); ++i) {
    const ParamInfo& p = params[i];
    if (p.param_array) {
      for (size_t j = i; j < args.size(); ++j) coerced.push_back(args[j]);
      break;
    }
    if (i < args.size() && !args[i].IsMissing()) {
      coerced.push_back(args[i].CoerceTo(p.type));
    } else if (p.optional) {
      coerced.push_back(p.default_value);
    } else {
      throw AutomationError(err::kArgumentNotOptional);
    }
  }

  const MemberHandler& handler = kind == InvokeKind::kPropertyLet ? m->let : m->call;
  if (!handler) throw AutomationError(err::kNotSupported);
  Variant result = handler(*this, coerced);

  for (size_t i = 0; i < params.size() && i < args.size(); ++i) {
    if (params[i].out && !params[i].param_array) args[i] = coerced[i];
  }
  return result;
}

Variant Dispatch::Call(std::string_view name, std::vector<Variant> args) {
  return Invoke(name, InvokeKind::kMethod, args);
}

Variant Dispatch::Get(std::string_view name, std::vector<Variant> args) {
  return Invoke(name, InvokeKind::kPropertyGet, args);
}

void Dispatch::Let(std::string_view name, Variant value) {
  std::vector<Variant> args{std::move(value)};
  Invoke(name, InvokeKind::kPropertyLet, args);
}

int32_t Dispatch::Advise(EventSink) { throw AutomationError(err::kActionNotSupported); }
void Dispatch::Unadvise(int32_t) { throw AutomationError(err::kActionNotSupported); }

}  // namespace vok
