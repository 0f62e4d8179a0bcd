// A host of the shared library: built against the public headers alone and
// linked to libvoktools.so only, so that a public class, function or type
// information the library fails to export breaks the link or the run.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "voktools/voktools.h"

namespace {

int failures = 0;

void Expect(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "failed: %s\n", what.c_str());
    ++failures;
  }
}

}  // namespace

int main() {
  // Late-bound, by programmatic name and by class id, for the classes that
  // need no office application.
  for (const vok::ClassEntry& entry : vok::ClassTable()) {
    if (entry.class_name == "clsDOC2RTF" || entry.class_name == "clsPPTUtil" ||
        entry.class_name == "clsXLSUtil" || !vok::IsClassAvailable(entry)) {
      continue;
    }
    const vok::ObjectRef by_name = vok::CreateObject(entry.prog_id);
    const vok::ObjectRef by_id = vok::CreateObject(entry.clsid);
    Expect(by_name && by_name->ClassName() == entry.class_name, std::string(entry.prog_id));
    Expect(by_id && by_id->ClassName() == entry.class_name, std::string(entry.clsid));
  }

  const vok::ObjectRef object = vok::CreateObject("VOKTools.clsCommon");
  Expect(object->Call("FormatString",
                      {vok::Variant("%1%-%2%"), vok::Variant(int16_t{7}), vok::Variant("x")})
                 .ToText() == "7-x",
         "FormatString late-bound");
  // The library's type information: a cast to the class and its exception.
  const auto common = std::dynamic_pointer_cast<vok::clsCommon>(object);
  Expect(common && common->strParseFileName("/a/b.txt", 1) == "b", "clsCommon cast");
  try {
    object->Call("NoSuchMember");
    Expect(false, "AutomationError thrown");
  } catch (const vok::AutomationError& error) {
    Expect(error.number() == vok::err::kNotSupported, "AutomationError number");
  }

  // Direct construction and the collection of an error list.
  vok::clsRTFUtil rtf;
  rtf.RTFFile("");
  Expect(rtf.ExtractObjects() == vok::clsRTFUtil::kNoFileName, "ExtractObjects");
  const auto list = vok::Collection::Create();
  list->Add(vok::Variant("one"));
  Expect(list->Count() == 1 && list->Texts() == std::vector<std::string>{"one"}, "Collection");
  return failures == 0 ? 0 : 1;
}
