#include "voktools/registry.h"

#include <cerrno>

#include "frame/builtin_classes.h"
#include "platform/env.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/windowing.h"
#include "voktools/automation_error.h"

namespace vok {

namespace {

// Subkey names as long as the enumeration's buffer of 255 characters (its
// NUL included) or longer do not fit, and end the enumeration.
constexpr size_t kSubkeyNameBuffer = 255;

// Store failures that are not about the key or value asked for are worth
// telling the host, since the cursor's results cannot.
void WarnIfStoreFailed(const Status& s) {
  if (!s.ok() && s.code() != ENOENT && s.code() != EINVAL) Warn(s.message());
}

}  // namespace

cRegistry::cRegistry() : cRegistry(CurrentEnv()) {}
cRegistry::cRegistry(Env& env) : env_(env) {}

bool cRegistry::KeyExists() const { return env_.registry->OpenKey(Root(), section_key_).ok(); }

bool cRegistry::CreateKey() {
  Status s = env_.registry->CreateKey(Root(), section_key_);
  WarnIfStoreFailed(s);
  return s.ok();
}

bool cRegistry::DeleteKey() {
  Status s = env_.registry->DeleteKey(Root(), section_key_);
  WarnIfStoreFailed(s);
  return s.ok();
}

bool cRegistry::DeleteValue() {
  Status s = env_.registry->DeleteValue(Root(), section_key_, value_key_);
  WarnIfStoreFailed(s);
  return s.ok();
}

Variant cRegistry::Value() {
  RegistryValue value;
  Status s = env_.registry->QueryValue(Root(), section_key_, value_key_, &value);
  if (!s.ok()) {
    WarnIfStoreFailed(s);
    return default_;
  }
  value_type_ = static_cast<int32_t>(value.type);
  const std::string_view data = value.data;
  switch (value.type) {
    case REG_SZ:
    case REG_MULTI_SZ:
    case REG_EXPAND_SZ: {
      if (data.empty()) throw AutomationError(err::kInvalidCall);
      std::string_view text = data.substr(0, data.size() - 1);
      return value.type == REG_EXPAND_SZ ? Variant(ExpandEnvironment(text)) : Variant(text);
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      return Variant(RegistryDword(data, value.type == REG_DWORD_BIG_ENDIAN));
    default:
      return Variant(ByteArray(data.begin(), data.end()));
  }
}

void cRegistry::Value(const Variant& v) {
  RegistryValue value;
  value.name = value_key_;
  switch (value_type_) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::string text = v.ToText();
      // A "%" with another at least two places after it makes a reference.
      const size_t percent = text.find('%');
      const bool reference = percent != std::string::npos &&
                             text.find('%', percent + 2) != std::string::npos;
      value.type = reference ? REG_EXPAND_SZ : REG_SZ;
      value.data = std::move(text);
      value.data += '\0';
      break;
    }
    case REG_BINARY: {
      const ByteArray* bytes = v.get_if<ByteArray>();
      if (bytes == nullptr) return;
      value.type = REG_BINARY;
      value.data.assign(bytes->begin(), bytes->end());
      break;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
      int32_t n;
      if (const int16_t* i16 = v.get_if<int16_t>()) {
        n = *i16;
      } else if (const int32_t* i32 = v.get_if<int32_t>()) {
        n = *i32;
      } else {
        return;
      }
      const uint32_t u = static_cast<uint32_t>(n);
      value.type = REG_DWORD;
      value.data = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8 & 0xFF),
                    static_cast<char>(u >> 16 & 0xFF), static_cast<char>(u >> 24)};
      break;
    }
    default:
      return;
  }
  // The key is created when it is missing, in the same write.
  Status s = env_.registry->Apply(
      {{RegistryChange::Kind::kSetValue, Root(), section_key_, std::move(value)}});
  WarnIfStoreFailed(s);
}

