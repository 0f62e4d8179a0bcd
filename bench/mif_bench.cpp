// clsMIFUtilities over the generated MIF document: extraction of its texts
// into the three batch files, merging untranslated batch files back (which
// must leave the document as it was), and removal and insertion of its
// insets; and the extraction and merge of a file that fills every table.
// Each iteration works on a fresh object and, where the file changes, on a
// fresh copy; only the calls themselves are timed. Besides the byte rate,
// each benchmark reports the peak resident size of the process during the
// calls.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_input.h"
#include "measure.h"
#include "voktools/collection.h"
#include "voktools/mif_utilities.h"

namespace vok::bench {
namespace {

constexpr double kMB = 1 << 20;
constexpr int32_t kTableSlots = 32768;

struct BatchFiles {
  std::string index, xref, var;
};

BatchFiles BatchFilesIn(const std::string& folder, const std::string& stem) {
  return {folder + stem + "_ix.mif", folder + stem + "_xr.mif", folder + stem + "_va.mif"};
}

void UseBatchFiles(clsMIFUtilities& util, const BatchFiles& files) {
  util.IndexFile(files.index);
  util.XrefFile(files.xref);
  util.VarFile(files.var);
}

std::string Errors(clsMIFUtilities& util) {
  std::string text;
  for (const std::string& e : util.ErrorList()->Texts()) text += (text.empty() ? "" : "; ") + e;
  return text;
}

// StartBatch, Extract of mif with index texts cut at ";" and ":", EndBatch.
int16_t ExtractAll(clsMIFUtilities& util, const std::string& mif, const BatchFiles& files) {
  util.StartBatch();
  util.SplitOptions(2);
  UseBatchFiles(util, files);
  util.MIFFile(mif);
  const int16_t failures = util.Extract();
  return static_cast<int16_t>(failures + util.EndBatch());
}

int16_t MergeInto(clsMIFUtilities& util, const std::string& mif, const BatchFiles& files) {
  util.StartBatch();
  UseBatchFiles(util, files);
  util.MIFFile(mif);
  return util.Merge();
}

// Runs op on a fresh object once per iteration, after prepare.
template <typename Prepare, typename Op>
void Run(benchmark::State& state, int64_t bytes, Prepare prepare, Op op) {
  Memory memory;
  for (auto _ : state) {
    if (!prepare()) return state.SkipWithError("cannot put the working files in place");
    clsMIFUtilities util;
    memory.Before();
    const auto start = std::chrono::steady_clock::now();
    const int16_t failures = op(util);
    const auto stop = std::chrono::steady_clock::now();
    memory.After();
    if (failures != 0) return state.SkipWithError(("the call failed: " + Errors(util)).c_str());
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["file_MB"] = static_cast<double>(bytes) / kMB;
  memory.Report(state);
}

// The document with its texts extracted once: the batch files that merging
// reads, untranslated.
struct Extracted {
  BatchFiles files;
  std::vector<int32_t> counts;
  std::string error;
};

const Extracted& ExtractedOnce(const Input& input, const char* stem) {
  static std::map<std::string, Extracted> done;
  auto [it, added] = done.try_emplace(input.path);
  Extracted& e = it->second;
  if (!added) return e;
  e.files = BatchFilesIn(ScratchFolder(), std::string(stem) + "_batch");
  clsMIFUtilities util;
  if (ExtractAll(util, input.path, e.files) != 0) e.error = "cannot extract: " + Errors(util);
  e.counts = util.TableCounts();
  return e;
}

const Input& FullInput() {
  static const Input input = [] {
    Input in;
    const std::string& folder = ScratchFolder();
    if (folder.empty()) {
      in.error = "cannot make a scratch folder";
      return in;
    }
    in.path = folder + "mif_full.mif";
    if (!GenerateMifFull(in.path)) {
      in.error = "cannot generate " + in.path;
      in.path.clear();
      return in;
    }
    std::FILE* f = std::fopen(in.path.c_str(), "rb");
    if (f != nullptr && std::fseek(f, 0, SEEK_END) == 0) in.size = std::ftell(f);
    if (f != nullptr) std::fclose(f);
    return in;
  }();
  return input;
}

void ReportCounts(benchmark::State& state, const std::vector<int32_t>& counts) {
  if (counts.size() != 3) return;
  state.counters["index_entries"] = counts[0];
  state.counters["xref_entries"] = counts[1];
  state.counters["var_entries"] = counts[2];
}

void Extract(benchmark::State& state, const Input& input, const char* stem) {
  if (input.path.empty()) return state.SkipWithError(input.error.c_str());
  if (ScratchFolder().empty()) return state.SkipWithError("cannot make a scratch folder");
  const BatchFiles files = BatchFilesIn(ScratchFolder(), stem);
  std::vector<int32_t> counts;
  Run(
      state, input.size, [] { return true; },
      [&](clsMIFUtilities& util) {
        const int16_t failures = ExtractAll(util, input.path, files);
        counts = util.TableCounts();
        return failures;
      });
  ReportCounts(state, counts);
}

void Merge(benchmark::State& state, const Input& input, const char* stem) {
  if (input.path.empty()) return state.SkipWithError(input.error.c_str());
  const std::string& folder = ScratchFolder();
  if (folder.empty()) return state.SkipWithError("cannot make a scratch folder");
  const Extracted& extracted = ExtractedOnce(input, stem);
  if (!extracted.error.empty()) return state.SkipWithError(extracted.error.c_str());
  const std::string doc = folder + "mif_merged.mif";
  Run(
      state, input.size, [&] { return CopySynced(input.path, doc); },
      [&](clsMIFUtilities& util) { return MergeInto(util, doc, extracted.files); });
  if (!state.error_occurred() && !SameBytes(input.path, doc)) {
    state.SkipWithError("merging untranslated texts changed the file");
  }
  ReportCounts(state, extracted.counts);
}

void BM_Extract(benchmark::State& state) { Extract(state, MifBenchInput(), "mif_doc"); }

void BM_Merge(benchmark::State& state) { Merge(state, MifBenchInput(), "mif_doc"); }

void BM_RemoveObjects(benchmark::State& state) {
  const Input& input = MifBenchInput();
  if (input.path.empty()) return state.SkipWithError(input.error.c_str());
  const std::string& folder = ScratchFolder();
  if (folder.empty()) return state.SkipWithError("cannot make a scratch folder");
  const std::string doc = folder + "mif_insets.mif";
  const std::string obj = folder + "mif_insets.obj";
  Run(
      state, input.size,
      [&] {
        std::remove(obj.c_str());
        return CopySynced(input.path, doc);
      },
      [&](clsMIFUtilities& util) {
        util.MIFFile(doc);
        util.ObjFile(obj);
        return util.RemoveObjects();
      });
}

void BM_InsertObjects(benchmark::State& state) {
  const Input& input = MifBenchInput();
  if (input.path.empty()) return state.SkipWithError(input.error.c_str());
  const std::string& folder = ScratchFolder();
  if (folder.empty()) return state.SkipWithError("cannot make a scratch folder");
  // The document without its insets, and what putting them back must give;
  // made once.
  const std::string removed = folder + "mif_removed.mif";
  const std::string objects = folder + "mif_removed.obj";
  const std::string expected = folder + "mif_expected.mif";
  {
    clsMIFUtilities util;
    util.MIFFile(removed);
    util.ObjFile(objects);
    if (!CopySynced(input.path, removed) || util.RemoveObjects() != 0) {
      return state.SkipWithError("cannot remove the insets of the input");
    }
    if (!ExpectInsetRoundTrip(input.path, expected)) {
      return state.SkipWithError("cannot write the expected result");
    }
  }
  const std::string doc = folder + "mif_inserted.mif";
  const std::string obj = folder + "mif_inserted.obj";
  Run(
      state, input.size, [&] { return CopySynced(removed, doc) && CopySynced(objects, obj); },
      [&](clsMIFUtilities& util) {
        util.MIFFile(doc);
        util.ObjFile(obj);
        return util.InsertObjects();
      });
  if (!state.error_occurred() && !SameBytes(expected, doc)) {
    state.SkipWithError("insertion did not give the document with its insets back");
  }
}

void BM_FillTables(benchmark::State& state) {
  Extract(state, FullInput(), "mif_full");
  if (state.error_occurred()) return;
  for (const char* table : {"index_entries", "xref_entries", "var_entries"}) {
    if (state.counters[table].value != kTableSlots) {
      return state.SkipWithError("a table did not fill to 32768 entries");
    }
  }
}

void BM_FillTablesMerge(benchmark::State& state) { Merge(state, FullInput(), "mif_full"); }

BENCHMARK(BM_Extract)->Name("MIF/extract")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Merge)->Name("MIF/merge")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveObjects)
    ->Name("MIF/remove_objects")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertObjects)
    ->Name("MIF/insert_objects")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillTables)->Name("MIF/fill_tables")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillTablesMerge)
    ->Name("MIF/fill_tables_merge")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vok::bench
