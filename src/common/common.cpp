#include "voktools/common.h"

#include <algorithm>
#include <cmath>

#include "frame/builtin_classes.h"
#include "common/replacement_file.h"
#include "common/split_format.h"
#include "frame/forms.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/processes.h"
#include "platform/profile_store.h"
#include "platform/registry.h"
#include "platform/windowing.h"
#include "voktools/automation_error.h"
#include "voktools/messages.h"
#include "voktools/registry.h"

namespace vok {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kComponentTitle = "VOK Tools";

ObjectRef RequireObject(const Variant& v) {
  ObjectRef o = v.ToObject();
  if (!o) throw AutomationError(err::kObjectNotSet);
  return o;
}

std::string INIFileName(const Variant& varINIFile) {
  if (varINIFile.IsMissing()) return std::string(kDefaultINIFile);
  return varINIFile.ToText();
}

}  // namespace

clsCommon::clsCommon() : clsCommon(CurrentEnv()) {}
clsCommon::clsCommon(Env& env) : env_(env) {}

std::string clsCommon::FormatString(std::string_view strFS, const std::vector<Variant>& Arguments) {
  const SplitFormat format(strFS);
  std::string texts[6];
  std::string_view views[6];
  const size_t n = std::min<size_t>(Arguments.size(), 6);
  for (size_t k = 0; k < n; ++k) views[k] = texts[k] = Arguments[k].ToText();
  std::string s;
  format.Fill(std::span(views, n), &s);
  return s;
}

std::string clsCommon::SandR(std::string_view strSR, std::string_view strS, std::string_view strR) {
  CheckPositionRange(strSR.size());
  if (strS.empty()) return std::string(strSR);
  // Resuming after each inserted replacement makes this a single left-to-
  // right pass over the original text.
  std::string out;
  size_t from = 0;
  for (size_t p = strSR.find(strS); p != std::string_view::npos; p = strSR.find(strS, from)) {
    out.append(strSR.substr(from, p - from));
    out.append(strR);
    CheckPositionRange(out.size());
    from = p + strS.size();
  }
  out.append(strSR.substr(from));
  CheckPositionRange(out.size());
  return out;
}

std::string clsCommon::strParseFileName(std::string_view strFileName, int16_t intComponent) {
  CheckPositionRange(strFileName.size());
  size_t last_slash = 0, last_dot = 0;  // 1-based; 0 when none
  for (size_t i = 0; i < strFileName.size(); ++i) {
    char c = strFileName[i];
    if (c == '\\' || c == '/') {
      last_slash = i + 1;
      last_dot = 0;
    } else if (c == '.') {
      last_dot = i + 1;
    }
  }
  switch (intComponent) {
    case 0:
      return std::string(strFileName.substr(0, last_slash));
    case 1: {
      std::string_view name = strFileName.substr(last_slash);
      if (last_dot > last_slash) name = name.substr(0, last_dot - last_slash - 1);
      return std::string(name);
    }
    case 2:
      return last_dot == 0 ? std::string() : std::string(strFileName.substr(last_dot));
    default:
      return {};
  }
}

int16_t clsCommon::MoveFile(const std::string& strFileFrom, const std::string& strFileTo,
                            const Variant& colErrors) {
  return MoveOver(env_, strFileFrom, strFileTo, colErrors);
}

void clsCommon::DeleteFile(const std::string& strF) {
  // The attribute of a file named through a link is never touched: the link
  // itself is what goes.
  (void)MakeWritable(*env_.fs, strF);
  (void)env_.fs->Remove(strF);
}

bool clsCommon::FileExists(const std::string& sSource) {
  std::string found;
  return env_.fs->FindFirst(sSource, FindKind::kFilesAndFolders, &found).ok();
}

std::string clsCommon::GetINISetting(const std::string& strSection, const std::string& strItem,
                                     const std::string& strDefault, const Variant& varINIFile) {
  return env_.profile->GetString(strSection, strItem, strDefault, INIFileName(varINIFile), 1024);
}

void clsCommon::SetINISetting(const std::string& strSection, const std::string& strItem,
                              const std::string& strValue, const Variant& varINIFile) {
  (void)env_.profile->WriteString(strSection, strItem, strValue, INIFileName(varINIFile));
}

void clsCommon::StartSysInfo() {
  try {
    std::string program;
    if (GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
                    program)) {
      if (StartProgram(program)) return;
    } else if (GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools Location",
                           "MSINFO", program)) {
      program += "\\MSINFO32.EXE";
      if (FileExists(program) && StartProgram(program)) return;
    }
  } catch (const AutomationError&) {
  }
  env_.windowing->MessageBox("System Information Is Unavailable At This Time",
                             std::string(kComponentTitle));
}

bool clsCommon::StartProgram(std::string path) {
  // A path in double quotes, as a registry value often holds it.
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = path.substr(1, path.size() - 2);
  }
  return env_.processes->Start({path}).ok();
}

bool clsCommon::GetKeyValue(int32_t KeyRoot, const std::string& KeyName,
                            const std::string& SubKeyRef, std::string& KeyVal) {
  constexpr size_t kBuffer = 1024;
  const uint32_t root = static_cast<uint32_t>(KeyRoot);
  RegistryValue value;
  if (!env_.registry->QueryValue(root, KeyName, SubKeyRef, &value).ok() ||
      value.data.size() > kBuffer) {
    KeyVal.clear();
    return false;
  }
  std::string_view data = value.data;
  if (!data.empty() && data.back() == '\0') data.remove_suffix(1);
  if (value.type == REG_SZ) {
    KeyVal = std::string(data);
  } else if (value.type == REG_DWORD) {
    KeyVal = std::to_string(RegistryDword(value.data, false));
  }
  return true;
}

