/* The C interface driven from C, linked only against libvoktools. */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "voktools/voktools_c.h"

static int failures = 0;

#define CHECK(cond)                                                  \
  do {                                                               \
    if (!(cond)) {                                                   \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                    \
    }                                                                \
  } while (0)

static const char kCommonClsid[] = "{926F290A-656B-4D25-9BF6-3C16AA206050}";

static int text_is(const vok_value* v, const char* bytes, size_t length) {
  return v->type == VOK_TEXT && v->as.text.length == length &&
         memcmp(v->as.text.data, bytes, length) == 0 && v->as.text.data[length] == '\0';
}

static int32_t error_number(const vok_object* object) {
  int32_t number = -1;
  const char* description = NULL;
  vok_last_error(object, &number, &description);
  if (description == NULL) return -2;
  return number;
}

static void write_file(const char* path, const char* bytes, size_t length) {
  FILE* f = fopen(path, "wb");
  if (f == NULL || fwrite(bytes, 1, length, f) != length) {
    perror(path);
    exit(1);
  }
  fclose(f);
}

/* Creation by every spelling of the class, and the refusal of an unknown one. */
static void test_create(void) {
  static const char* const names[] = {"VOKTools.clsCommon", "voktools.CLSCOMMON", kCommonClsid,
                                      "926F290A-656B-4D25-9BF6-3C16AA206050"};
  size_t i;
  vok_object* object = NULL;
  for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
    vok_value args[2], result = {0};
    object = NULL;
    CHECK(vok_create(names[i], &object) == VOK_S_OK && object != NULL);
    if (object == NULL) continue;
    args[0] = vok_value_text("%1%-%1%", 7);
    args[1] = vok_value_int32((int32_t)i);
    CHECK(vok_invoke(object, "FormatString", VOK_METHOD, args, 2, &result) == VOK_S_OK);
    CHECK(result.type == VOK_TEXT && result.as.text.length == 3 &&
          result.as.text.data[0] == (char)('0' + i) && result.as.text.data[2] == (char)('0' + i));
    vok_value_clear(&result);
    CHECK(vok_release(object) == 0);
  }
  CHECK(vok_create("VOKTools.clsNoSuchClass", &object) == VOK_CLASS_E_CLASSNOTAVAILABLE);
  CHECK(object == NULL);
  CHECK(error_number(NULL) == 429);
}

/* Texts go both ways with their NUL bytes; the three components of a file
 * name put together give the name back. */
static void test_common(vok_object* common) {
  static const char* const paths[] = {"/srv/doc/report.final.rtf", "a.b", "noext", "/dir.x/file",
                                      "rel/dir/.hidden", "C:\\w\\x.y", ""};
  static const char format[] = "<%1%|%2%>";
  static const char with_nul[] = "a\0b";
  vok_value args[3], result = {0};
  size_t i;

  args[0] = vok_value_text(format, sizeof format - 1);
  args[1] = vok_value_text(with_nul, 3);
  args[2] = vok_value_int16(-5);
  CHECK(vok_invoke(common, "FormatString", VOK_METHOD, args, 3, &result) == VOK_S_OK);
  CHECK(text_is(&result, "<a\0b|-5>", 8));
  CHECK(args[0].flags == 0 && args[1].as.text.data == with_nul); /* inputs left alone */

  args[0] = vok_value_text("x\0y\0z", 5);
  args[1] = vok_value_text("\0", 1);
  args[2] = vok_value_text("--", 2);
  CHECK(vok_invoke(common, "SandR", VOK_METHOD, args, 3, &result) == VOK_S_OK);
  CHECK(text_is(&result, "x--y--z", 7));

  for (i = 0; i < sizeof paths / sizeof paths[0]; ++i) {
    char joined[256] = "";
    int16_t part;
    for (part = 0; part < 3; ++part) {
      args[0] = vok_value_text(paths[i], strlen(paths[i]));
      args[1] = vok_value_int16(part);
      CHECK(vok_invoke(common, "strParseFileName", VOK_METHOD, args, 2, &result) == VOK_S_OK);
      CHECK(result.type == VOK_TEXT && strlen(result.as.text.data) == result.as.text.length);
      if (part == 2 && result.as.text.length > 0) strcat(joined, ".");
      strncat(joined, result.as.text.data, 100);
      vok_value_clear(&result);
    }
    if (strcmp(joined, paths[i]) != 0) {
      fprintf(stderr, "strParseFileName(%s) put together: %s\n", paths[i], joined);
      ++failures;
    }
  }

  /* Failed calls: the error is on the object, the result stays empty. */
  CHECK(vok_invoke(common, "NoSuchMember", VOK_METHOD, NULL, 0, &result) == VOK_DISP_E_EXCEPTION);
  CHECK(error_number(common) == 438 && result.type == VOK_EMPTY);
  args[0] = vok_value_text("x", 1);
  args[1] = vok_value_text("not a number", 12);
  CHECK(vok_invoke(common, "strParseFileName", VOK_METHOD, args, 2, &result) ==
        VOK_DISP_E_EXCEPTION);
  CHECK(error_number(common) == 13);
  CHECK(vok_invoke(common, "strParseFileName", VOK_METHOD, args, 1, &result) ==
        VOK_DISP_E_EXCEPTION);
  CHECK(error_number(common) == 449);
  args[1].type = 99;
  CHECK(vok_invoke(common, "strParseFileName", VOK_METHOD, args, 2, &result) == VOK_E_INVALIDARG);
  args[1] = vok_value_text(NULL, 4);
  CHECK(vok_invoke(common, "strParseFileName", VOK_METHOD, args, 2, &result) == VOK_E_INVALIDARG);
  CHECK(vok_progress_connect(common, NULL, NULL, NULL) == VOK_E_POINTER);
  CHECK(vok_invoke(common, "FileExists", VOK_METHOD, args, 1, &result) == VOK_S_OK);
  CHECK(error_number(common) == 0 && result.type == VOK_BOOL);
}

