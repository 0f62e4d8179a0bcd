// The one way a user's file is written: output goes to a scratch file that
// no other run can see (unnamed where the file system allows, mode 0600),
// which is flushed to disk, given the mode, owner and group the file is to
// have, and only then put in place by a rename in the target's folder, whose
// entry is synced in turn. At every instant the target holds its old bytes
// or its complete new ones; a run killed before that leaves nothing behind.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "voktools/variant.h"

namespace vok {

struct Env;

enum class OutputKind {
  // The document itself, or a file rebuilt from it: an existing target keeps
  // its mode, owner and group; a new one takes the model's, else those of a
  // new file.
  kDocument,
  // A file that holds part of a document (objects, server code, texts):
  // it takes the model document's mode (writable by its owner), owner and
  // group, so that it is never readable by more people than the document.
  kSideFile,
};

struct OutputOptions {
  OutputKind kind = OutputKind::kDocument;
  // The document whose attributes the output takes (see OutputKind).
  std::string model;
  // A symbolic link at the target: false replaces the link itself with the
  // output (a link planted at a side file's name leads nowhere); true
  // rewrites the file it points to, so that a document reached through a
  // link stays a link.
  bool follow_link = false;
};

// The document itself, rewritten where it stands.
inline OutputOptions InPlace() {
  OutputOptions o;
  o.follow_link = true;
  return o;
}

// A side file of document.
inline OutputOptions SideFileOf(std::string document) {
  OutputOptions o;
  o.kind = OutputKind::kSideFile;
  o.model = std::move(document);
  return o;
}

class ReplacementFile {
 public:
  ReplacementFile() = default;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  ~ReplacementFile() { Abandon(); }

  // Fails (nothing created) when the target is a folder or another file
  // that is not a regular one, or when no scratch file can be made beside it.
  Status Start(Env& env, const std::string& target, OutputOptions options = {});
  bool started() const { return file_ != nullptr; }
  WritableFile& file() { return *file_; }
  // The name given to Start.
  const std::string& target() const { return target_; }

  // Writes what is buffered and flushes the file to disk; its status.
  Status Close();
  // Puts the closed file in place of the target, with the steps and
  // messages of clsCommon::MoveFile (a read-only target is made writable
  // once and replaced all the same, and the new file is read-only again);
  // errors is a Collection or Nothing. The count of failures; after a
  // failure the target is as it was and the scratch file is gone. With
  // keep_previous, the target's previous content stays at hand for Revert.
  int16_t Commit(const Variant& errors = Variant::Nothing(), bool keep_previous = false);
  // Drops an unfinished file.
  void Abandon();

  // After Commit(.., true): puts the previous content back, or removes the
  // new file where there was none. Release forgets the previous content.
  Status Revert();
  void Release();

 private:
  struct Attributes {
    uint32_t mode = 0;
    uint32_t uid = 0;
    uint32_t gid = 0;
    bool from_file = false;  // taken from an existing file
    bool read_only = false;  // the target was read-only
  };

  Env* env_ = nullptr;
  std::string target_;
  std::string os_target_;  // where the output goes: the link's target when followed
  Attributes attributes_;
  std::unique_ptr<ScratchFile> file_;
  std::string previous_;  // private name of the previous content
  bool had_target_ = false;
  bool committed_ = false;
};

// Appends what is left of in to out.
Status CopyContents(ReadableFile& in, WritableFile& out);

// Copies the file from to a replacement of to, written with options.
Status CopyFile(Env& env, const std::string& from, const std::string& to,
                const OutputOptions& options);

// The steps around replacing target that MoveFile describes: a read-only
// target is made writable once (with the messages 3004 and 3005) and
// replace is tried again; any failure adds its message to errors and counts
// 1. A target made writable that could not be replaced is read-only again.
int16_t ReplaceWithRetry(FileSystem& fs, const std::string& target, const Variant& errors,
                         const std::function<Status()>& replace);

// clsCommon::MoveFile: from replaces to, which keeps its mode, owner and
// group (from's when to is new); by a rename where both share a file
// system, otherwise by a copy through a ReplacementFile.
int16_t MoveOver(Env& env, const std::string& from, const std::string& to, const Variant& errors);

}  // namespace vok
