#include "voktools/retrieve_file.h"

#include <cstring>
#include <limits>

#include "common/progress.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/automation_error.h"

namespace vok {

clsRetrieveFile::clsRetrieveFile() : clsRetrieveFile(CurrentEnv()) {}
clsRetrieveFile::clsRetrieveFile(Env& env) : env_(env) {}
clsRetrieveFile::~clsRetrieveFile() = default;

void clsRetrieveFile::ResetBuffer() {
  buffer_.clear();
  start_ = 0;
  cr_ = Finder{};
  lf_ = Finder{};
}

bool clsRetrieveFile::OpenFile() {
  if (filename_.empty()) return false;
  std::string found;
  if (!env_.fs->FindFirst(filename_, FindKind::kFiles, &found).ok()) return false;
  if (file_) CloseFile();
  std::unique_ptr<ReadableFile> file;
  if (!env_.fs->OpenForRead(filename_, &file).ok()) return false;
  file_ = std::move(file);
  length_ = remaining_ = file_->Size();
  progress_ = 0;
  line_number_ = 0;
  ResetBuffer();
  return true;
}

void clsRetrieveFile::CloseFile() {
  file_.reset();
  progress_ = 0;
}

void clsRetrieveFile::ChunkSize(int32_t value) {
  // A chunk of 0 bytes would never reach the end of the file.
  if (value < 1) throw AutomationError(err::kInvalidCall);
  chunk_size_ = value;
}

void clsRetrieveFile::Refill() {
  if (!file_) throw AutomationError(err::kBadFileNumber);
  int64_t want = remaining_ < chunk_size_ ? remaining_ : chunk_size_;
  remaining_ -= want;
  // Consumed text is dropped here, where what is kept is at most the start of
  // one line: the copy is small, and the buffer is never shifted per line.
  if (start_ > 0) {
    buffer_.erase(0, start_);
    auto shift = [this](Finder& f) {
      if (f.found) {
        f.found = f.pos >= start_;
        f.pos = f.found ? f.pos - start_ : 0;
      }
      f.scanned = f.scanned > start_ ? f.scanned - start_ : 0;
    };
    shift(cr_);
    shift(lf_);
    start_ = 0;
  }
  size_t old_size = buffer_.size();
  buffer_.resize(old_size + static_cast<size_t>(want));
  size_t got = 0;
  Status s = file_->Read(static_cast<size_t>(want), buffer_.data() + old_size, &got);
  buffer_.resize(old_size + got);
  if (!s.ok()) throw AutomationError(err::kDeviceIO, "Device I/O error: " + s.message());
  if (got < static_cast<size_t>(want)) remaining_ = 0;  // the file shrank under us
  if (length_ > 0) progress_ = RoundedPercent(length_ - remaining_, length_);
}

size_t clsRetrieveFile::NextEnd(char c, Finder& f) {
  if (f.found && f.pos >= start_) return f.pos;
  size_t from = f.found ? start_ : std::max(f.scanned, start_);
  const char* base = buffer_.data();
  const void* hit =
      from < buffer_.size() ? std::memchr(base + from, c, buffer_.size() - from) : nullptr;
  if (hit != nullptr) {
    f.found = true;
    f.pos = static_cast<size_t>(static_cast<const char*>(hit) - base);
    return f.pos;
  }
  f.found = false;
  f.scanned = buffer_.size();
  return std::string::npos;
}

bool clsRetrieveFile::NextLine(std::string_view* line) {
  size_t p;
  while (true) {
    p = std::min(NextEnd('\r', cr_), NextEnd('\n', lf_));
    if (p != std::string::npos || remaining_ <= 0) break;
    Refill();
  }
  if (p == std::string::npos) {
    if (start_ == buffer_.size()) {
      *line = {};
      return false;
    }
    // The last line has no line end and does not count.
    *line = std::string_view(buffer_).substr(start_);
    start_ = buffer_.size();
    return true;
  }
  if (p + 1 == buffer_.size() && remaining_ > 0) {
    // A CR LF or LF CR pair may straddle the chunk boundary.
    size_t offset = p - start_;
    Refill();
    p = start_ + offset;
  }
  size_t end = p + 1;
  if (end < buffer_.size()) {
    char c1 = buffer_[p], c2 = buffer_[end];
    if ((c2 == '\r' || c2 == '\n') && c2 != c1) ++end;
  }
  *line = std::string_view(buffer_).substr(start_, end - start_);
  start_ = end;
  ++line_number_;
  return true;
}

bool clsRetrieveFile::GetLineFromFile(std::string& strLine) {
  std::string_view line;
  bool more = NextLine(&line);
  strLine.assign(line);
  return more;
}

int32_t clsRetrieveFile::Position() const {
  if (!file_) throw AutomationError(err::kBadFileNumber);
  int64_t position = file_->Tell() + 1;
  if (position > std::numeric_limits<int32_t>::max()) throw AutomationError(err::kOverflow);
  return static_cast<int32_t>(position);
}

void clsRetrieveFile::Position(int32_t value) {
  if (!file_) throw AutomationError(err::kBadFileNumber);
  if (value < 1) throw AutomationError(err::kBadRecordNumber);
  Status s = file_->Seek(value - 1);
  if (!s.ok()) throw AutomationError(err::kDeviceIO, "Device I/O error: " + s.message());
  ResetBuffer();
  // Past the end there is nothing left to read.
  remaining_ = std::max<int64_t>(0, length_ - value + 1);
}

const ClassTypeInfo& clsRetrieveFile::TypeInfo() const {
  using V = VarType;
  static const ClassTypeInfo info{
      "clsRetrieveFile",
      {
          {"Filename", 1, MemberKind::kGetLet, {}, V::kText, V::kText},
          {"OpenFile", 2, MemberKind::kMethod, {}, V::kBool},
          {"CloseFile", 3, MemberKind::kMethod, {}, V::kEmpty},
          {"GetLineFromFile",
           4,
           MemberKind::kMethod,
           {{.name = "strLine", .type = V::kText, .out = true}},
           V::kBool},
          {"Progress", 5, MemberKind::kGet, {}, V::kInt16},
          {"LineNumber", 6, MemberKind::kGet, {}, V::kInt32},
          {"ChunkSize", 7, MemberKind::kGetLet, {}, V::kInt32, V::kInt32},
          {"Position", 8, MemberKind::kGetLet, {}, V::kInt32, V::kInt32},
      }};
  return info;
}

Variant clsRetrieveFile::DoInvoke(const MemberInfo& member, InvokeKind kind,
                                  std::vector<Variant>& a) {
  const bool let = kind == InvokeKind::kPropertyLet;
  switch (member.dispid) {
    case 1:
      if (let) return Filename(a[0].ToText()), Variant();
      return Filename();
    case 2:
      return OpenFile();
    case 3:
      CloseFile();
      return {};
    case 4: {
      // An out parameter: whatever the caller passed is replaced.
      std::string line;
      bool more = GetLineFromFile(line);
      a[0] = Variant(std::move(line));
      return more;
    }
    case 5:
      return Progress();
    case 6:
      return LineNumber();
    case 7:
      if (let) return ChunkSize(a[0].ToInt32()), Variant();
      return ChunkSize();
    case 8:
      if (let) return Position(a[0].ToInt32()), Variant();
      return Position();
  }
  throw AutomationError(err::kNotSupported);
}

}  // namespace vok
