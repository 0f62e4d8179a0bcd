// A platform whose files live in memory: fast, and with failures on demand.
#pragma once

#include <string>

#include "platform/env.h"
#include "platform/posix_profile_store.h"
#include "platform/windowing.h"
#include "support/memory_file_system.h"

namespace vok::test {

struct MemoryWorld {
  MemoryFileSystem fs;
  PosixProfileStore profile{&fs};
  HeadlessWindowing windowing;
  Env env{&fs, &profile, &windowing};
  // The bytes of a file, "" when there is none.
  std::string Read(const std::string& path) {
    std::string bytes;
    fs.ReadFile(path, &bytes);
    return bytes;
  }
};

}  // namespace vok::test
