// Creates a class by its programmatic name and calls it late-bound.
#include <voktools/factory.h>
#include <voktools/variant.h>

#include <iostream>

int main() {
  vok::ObjectRef common = vok::CreateObject("VOKTools.clsCommon");
  const std::string text =
      common->Call("FormatString", {vok::Variant("%1% of %2%"), vok::Variant(3), vok::Variant(4)})
          .ToText();
  std::cout << text << '\n';
  return text == "3 of 4" ? 0 : 1;
}
