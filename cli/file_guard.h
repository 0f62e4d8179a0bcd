// What the commands check before they hand a file to the library: inputs
// that are not regular files, outputs that already exist, object files of
// the other kind, and two files of one run that would write the same output.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/file_system.h"

namespace vok::cli {

// "not a regular file" when path names (also through a symbolic link) a
// folder, a FIFO, a device or a socket; nothing when it is a regular file or
// does not exist (the library reports that). Never opens the file.
std::optional<std::string> NotRegularInput(const std::string& path);

// The first bytes of a regular file, at most n; nothing when it is not one
// or cannot be opened. Never blocks on a FIFO.
std::optional<std::string> FileHead(const std::string& path, size_t n);

// Why path cannot be opened for reading ("Permission denied", "No such file
// or directory", "not a regular file"); empty when it can.
std::string WhyUnreadable(const std::string& path);

// Why no new file can be made in the folder of path ("Permission denied",
// "Read-only file system"); empty when one can. Leaves nothing behind.
std::string WhyNoFileBeside(const std::string& path);

// What an existing object file holds, from its first bytes.
enum class ObjectKind { kNone, kRtf, kMif };
ObjectKind ObjectKindOf(const std::string& path);

// Whether a and b name the same file: the same name, or the same file
// identity when both exist.
bool SameFile(const std::string& a, const std::string& b);

// The outputs written so far in one run, by name and by file identity, with
// the input each was written for.
class RunOutputs {
 public:
  // Records output as written for input, after the library call; an output
  // that is not there then holds nothing a later file could destroy.
  void Claim(const std::string& output, const std::string& input);
  // The input an earlier file of the run wrote output for, if any.
  const std::string* ClaimedBy(const std::string& output) const;

 private:
  std::map<std::string, std::string> by_name_;
  std::map<std::pair<uint64_t, uint64_t>, std::string> by_id_;
};

struct OutputCheck {
  bool force = false;
  // An object file holding objects of this kind is never replaced.
  ObjectKind foreign = ObjectKind::kNone;
  // What an existing output is to whoever reads the message ("object file").
  const char* what = "output";
};

struct Refusal {
  std::string message;
  bool exists = false;  // only because it exists: force would have allowed it
};

// Why output must not be written, or nothing when it may: it is an output of
// an earlier file of the run, or not a regular file, or an object file of
// the foreign kind (all three even with force), or it exists (unless force).
std::optional<Refusal> RefuseOutput(const std::string& output, const OutputCheck& check,
                                    const RunOutputs& run);

// Moves an existing backup out of the way, to the first free name
// backup.1, backup.2, ..., without replacing anything and without following
// a link planted at either name. Returns the new name, "" when there was no
// backup, or nothing with the reason in *error.
std::optional<std::string> MoveBackupAside(const std::string& backup, std::string* error);

}  // namespace vok::cli
