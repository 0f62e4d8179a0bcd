// cRegistry's Value let and get on a store file in the scratch folder:
// 100 000 texts in 100 keys, written, then read back.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench_input.h"
#include "frame/with_env.h"
#include "platform/env.h"
#include "platform/sqlite_registry.h"
#include "voktools/registry.h"

namespace vok::bench {
namespace {

constexpr int kValues = 100000;
constexpr int kPerKey = 1000;

std::string StoreFile() { return ScratchFolder() + "bench_registry.sqlite3"; }

void Point(cRegistry& r, int i) {
  r.SectionKey("Software\\VOKTools\\Bench\\Key" + std::to_string(i / kPerKey));
  r.ValueKey("Value" + std::to_string(i % kPerKey));
}

void BM_RegistryLet(benchmark::State& state) {
  std::filesystem::remove(StoreFile());
  SqliteRegistry store(StoreFile());
  Env env = CurrentEnv();
  env.registry = &store;
  WithEnv<cRegistry> r(env);
  r.ClassKey(HKEY_CURRENT_USER);
  r.ValueType(REG_SZ);
  int i = 0;
  for (auto _ : state) {
    Point(r, i);
    r.Value(Variant("C:\\Program Files\\VOK\\file" + std::to_string(i) + ".txt"));
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["store_MB"] =
      static_cast<double>(std::filesystem::file_size(StoreFile())) / (1 << 20);
}

void BM_RegistryGet(benchmark::State& state) {
  SqliteRegistry store(StoreFile());
  Env env = CurrentEnv();
  env.registry = &store;
  WithEnv<cRegistry> r(env);
  r.ClassKey(HKEY_CURRENT_USER);
  int i = 0, missing = 0;
  for (auto _ : state) {
    Point(r, i % kValues);
    if (r.Value().type() != VarType::kText) ++missing;
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
  if (missing > 0) state.SkipWithError("values missing: run Registry/let first");
}

BENCHMARK(BM_RegistryLet)->Name("Registry/let")->Iterations(kValues)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RegistryGet)->Name("Registry/get")->Iterations(kValues)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vok::bench
