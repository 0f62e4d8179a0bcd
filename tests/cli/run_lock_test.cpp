#include "run_lock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <thread>

#include "platform/posix_file_system.h"
#include "support/scratch_dir.h"

namespace vok::cli {
namespace {

// A run whose folder another holds waits for it, says so once, and then
// holds every folder of its files until it releases them.
TEST(FolderLocks, WaitForTheHolderThenHoldEveryFolder) {
  test::ScratchDir a, b;
  PosixFileSystem fs;
  auto free_now = [&fs](const std::string& folder) {
    std::unique_ptr<FileLock> probe;
    return fs.Lock(folder, LockWait::kNoWait, &probe).code();
  };
  std::unique_ptr<FileLock> other_run;
  ASSERT_TRUE(fs.Lock(a.path(), LockWait::kNoWait, &other_run).ok());

  FolderLocks locks(fs);
  std::ostringstream err;
  std::thread run([&] { locks.Acquire({a / "x", b / "y", a / "z", ""}, err); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  other_run.reset();
  run.join();
  EXPECT_EQ(err.str(), "voktools: waiting for another voktools run in the same folder to finish\n");
  EXPECT_EQ(free_now(a.path()), EWOULDBLOCK);
  EXPECT_EQ(free_now(b.path()), EWOULDBLOCK);
  locks.Release();
  EXPECT_EQ(free_now(a.path()), 0);
  EXPECT_EQ(free_now(b.path()), 0);
}

}  // namespace
}  // namespace vok::cli