void clsCommon::CentreForm(const Variant& frmCentre) {
  ObjectRef form = RequireObject(frmCentre);
  std::optional<ScreenSize> screen = env_.windowing->Screen();
  if (!screen) {
    throw AutomationError(err::kActionNotSupported,
                          "CentreForm: no screen is available on this platform");
  }
  double width = form->Get("Width").ToDouble();
  double height = form->Get("Height").ToDouble();
  form->Call("Move",
             {Variant((screen->width - width) / 2), Variant((screen->height - height) / 2)});
}

void clsCommon::HighLight(const Variant& txtHighLight) {
  ObjectRef box = RequireObject(txtHighLight);
  box->Let("SelStart", Variant(int32_t{0}));
  std::string text = box->Get("Text").ToText();
  box->Let("SelLength", Variant(static_cast<int32_t>(text.size())));
}

bool clsCommon::IsLoaded(const std::string& strFormName) {
  // A copy: a Name getter may load or unload windows.
  std::vector<ObjectRef> forms = LoadedForms();
  for (const ObjectRef& form : forms) {
    if (form->Get("Name").ToText() == strFormName) return true;
  }
  return false;
}

std::string clsCommon::SetCaption(const std::string& strCaption, const Variant& frmT,
                                  int32_t lngMax) {
  ObjectRef form = RequireObject(frmT);
  std::string s = strCaption;
  size_t half = static_cast<size_t>(std::nearbyint(static_cast<double>(s.size()) / 2));
  std::string left = s.substr(0, half);
  std::string right = s.substr(half);
  while (form->Call("TextWidth", {Variant(s)}).ToDouble() > lngMax) {
    if (left.empty()) throw AutomationError(err::kInvalidCall);
    left.pop_back();
    if (!right.empty()) right.erase(0, 1);
    s = left + "...." + right;
  }
  return s;
}

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsCommon>() {
  using C = clsCommon;
  using T = MemberTable<C>;
  using V = VarType;
  static const ClassTypeInfo info{
      "clsCommon",
      {
          T::Method("CentreForm", 1, {{.name = "frmCentre"}}, V::kEmpty, &C::CentreForm),
          T::Method("GetINISetting", 2,
                    {{.name = "strSection", .type = V::kText},
                     {.name = "strItem", .type = V::kText},
                     {.name = "strDefault", .type = V::kText},
                     {.name = "varINIFile", .optional = true}},
                    V::kText, &C::GetINISetting),
          T::Method("SetINISetting", 3,
                    {{.name = "strSection", .type = V::kText},
                     {.name = "strItem", .type = V::kText},
                     {.name = "strValue", .type = V::kText},
                     {.name = "varINIFile", .optional = true}},
                    V::kEmpty, &C::SetINISetting),
          T::Method("HighLight", 4, {{.name = "txtHighLight"}}, V::kEmpty, &C::HighLight),
          T::Method("StartSysInfo", 5, {}, V::kEmpty, &C::StartSysInfo),
          T::Method("GetKeyValue", 6,
                    {{.name = "KeyRoot", .type = V::kInt32},
                     {.name = "KeyName", .type = V::kText},
                     {.name = "SubKeyRef", .type = V::kText},
                     {.name = "KeyVal", .type = V::kText, .out = true}},
                    V::kBool, &C::GetKeyValue),
          T::Method("IsLoaded", 7, {{.name = "strFormName", .type = V::kText}}, V::kBool,
                    &C::IsLoaded),
          T::Method("SandR", 8,
                    {{.name = "strSR", .type = V::kText},
                     {.name = "strS", .type = V::kText},
                     {.name = "strR", .type = V::kText}},
                    V::kText, &C::SandR),
          T::Method("strParseFileName", 9,
                    {{.name = "strFileName", .type = V::kText},
                     {.name = "intComponent", .type = V::kInt16}},
                    V::kText, &C::strParseFileName),
          T::Method("MoveFile", 10,
                    {{.name = "strFileFrom", .type = V::kText},
                     {.name = "strFileTo", .type = V::kText},
                     {.name = "colErrors", .optional = true, .default_value = Variant::Nothing()}},
                    V::kInt16, &C::MoveFile),
          T::Method("SetCaption", 11,
                    {{.name = "strCaption", .type = V::kText},
                     {.name = "frmT"},
                     {.name = "lngMax", .type = V::kInt32}},
                    V::kText, &C::SetCaption),
          T::Method("FormatString", 12,
                    {{.name = "strFS", .type = V::kText},
                     {.name = "Arguments", .param_array = true}},
                    V::kText, &C::FormatString),
          T::Method("DeleteFile", 13, {{.name = "strF", .type = V::kText}}, V::kEmpty,
                    &C::DeleteFile),
          T::Method("FileExists", 14, {{.name = "sSource", .type = V::kText}}, V::kBool,
                    &C::FileExists),
      }};
  return info;
}

const ClassTypeInfo& clsCommon::TypeInfo() const { return detail::TypeInfoOf<clsCommon>(); }

}  // namespace vok
