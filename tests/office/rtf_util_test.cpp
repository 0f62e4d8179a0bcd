#include "voktools/rtf_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "frame/with_env.h"
#include "html/memory_world.h"
#include "support/fault_file_system.h"

namespace vok {
namespace {

const std::string kCRLF = "\r\n";

std::string Header(int n) { return "{\\v\\vok OBJ " + std::to_string(n) + " }"; }

// The object file and the rewritten RTF, worked out on whole strings.
struct Extracted {
  std::string rtf;
  std::string obj;
  int objects = 0;
};

Extracted ModelExtract(const std::string& in) {
  Extracted out;
  int n = 0;
  size_t i = 0;
  while (i < in.size()) {
    size_t a = in.find("{\\object", i), b = in.find("{\\pict", i);
    size_t p = std::min(a, b);
    if (p == std::string::npos) {
      out.rtf += in.substr(i);
      break;
    }
    out.rtf += in.substr(i, p - i) + Header(++n);
    out.obj += Header(n) + kCRLF;
    int depth = 0;
    size_t j = p;
    for (; j < in.size(); ++j) {
      if (in[j] == '{') ++depth;
      if (in[j] == '}' && --depth == 0) break;
    }
    if (j == in.size()) {
      out.obj += in.substr(p);
      i = in.size();
    } else {
      out.obj += in.substr(p, j + 1 - p) + kCRLF;
      i = j + 1;
    }
  }
  out.obj += Header(n + 1) + kCRLF;
  out.objects = n;
  return out;
}

// What insertion makes of rtf with obj: each placeholder runs to its first
// "}", its header line is looked for from where the last object ended,
// wrapping around once, and the object runs to the CR LF before the next
// header line (or to the file's last header line).
std::string ModelInsert(const std::string& rtf, const std::string& obj, bool* missing) {
  const std::string start = "{\\v\\vok OBJ ";
  std::string out;
  size_t here = 0;
  size_t i = 0;
  *missing = false;
  while (true) {
    size_t p = rtf.find(start, i);
    if (p == std::string::npos) return out + rtf.substr(i);
    out += rtf.substr(i, p - i);
    size_t close = rtf.find('}', p);
    if (close == std::string::npos) return out + rtf.substr(p);
    std::string key = rtf.substr(p, close + 1 - p) + kCRLF;
    i = close + 1;
    size_t at = obj.find(key, here);
    if (at == std::string::npos) at = obj.find(key);  // wraps around once
    if (at == std::string::npos) {
      *missing = true;
      continue;
    }
    size_t body = at + key.size();
    size_t end = obj.find("\r\n" + start, body);
    if (end != std::string::npos) {
      out += obj.substr(body, end - body);
      here = end + 2;
      continue;
    }
    size_t last = obj.rfind(start);
    bool trailing_header = last != std::string::npos && last >= body && obj.ends_with(" }\r\n") &&
                           obj.size() - last > start.size() + 4 && obj.size() - last <= 32;
    if (trailing_header) {
      std::string digits = obj.substr(last + start.size(), obj.size() - 4 - last - start.size());
      trailing_header = digits.find_first_not_of("0123456789") == std::string::npos;
    }
    size_t stop = trailing_header ? last : obj.size();
    out += obj.substr(body, stop - body);
    here = stop;
  }
}

// The document and its object file, in memory.
struct Files : test::MemoryWorld {
  const std::string rtf = "/doc.rtf", obj = "/doc.obj";
};

struct Outcome {
  int32_t result;
  std::string rtf;
  std::string obj;
  clsRTFUtil::Mismatches mismatches = {};
};

Outcome Extract(Files& f, const std::string& input, int32_t chunk) {
  f.fs.WriteFile(f.rtf, input);
  WithEnv<clsRTFUtil> u(f.env);
  u.RTFFile(f.rtf);
  ForceChunkSizeForTesting(u, chunk);
  int32_t r = u.ExtractObjects();
  return {r, f.Read(f.rtf), f.Read(f.obj)};
}

Outcome Insert(Files& f, const std::string& rtf, const std::string& obj, int32_t chunk) {
  f.fs.WriteFile(f.rtf, rtf);
  f.fs.WriteFile(f.obj, obj);
  WithEnv<clsRTFUtil> u(f.env);
  u.RTFFile(f.rtf);
  ForceChunkSizeForTesting(u, chunk);
  int32_t r = u.InsertObjects();
  return {r, f.Read(f.rtf), f.Read(f.obj), u.InsertionMismatches()};
}

// Random documents from a small alphabet rich in markers, braces and line
// ends, so that every kind of boundary lands on every read edge.
std::string RandomRtf(std::mt19937& rng, size_t length) {
  static const std::vector<std::string> pieces = {
      "{\\pict ", "{\\object ", "{",     "}", "\\{",    "\\}",      "ab", "0f1e",
      "\r\n",     "\n",         "{\\v ", "x", "{\\pic", "{\\objec", " ",  "{\\*\\shppict ", "{\\Object "};
  std::string s;
  while (s.size() < length) s += pieces[rng() % pieces.size()];
  return s;
}

// Extraction as the model makes it at every chunk size; then, with the
// placeholders moved, repeated, dropped or numbered past the last object,
// insertion puts in what the model finds and names every placeholder and
// object without a partner. (The plain round trip is the fuzz target's.)
TEST(RtfUtil, GeneratedDocumentsMatchTheModelAtEveryChunkSize) {
  std::mt19937 rng(20261205);
  for (int round = 0; round < 60; ++round) {
    std::string input = RandomRtf(rng, 50 + rng() % 900);
    Extracted model = ModelExtract(input);
    std::vector<int> numbers(rng() % 10);
    for (int& n : numbers) n = 1 + static_cast<int>(rng() % (model.objects + 3));
    std::string edited = "{\\rtf1 ";
    clsRTFUtil::Mismatches expected;
    std::vector<int> uses(static_cast<size_t>(model.objects) + 1, 0);
    for (int n : numbers) {
      edited += "y" + Header(n);
      if (n > model.objects) {
        expected.missing.push_back(std::to_string(n));
      } else if (++uses[static_cast<size_t>(n)] == 2) {
        expected.repeated.push_back(std::to_string(n));
      }
    }
    for (int n = 1; n <= model.objects; ++n) {
      if (uses[static_cast<size_t>(n)] == 0) expected.unused.push_back(std::to_string(n));
    }
    for (int32_t chunk : {72, 75, 91, 4096}) {
      SCOPED_TRACE(::testing::Message() << "round " << round << ", chunk " << chunk);
      Files f;
      Outcome e = Extract(f, input, chunk);
      ASSERT_EQ(e.result, 0);
      ASSERT_EQ(e.rtf, model.rtf);
      ASSERT_EQ(e.obj, model.obj);
      bool missing = false;
      Outcome r = Insert(f, edited + "}", e.obj, chunk);
      const std::string want = ModelInsert(edited + "}", e.obj, &missing);
      EXPECT_EQ(r.rtf, want);
      // The end line's number finds an empty object: result 0, and named.
      EXPECT_EQ(r.result, missing ? 6 : 0);
      EXPECT_EQ(r.mismatches.missing, expected.missing);
      EXPECT_EQ(r.mismatches.repeated, expected.repeated);
      EXPECT_EQ(r.mismatches.unused, expected.unused);
    }
  }
}

// Placeholders and object files out of the ordinary, at two chunk sizes.
TEST(RtfUtil, InsertionPutsObjectsWherePlaceholdersStand) {
  const std::string obj3 = Header(1) + kCRLF + "{\\pict A}" + kCRLF + Header(2) + kCRLF +
                           "{\\pict B}" + kCRLF + Header(3) + kCRLF + "{\\pict C}" + kCRLF +
                           Header(4) + kCRLF;
  const std::string pad(120, '.');
  const struct {
    std::string rtf, obj;
    int32_t result;
    std::string expected;
  } cases[] = {
      {"a{\\v\\vok OBJ 2}b" + Header(3), obj3, 6, "ab{\\pict C}"},  // altered: left out
      {"{\\v\\vok OBJ 01 }", obj3, 6, ""},
      {pad + "{\\v\\vok OBJ 2", obj3, 0, pad + "{\\v\\vok OBJ 2"},  // cut off: kept
      {"{\\v\\vok OBJ 2 " + pad + "}tail", obj3, 6, "tail"},         // runs to the first brace
      {"{\\v\\vok OBJ 7 " + pad + "}!",
       Header(1) + kCRLF + "{\\pict A}" + kCRLF + "{\\v\\vok OBJ 7 " + pad + "}" + kCRLF + "body" +
           kCRLF + Header(2) + kCRLF,
       0, "body!"},
      {Header(1), Header(1) + kCRLF + "{\\pict{" + Header(2) + kCRLF, 0, "{\\pict{"},
      {Header(1), Header(1) + kCRLF + "{\\pict 0a0b", 0, "{\\pict 0a0b"},  // truncated
      {"a" + Header(1) + "b", "", 6, "ab"},
  };
  for (const auto& c : cases) {
    for (int32_t chunk : {72, 4096}) {
      SCOPED_TRACE(::testing::Message() << c.rtf << ", chunk " << chunk);
      Files f;
      Outcome r = Insert(f, c.rtf, c.obj, chunk);
      EXPECT_EQ(r.result, c.result);
      EXPECT_EQ(r.rtf, c.expected);
      EXPECT_EQ(r.obj, c.obj);  // the object file is left in place
    }
  }
}

TEST(RtfUtil, DefaultObjectFileIsBesideTheRtfWithObjExtension) {
  for (const auto& [rtf, obj] : {std::pair{"D:\\x\\report.rtf", "D:\\x\\report.obj"},
                                 {"C:\\my.dir\\a", "C:\\my.dir\\a.obj"},
                                 {"/srv/my.dir/a.b.rtf", "/srv/my.dir/a.b.obj"}}) {
    test::TestEnv t;
    t.fs.SetEverythingExists(true);
    t.fs.FailOp("OpenForRead", ENOENT);
    clsRTFUtil u;
    u.RTFFile(rtf);
    EXPECT_EQ(u.ExtractObjects(), clsRTFUtil::kCannotOpenRTF);
    EXPECT_EQ(u.ObjFile(), obj);
    u.ObjFile("kept.obj");
    (void)u.InsertObjects();
    EXPECT_EQ(u.ObjFile(), "kept.obj");
  }
}

// Each open failure and its result.
TEST(RtfUtil, OpenFailuresSayWhichFile) {
  const struct {
    bool extract;
    std::string op, path_part;  // the call that fails
    int32_t result;
    int skip = 0;  // matching calls that go through first
  } cases[] = {
      {true, "CreateScratch", "", clsRTFUtil::kCannotOpenObj},
      {true, "CreateScratch", "", clsRTFUtil::kCannotOpenTemp, 1},
      {true, "Publish", "doc.obj", clsRTFUtil::kCannotOpenObj},
      {true, "OpenForRead", "doc.rtf", clsRTFUtil::kCannotOpenRTF},
      {false, "OpenForRead", "doc.rtf", clsRTFUtil::kCannotOpenRTF},
      {false, "OpenForRead", "doc.obj", clsRTFUtil::kCannotOpenObj},
      {false, "CreateScratch", "", clsRTFUtil::kCannotOpenTemp},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.op + " " + c.path_part);
    Files f;
    f.fs.WriteFile(f.rtf, "{\\rtf1 a{\\pict 0102}b}");
    f.fs.WriteFile(f.obj, Header(1) + kCRLF + "{\\pict 0102}" + kCRLF + Header(2) + kCRLF);
    f.fs.FailOp(c.op, EACCES, c.path_part, c.skip);
    WithEnv<clsRTFUtil> u(f.env);
    u.RTFFile(f.rtf);
    EXPECT_EQ(c.extract ? u.ExtractObjects() : u.InsertObjects(), c.result);
  }
}

TEST(RtfUtil, MissingNamesAndFiles) {
  Files f;
  WithEnv<clsRTFUtil> u(f.env);
  EXPECT_EQ(u.ExtractObjects(), clsRTFUtil::kNoFileName);
  EXPECT_EQ(u.InsertObjects(), clsRTFUtil::kNoFileName);
  u.RTFFile(f.rtf);
  EXPECT_EQ(u.ExtractObjects(), clsRTFUtil::kNoSuchFile);
  EXPECT_EQ(u.InsertObjects(), clsRTFUtil::kNoSuchFile);
  EXPECT_EQ(u.ObjFile(), "");  // nothing derived before the file is known to exist
  f.fs.WriteFile(f.rtf, "a" + Header(1));
  EXPECT_EQ(u.InsertObjects(), clsRTFUtil::kCannotOpenObj);  // no object file
  // An object file that is the RTF file itself would be deleted first.
  u.ObjFile(f.rtf);
  EXPECT_EQ(u.ExtractObjects(), clsRTFUtil::kCannotOpenObj);
  EXPECT_EQ(f.Read(f.rtf), "a" + Header(1));
}

}  // namespace
}  // namespace vok
