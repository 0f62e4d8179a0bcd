// The classes this build holds. A class listed in the class table but not
// here cannot be created yet (error 429).
#include <functional>
#include <map>

#include "frame/builtin_classes.h"
#include "voktools/asp2html.h"
#include "voktools/common.h"
#include "voktools/doc2rtf.h"
#include "voktools/html_validate.h"
#include "voktools/languages.h"
#include "voktools/mif_utilities.h"
#include "voktools/office_util.h"
#include "voktools/registry.h"
#include "voktools/retrieve_file.h"
#include "voktools/rtf_util.h"
#include "voktools/temp_file_name.h"
#include "voktools/unc_name.h"

namespace vok::detail {

namespace {

struct Builtin {
  ObjectRef (*make)();
  const ClassTypeInfo& (*type_info)();
};

template <typename T>
ObjectRef Make() {
  return std::make_shared<T>();
}

template <typename T>
constexpr Builtin Of() {
  return {&Make<T>, &TypeInfoOf<T>};
}

const std::map<std::string_view, Builtin>& Builtins() {
  static const std::map<std::string_view, Builtin> builtins{
      {"clsASP2HTML", Of<clsASP2HTML>()},
      {"cRegistry", Of<cRegistry>()},
      {"clsCommon", Of<clsCommon>()},
      {"clsDOC2RTF", Of<clsDOC2RTF>()},
      {"clsGetTempFileName", Of<clsGetTempFileName>()},
      {"clsHTMLValidate", Of<clsHTMLValidate>()},
      {"clsLanguages", Of<clsLanguages>()},
      {"clsMIFUtilities", Of<clsMIFUtilities>()},
      {"clsPPTUtil", Of<clsPPTUtil>()},
      {"clsRetrieveFile", Of<clsRetrieveFile>()},
      {"clsRTFUtil", Of<clsRTFUtil>()},
      {"clsUNCName", Of<clsUNCName>()},
      {"clsXLSUtil", Of<clsXLSUtil>()},
  };
  return builtins;
}

}  // namespace

ObjectRef CreateBuiltin(std::string_view class_name) {
  auto it = Builtins().find(class_name);
  return it == Builtins().end() ? nullptr : it->second.make();
}

const ClassTypeInfo* BuiltinTypeInfo(std::string_view class_name) {
  auto it = Builtins().find(class_name);
  return it == Builtins().end() ? nullptr : &it->second.type_info();
}

bool IsBuiltin(std::string_view class_name) { return Builtins().count(class_name) > 0; }

}  // namespace vok::detail
