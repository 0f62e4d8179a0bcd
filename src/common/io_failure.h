// A read or write that fails once a run has opened its files ends the run:
// the step that failed throws IoFailure, and the operation catches it where
// it can leave its files as they were and report the reason.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <utility>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vok {

struct IoFailure {
  Status status;
  // The file that failed, where the message names it; may be empty.
  std::string file;
};

// Throws IoFailure when status is a failure.
inline void Check(const Status& status, const std::string& file = {}) {
  if (!status.ok()) throw IoFailure{status, file};
}

// Reads n bytes into buf; a file that ends before them changed under the
// run and gives EIO.
inline Status ReadFully(ReadableFile& file, size_t n, char* buf) {
  size_t got = 0;
  Status s = file.Read(n, buf, &got);
  if (s.ok() && got < n) s = Status::FromErrno(EIO);
  return s;
}

}  // namespace vok