/* By-reference outputs replace the argument; an owned argument passed again
 * is freed before it is replaced (the sanitizer's leak check sees it). */
static void test_by_reference(const char* dir) {
  static const char content[] = "one\0line\r\ntwo";
  static const char keep[] = "caller's";
  char path[512];
  vok_object* reader = NULL;
  vok_value line, name, result = {0};

  snprintf(path, sizeof path, "%s/lines.txt", dir);
  write_file(path, content, sizeof content - 1);
  CHECK(vok_create("VOKTools.clsRetrieveFile", &reader) == VOK_S_OK);
  name = vok_value_text(path, strlen(path));
  CHECK(vok_invoke(reader, "Filename", VOK_PROPERTY_LET, &name, 1, NULL) == VOK_S_OK);
  CHECK(vok_invoke(reader, "OpenFile", VOK_METHOD, NULL, 0, &result) == VOK_S_OK);
  CHECK(result.type == VOK_BOOL && result.as.boolean);

  line = vok_value_text(keep, sizeof keep - 1);
  CHECK(vok_invoke(reader, "GetLineFromFile", VOK_METHOD, &line, 1, &result) == VOK_S_OK);
  CHECK(result.as.boolean && line.flags == VOK_VALUE_OWNED && text_is(&line, "one\0line\r\n", 10));
  CHECK(strcmp(keep, "caller's") == 0);
  CHECK(vok_invoke(reader, "GetLineFromFile", VOK_METHOD, &line, 1, &result) == VOK_S_OK);
  CHECK(result.as.boolean && text_is(&line, "two", 3));
  CHECK(vok_invoke(reader, "GetLineFromFile", VOK_METHOD, &line, 1, &result) == VOK_S_OK);
  CHECK(!result.as.boolean && text_is(&line, "", 0));
  vok_value_clear(&line);
  CHECK(line.type == VOK_EMPTY);
  vok_release(reader);
}

typedef struct progress_log {
  int calls;
  int16_t last;
  int rising;
} progress_log;

static void count_progress(void* user_data, int16_t percent) {
  progress_log* log = (progress_log*)user_data;
  if (log->calls > 0 && percent <= log->last) log->rising = 0;
  log->last = percent;
  ++log->calls;
}

/* An extraction raises Progress up to 100; a disconnected callback hears
 * nothing more. */