bool cRegistry::Enumerate(bool subkeys, TextArray& names, int32_t& count) {
  count = 0;
  TextArray found;
  Status s;
  if (subkeys) {
    s = env_.registry->ListSubkeys(Root(), section_key_, &found);
    // A name that does not fit the buffer ends the list.
    for (size_t i = 0; i < found.size(); ++i) {
      if (found[i].size() >= kSubkeyNameBuffer) found.resize(i);
    }
  } else {
    std::vector<RegistryValue> values;
    s = env_.registry->ListValues(Root(), section_key_, &values);
    for (RegistryValue& v : values) found.push_back(std::move(v.name));
  }
  WarnIfStoreFailed(s);
  if (!s.ok()) found.clear();
  count = static_cast<int32_t>(found.size());
  names = std::move(found);
  // Only a failing store interrupts the subkeys' enumeration.
  return !subkeys || s.ok() || s.code() == ENOENT || s.code() == EINVAL;
}

bool cRegistry::EnumerateValues(TextArray& sKeyNames, int32_t& iKeyCount) {
  return Enumerate(false, sKeyNames, iKeyCount);
}

bool cRegistry::EnumerateSections(TextArray& sSect, int32_t& iSectCount) {
  return Enumerate(true, sSect, iSectCount);
}

void cRegistry::WriteClassValue(const std::string& text) {
  const std::string section = section_key_;
  class_key_ = HKEY_CLASSES_ROOT;
  Value(Variant(text));
  class_key_ = HKEY_LOCAL_MACHINE;
  section_key_ = "SOFTWARE\\Classes\\" + section;
  Value(Variant(text));
  section_key_ = section;
}

void cRegistry::CreateEXEAssociation(std::string sExePath, const std::string& sClassName,
                                     const std::string& sClassDescription,
                                     const std::string& sAssociation,
                                     const std::string& sOpenMenuText, bool bSupportPrint,
                                     const std::string& sPrintMenuText, bool bSupportNew,
                                     const std::string& sNewMenuText, bool bSupportInstall,
                                     const std::string& sInstallMenuText,
                                     int32_t lDefaultIconIndex) {
  const size_t first = sExePath.find_first_not_of(' ');
  std::string exe = first == std::string::npos
                        ? std::string()
                        : sExePath.substr(first, sExePath.find_last_not_of(' ') - first + 1);
  if (!exe.starts_with('"')) exe.insert(0, 1, '"');
  if (exe.size() < 2 || !exe.ends_with('"')) exe += '"';
  value_type_ = REG_SZ;
  value_key_.clear();
  auto write = [&](const std::string& key, const std::string& text) {
    section_key_ = key;
    WriteClassValue(text);
  };
  auto verb = [&](const std::string& name, const std::string& text, const std::string& fallback,
                  const std::string& command) {
    write(sClassName + "\\shell\\" + name, text.empty() ? fallback : text);
    write(sClassName + "\\shell\\" + name + "\\command", command);
  };
  write("." + sAssociation, sClassName);
  write(sClassName, sClassDescription);
  verb("open", sOpenMenuText, "&Open", exe + " \"%1\"");
  if (bSupportPrint) verb("print", sPrintMenuText, "&Print", exe + " /p \"%1\"");
  if (bSupportInstall) {
    verb("add", sInstallMenuText, "&Install " + sAssociation, exe + " /a \"%1\"");
  }
  if (bSupportNew) verb("new", sNewMenuText, "&New", exe + " /n \"%1\"");
  if (lDefaultIconIndex > -1) {
    write(sClassName + "\\DefaultIcon", exe + "," + std::to_string(lDefaultIconIndex));
  }
}

void cRegistry::CreateAdditionalEXEAssociations(const std::string& sClassName,
                                                const std::vector<Variant>& vItems) {
  if (vItems.size() % 3 != 0) return;
  section_key_ = sClassName;
  if (!KeyExists()) return;
  for (size_t i = 0; i < vItems.size(); i += 3) {
    // A triple that fails is passed over.
    try {
      const std::string key = sClassName + "\\shell\\" + vItems[i].ToText();
      const std::string text = vItems[i + 1].ToText(), command = vItems[i + 2].ToText();
      value_type_ = REG_SZ;
      value_key_.clear();
      section_key_ = key;
      WriteClassValue(text);
      section_key_ = key + "\\command";
      WriteClassValue(command);
    } catch (const AutomationError&) {
    }
  }
}

