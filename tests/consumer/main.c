/* Compiles as C99 against the installed C header, with the flags of the
 * pkg-config file, links the library and calls it. */
#include <stdio.h>
#include <string.h>
#include <voktools/voktools_c.h>

int main(void) {
  vok_object* common = NULL;
  vok_value args[2];
  vok_value result = {VOK_EMPTY, 0u, {0}};
  int ok;
  if (vok_create("VOKTools.clsCommon", &common) != VOK_S_OK) return 1;
  args[0] = vok_value_text("C:\\dir\\file.txt", 15);
  args[1] = vok_value_int16(2);
  if (vok_invoke(common, "strParseFileName", VOK_METHOD, args, 2, &result) != VOK_S_OK) return 1;
  ok = result.type == VOK_TEXT && result.as.text.length == 3 &&
       memcmp(result.as.text.data, "txt", 3) == 0;
  vok_value_clear(&result);
  vok_release(common);
  ok = ok && DllCanUnloadNow() == VOK_S_OK;
  printf("%s\n", ok ? "txt" : "wrong");
  return ok ? 0 : 1;
}