static void test_rtf_progress(const char* dir) {
  char path[512];
  size_t i, length = 0;
  char* rtf = malloc(200000);
  vok_object* util = NULL;
  vok_value name, result = {0};
  progress_log log = {0, 0, 1};
  int32_t cookie = 0;

  length += (size_t)sprintf(rtf, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Before ");
  length += (size_t)sprintf(rtf + length, "{\\pict\\pngblip\\picw10\\pich10 ");
  for (i = 0; i < 2000; ++i) length += (size_t)sprintf(rtf + length, "89504e470d0a1a0a");
  length += (size_t)sprintf(rtf + length, "}\\par ");
  for (i = 0; i < 3000; ++i) length += (size_t)sprintf(rtf + length, "Some text. ");
  length += (size_t)sprintf(rtf + length, "\\par}");
  snprintf(path, sizeof path, "%s/letter.rtf", dir);
  write_file(path, rtf, length);
  free(rtf);

  CHECK(vok_create("VOKTools.clsRTFUtil", &util) == VOK_S_OK);
  CHECK(vok_progress_connect(util, count_progress, &log, &cookie) == VOK_S_OK);
  name = vok_value_text(path, strlen(path));
  CHECK(vok_invoke(util, "RTFFile", VOK_PROPERTY_LET, &name, 1, NULL) == VOK_S_OK);
  CHECK(vok_invoke(util, "ExtractObjects", VOK_METHOD, NULL, 0, &result) == VOK_S_OK);
  CHECK(result.type == VOK_INT32 && result.as.int32 == 0);
  CHECK(log.calls >= 2 && log.last == 100 && log.rising);

  CHECK(vok_progress_disconnect(util, cookie) == VOK_S_OK);
  log.calls = 0;
  CHECK(vok_invoke(util, "InsertObjects", VOK_METHOD, NULL, 0, &result) == VOK_S_OK);
  CHECK(result.as.int32 == 0 && log.calls == 0);
  vok_release(util);
}

static void add_thousand(void* user_data, int16_t* percent) {
  (void)user_data;
  *percent = (int16_t)(*percent + 1000);
}

static void record_seen(void* user_data, int16_t* percent) {
  progress_log* log = (progress_log*)user_data;
  if (*percent < 1000) log->rising = 0;
  ++log->calls;
}

/* The MIF class raises Progress by reference: the second callback sees what
 * the first made of the value. */
static void test_mif_progress_by_reference(const char* dir) {
  static const char mif[] = "<MIFFile 7.00>\n<Para\n <ParaLine\n  <String `Hello'>\n >\n>\n";
  char path[512];
  vok_object* mif_util = NULL;
  vok_value name, result = {0};
  progress_log seen = {0, 0, 1};

  snprintf(path, sizeof path, "%s/small.mif", dir);
  write_file(path, mif, sizeof mif - 1);
  CHECK(vok_create("VOKTools.clsMIFUtilities", &mif_util) == VOK_S_OK);
  CHECK(vok_progress_connect_ref(mif_util, add_thousand, NULL, NULL) == VOK_S_OK);
  CHECK(vok_progress_connect_ref(mif_util, record_seen, &seen, NULL) == VOK_S_OK);
  name = vok_value_text(path, strlen(path));
  CHECK(vok_invoke(mif_util, "MIFFile", VOK_PROPERTY_LET, &name, 1, NULL) == VOK_S_OK);
  CHECK(vok_invoke(mif_util, "RemoveObjects", VOK_METHOD, NULL, 0, &result) == VOK_S_OK);
  CHECK(seen.calls > 0 && seen.rising);
  vok_value_clear(&result);
  vok_release(mif_util);
}

/* A failed conversion's error list, walked as an object. */
static void test_error_list(const char* dir) {
  char path[512];
  vok_object* asp = NULL;
  vok_value name, list = {0}, count = {0}, index, item = {0};

  snprintf(path, sizeof path, "%s/missing.asp", dir);
  CHECK(vok_create("VOKTools.clsASP2HTML", &asp) == VOK_S_OK);
  name = vok_value_text(path, strlen(path));
  CHECK(vok_invoke(asp, "ASPFile", VOK_PROPERTY_LET, &name, 1, NULL) == VOK_S_OK);
  CHECK(vok_invoke(asp, "ASP2HTML", VOK_METHOD, NULL, 0, &count) == VOK_S_OK);
  CHECK(count.type == VOK_INT32 && count.as.int32 == 1);
  CHECK(vok_invoke(asp, "ErrorList", VOK_PROPERTY_GET, NULL, 0, &list) == VOK_S_OK);
  CHECK(list.type == VOK_OBJECT && list.as.object != NULL && list.flags == VOK_VALUE_OWNED);
  if (list.type != VOK_OBJECT || list.as.object == NULL) return;
  CHECK(vok_invoke(list.as.object, "Count", VOK_METHOD, NULL, 0, &count) == VOK_S_OK);
  CHECK(count.type == VOK_INT32 && count.as.int32 >= 1);
  index = vok_value_int32(count.as.int32);
  CHECK(vok_invoke(list.as.object, "Item", VOK_METHOD, &index, 1, &item) == VOK_S_OK);
  CHECK(item.type == VOK_TEXT && strstr(item.as.text.data, "missing.asp") != NULL);
  vok_value_clear(&item);
  index = vok_value_int32(count.as.int32 + 1);
  CHECK(vok_invoke(list.as.object, "Item", VOK_METHOD, &index, 1, &item) == VOK_DISP_E_EXCEPTION);
  CHECK(error_number(list.as.object) == 9);

  vok_release(asp); /* the list's handle outlives the object that made it */
  CHECK(DllCanUnloadNow() == VOK_S_FALSE);
  CHECK(vok_invoke(list.as.object, "Count", VOK_METHOD, NULL, 0, &count) == VOK_S_OK);
  CHECK(count.type == VOK_INT32);
  vok_value_clear(&list);
}

static void test_factory(void) {
  vok_class_factory* factory = NULL;
  vok_object* object = NULL;

  CHECK(DllGetClassObject("{00000000-0000-0000-0000-000000000000}", NULL, &factory) ==
        VOK_CLASS_E_CLASSNOTAVAILABLE);
  CHECK(factory == NULL && error_number(NULL) == 429);
  CHECK(DllGetClassObject(kCommonClsid, NULL, &factory) == VOK_S_OK && factory != NULL);
  if (factory == NULL) return;
  CHECK(factory->CreateInstance(factory, &object) == VOK_S_OK && object != NULL);
  CHECK(DllCanUnloadNow() == VOK_S_FALSE);
  CHECK(vok_add_ref(object) == 2 && vok_release(object) == 1);
  CHECK(DllCanUnloadNow() == VOK_S_FALSE);
  CHECK(vok_release(object) == 0);
  CHECK(DllCanUnloadNow() == VOK_S_OK);
  CHECK(factory->LockServer(factory, 1) == VOK_S_OK);
  CHECK(DllCanUnloadNow() == VOK_S_FALSE);
  CHECK(factory->LockServer(factory, 0) == VOK_S_OK);
  CHECK(DllCanUnloadNow() == VOK_S_OK);
  /* An unlock too many does not cancel the next lock. */
  CHECK(factory->LockServer(factory, 0) == VOK_S_OK);
  CHECK(factory->LockServer(factory, 1) == VOK_S_OK);
  CHECK(DllCanUnloadNow() == VOK_S_FALSE);
  CHECK(factory->LockServer(factory, 0) == VOK_S_OK);
  CHECK(DllCanUnloadNow() == VOK_S_OK);
  factory->Release(factory);
}

int main(void) {
  char dir[] = "/tmp/vok_capi_XXXXXX";
  vok_object* common = NULL;
  char command[600];

  if (mkdtemp(dir) == NULL) {
    perror("mkdtemp");
    return 1;
  }
  CHECK(DllCanUnloadNow() == VOK_S_OK);
  test_create();
  CHECK(vok_create("VOKTools.clsCommon", &common) == VOK_S_OK);
  CHECK(DllCanUnloadNow() == VOK_S_FALSE);
  test_common(common);
  CHECK(vok_progress_connect(common, count_progress, NULL, NULL) == VOK_DISP_E_EXCEPTION);
  CHECK(error_number(common) == 445);
  vok_release(common);
  test_by_reference(dir);
  test_rtf_progress(dir);
  test_mif_progress_by_reference(dir);
  test_error_list(dir);
  CHECK(DllCanUnloadNow() == VOK_S_OK);
  test_factory();

  snprintf(command, sizeof command, "rm -rf '%s'", dir);
  if (system(command) != 0) fprintf(stderr, "could not remove %s\n", dir);
  if (failures > 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  puts("all checks passed");
  return 0;
}