template <>
const ClassTypeInfo& detail::TypeInfoOf<cRegistry>() {
  using C = cRegistry;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "cRegistry",
      {
          T::Get("KeyExists", 1, V::kBool, &C::KeyExists),
          T::Method("CreateKey", 2, {}, V::kBool, &C::CreateKey),
          T::Method("DeleteKey", 3, {}, V::kBool, &C::DeleteKey),
          T::Method("DeleteValue", 4, {}, V::kBool, &C::DeleteValue),
          T::Property(
              "Value", 5, M::kGetLet, V::kVariant, [](C& c, std::vector<Variant>&) { return c.Value(); },
              [](C& c, std::vector<Variant>& args) { c.Value(args.at(0)); }),
          T::Method("EnumerateValues", 6,
                    {{.name = "sKeyNames", .type = V::kTextArray, .out = true}, {.name = "iKeyCount", .type = V::kInt32, .out = true}},
                    V::kBool, &C::EnumerateValues),
          T::Method("EnumerateSections", 7,
                    {{.name = "sSect", .type = V::kTextArray, .out = true}, {.name = "iSectCount", .type = V::kInt32, .out = true}},
                    V::kBool, &C::EnumerateSections),
          T::Method("CreateEXEAssociation", 8,
                    {{.name = "sExePath", .type = V::kText, .by_ref = false},
                     {.name = "sClassName", .type = V::kText, .by_ref = false},
                     {.name = "sClassDescription", .type = V::kText, .by_ref = false},
                     {.name = "sAssociation", .type = V::kText, .by_ref = false},
                     {.name = "sOpenMenuText", .type = V::kText, .by_ref = false, .optional = true,
                      .default_value = Variant("&Open")},
                     {.name = "bSupportPrint", .type = V::kBool, .by_ref = false, .optional = true,
                      .default_value = Variant(false)},
                     {.name = "sPrintMenuText", .type = V::kText, .by_ref = false, .optional = true,
                      .default_value = Variant("&Print")},
                     {.name = "bSupportNew", .type = V::kBool, .by_ref = false, .optional = true,
                      .default_value = Variant(false)},
                     {.name = "sNewMenuText", .type = V::kText, .by_ref = false, .optional = true,
                      .default_value = Variant("&New")},
                     {.name = "bSupportInstall", .type = V::kBool, .by_ref = false, .optional = true,
                      .default_value = Variant(false)},
                     {.name = "sInstallMenuText", .type = V::kText, .by_ref = false, .optional = true,
                      .default_value = Variant("")},
                     {.name = "lDefaultIconIndex", .type = V::kInt32, .by_ref = false, .optional = true,
                      .default_value = Variant(int32_t{-1})}},
                    V::kEmpty, &C::CreateEXEAssociation),
          T::Method("CreateAdditionalEXEAssociations", 9,
                    {{.name = "sClassName", .type = V::kText, .by_ref = false},
                     {.name = "vItems", .param_array = true}},
                    V::kEmpty, &C::CreateAdditionalEXEAssociations),
          T::Property("ValueType", 10, M::kGetLet, V::kInt32, &C::ValueType, &C::ValueType),
          T::Property("ClassKey", 11, M::kGetLet, V::kInt32, &C::ClassKey, &C::ClassKey),
          T::Property("SectionKey", 12, M::kGetLet, V::kText, &C::SectionKey, &C::SectionKey),
          T::Property("ValueKey", 13, M::kGetLet, V::kText, &C::ValueKey, &C::ValueKey),
          T::Property("Default", 14, M::kGetLet, V::kVariant, &C::Default, &C::Default),
      }};
  return info;
}

const ClassTypeInfo& cRegistry::TypeInfo() const { return detail::TypeInfoOf<cRegistry>(); }

}  // namespace vok
