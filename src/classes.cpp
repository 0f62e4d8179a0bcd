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

template <typename T>
ObjectRef Make() {
  return std::make_shared<T>();
}

const std::map<std::string_view, ObjectRef (*)()>& Builtins() {
  static const std::map<std::string_view, ObjectRef (*)()> builtins{
      {"clsASP2HTML", &Make<clsASP2HTML>},
      {"cRegistry", &Make<cRegistry>},
      {"clsCommon", &Make<clsCommon>},
      {"clsDOC2RTF", &Make<clsDOC2RTF>},
      {"clsGetTempFileName", &Make<clsGetTempFileName>},
      {"clsHTMLValidate", &Make<clsHTMLValidate>},
      {"clsLanguages", &Make<clsLanguages>},
      {"clsMIFUtilities", &Make<clsMIFUtilities>},
      {"clsPPTUtil", &Make<clsPPTUtil>},
      {"clsRetrieveFile", &Make<clsRetrieveFile>},
      {"clsRTFUtil", &Make<clsRTFUtil>},
      {"clsUNCName", &Make<clsUNCName>},
      {"clsXLSUtil", &Make<clsXLSUtil>},
  };
  return builtins;
}

}  // namespace

ObjectRef CreateBuiltin(std::string_view class_name) {
  auto it = Builtins().find(class_name);
  return it == Builtins().end() ? nullptr : it->second();
}

bool IsBuiltin(std::string_view class_name) { return Builtins().count(class_name) > 0; }

}  // namespace vok::detail
