/* Compiles as C99 against the installed C header, with the flags of the
 * pkg-config file, and links the library. */
#include <stdio.h>
#include <voktools/voktools_c.h>

int main(void) {
  const vok_status results[] = {VOK_S_OK, VOK_S_FALSE, VOK_E_FAIL, VOK_CLASS_E_CLASSNOTAVAILABLE};
  const int succeeded[] = {1, 1, 0, 0};
  size_t i;
  for (i = 0; i < sizeof results / sizeof results[0]; ++i) {
    if (!VOK_SUCCEEDED(results[i]) != !succeeded[i]) {
      printf("status 0x%08lx: wrong\n", (unsigned long)(uint32_t)results[i]);
      return 1;
    }
  }
  printf("status values as documented\n");
  return 0;
}
