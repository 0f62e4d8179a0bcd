// clsCommon::MoveFile of the input: a rename within one folder, and the copy
// it falls back to when the rename crosses devices.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_input.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/posix_file_system.h"
#include "voktools/common.h"

namespace vok::bench {
namespace {

// The real file system, except that renaming one chosen file fails as a
// rename across devices does: MoveFile then copies that file, and its final
// rename of the copy over the target goes through.
class CrossDeviceFileSystem : public PosixFileSystem {
 public:
  explicit CrossDeviceFileSystem(std::string source) : source_(std::move(source)) {}

  Status Rename(const std::string& from, const std::string& to) override {
    if (from == source_) return Status::FromErrno(EXDEV);
    return PosixFileSystem::Rename(from, to);
  }

 private:
  std::string source_;
};

// Source and target in the scratch folder. The source is made once as a copy
// of the input; every move leaves its bytes in the target, and renaming the
// target back recreates the source for the next iteration without writing
// the bytes again. The target is a small file, written fresh each time, so
// that every move replaces an existing file.
class MoveFiles {
 public:
  bool Prepare(std::string* error) {
    const Input& input = BenchInput();
    if (input.path.empty()) return *error = input.error, false;
    const std::string& folder = ScratchFolder();
    if (folder.empty()) return *error = "cannot make a scratch folder", false;
    source_ = folder + "move_source.txt";
    target_ = folder + "move_target.txt";
    std::error_code ec;
    if (std::filesystem::file_size(source_, ec) != static_cast<uintmax_t>(input.size)) {
      std::filesystem::copy_file(input.path, source_,
                                 std::filesystem::copy_options::overwrite_existing, ec);
      if (ec) return *error = "cannot copy the input: " + ec.message(), false;
    }
    return true;
  }

  // Puts the source and a small target in place.
  bool Reset() {
    if (std::filesystem::exists(target_) && !std::filesystem::exists(source_) &&
        std::rename(target_.c_str(), source_.c_str()) != 0) {
      return false;
    }
    std::ofstream target(target_, std::ios::binary | std::ios::trunc);
    target << "the previous content\r\n";
    return static_cast<bool>(target);
  }

  const std::string& source() const { return source_; }
  const std::string& target() const { return target_; }

 private:
  std::string source_;
  std::string target_;
};

void RunMoves(benchmark::State& state, MoveFiles& files, bool copies) {
  clsCommon common;
  for (auto _ : state) {
    if (!files.Reset()) return state.SkipWithError("cannot put the source back");
    auto start = std::chrono::steady_clock::now();
    int16_t failed = common.MoveFile(files.source(), files.target());
    auto stop = std::chrono::steady_clock::now();
    if (failed != 0) return state.SkipWithError("MoveFile failed");
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  // The target must now hold the input, whichever way it got there.
  std::error_code ec;
  if (std::filesystem::file_size(files.target(), ec) != static_cast<uintmax_t>(BenchInput().size)) {
    return state.SkipWithError("the target does not hold the input");
  }
  // A rename moves no bytes, so only the copy gets a byte rate.
  if (copies) state.SetBytesProcessed(state.iterations() * BenchInput().size);
}

void BM_MoveFileRename(benchmark::State& state) {
  MoveFiles files;
  std::string error;
  if (!files.Prepare(&error)) return state.SkipWithError(error.c_str());
  RunMoves(state, files, false);
}

void BM_MoveFileCopy(benchmark::State& state) {
  MoveFiles files;
  std::string error;
  if (!files.Prepare(&error)) return state.SkipWithError(error.c_str());
  CrossDeviceFileSystem fs(files.source());
  Env& real = Env::Default();
  Env env{&fs, real.profile, real.windowing};
  ScopedEnv scope(env);
  RunMoves(state, files, true);
}

BENCHMARK(BM_MoveFileRename)
    ->Name("MoveFile/rename")
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MoveFileCopy)->Name("MoveFile/copy")->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vok::bench
