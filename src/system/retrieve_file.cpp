#include "voktools/retrieve_file.h"

#include <cstring>
#include <limits>

#include "frame/builtin_classes.h"
#include "common/progress.h"
#include "common/text_window.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/automation_error.h"

namespace vok {

struct clsRetrieveFile::Reader {
  TextWindow window;
  ByteFinder cr{'\r'};
  ByteFinder lf{'\n'};

  // Starts afresh at the file's read position, with unread bytes to come.
  void Reset(ReadableFile* file, int64_t unread, int32_t chunk) {
    window.Reset(file, unread, chunk);
    cr = ByteFinder('\r');
    lf = ByteFinder('\n');
  }
};

clsRetrieveFile::clsRetrieveFile() : clsRetrieveFile(CurrentEnv()) {}
clsRetrieveFile::clsRetrieveFile(Env& env) : env_(env), reader_(std::make_unique<Reader>()) {}
clsRetrieveFile::~clsRetrieveFile() = default;

bool clsRetrieveFile::OpenFile() {
  if (filename_.empty()) return false;
  std::string found;
  if (!env_.fs->FindFirst(filename_, FindKind::kFiles, &found).ok()) return false;
  if (file_) CloseFile();
  std::unique_ptr<ReadableFile> file;
  if (!env_.fs->OpenForRead(filename_, &file).ok()) return false;
  file_ = std::move(file);
  length_ = file_->Size();
  progress_ = 0;
  line_number_ = 0;
  reader_->Reset(file_.get(), length_, chunk_size_);
  return true;
}

void clsRetrieveFile::CloseFile() {
  // The buffered lines stay readable; a refill finds no file (error 52)
  // before the window would touch the closed one.
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
  TextWindow& w = reader_->window;
  Status s = w.ReadMore(static_cast<size_t>(chunk_size_));
  // A file that ends before its length said (it shrank under us) is an
  // error too: its lines would otherwise pass for the whole file.
  if (!s.ok()) throw AutomationError(err::kDeviceIO, "Device I/O error: " + s.message());
  if (length_ > 0) {
    progress_ = RoundedPercent(w.offset() + static_cast<int64_t>(w.size()), length_);
  }
}

bool clsRetrieveFile::NextLine(std::string_view* line) {
  TextWindow& w = reader_->window;
  size_t p;
  while (true) {
    p = std::min(reader_->cr.Find(w), reader_->lf.Find(w));
    if (p != std::string::npos || w.at_end()) break;
    Refill();
  }
  if (p == std::string::npos) {
    *line = w.view();
    w.Drop(w.size());
    // The last line has no line end and does not count.
    return !line->empty();
  }
  // A CR LF or LF CR pair may straddle the chunk boundary.
  if (p + 1 == w.size() && !w.at_end()) Refill();
  size_t end = p + 1;
  if (end < w.size()) {
    const char c1 = w.data()[p], c2 = w.data()[end];
    if ((c2 == '\r' || c2 == '\n') && c2 != c1) ++end;
  }
  *line = w.view().substr(0, end);
  w.Drop(end);
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
  // Past the end there is nothing left to read.
  reader_->Reset(file_.get(), std::max<int64_t>(0, length_ - value + 1), chunk_size_);
}

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsRetrieveFile>() {
  using C = clsRetrieveFile;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "clsRetrieveFile",
      {
          T::Property("Filename", 1, M::kGetLet, V::kText, &C::Filename, &C::Filename),
          T::Method("OpenFile", 2, {}, V::kBool, &C::OpenFile),
          T::Method("CloseFile", 3, {}, V::kEmpty, &C::CloseFile),
          // An out parameter: whatever the caller passed is replaced.
          T::Method("GetLineFromFile", 4, {{.name = "strLine", .type = V::kText, .out = true}},
                    V::kBool, &C::GetLineFromFile),
          T::Get("Progress", 5, V::kInt16, &C::Progress),
          T::Get("LineNumber", 6, V::kInt32, &C::LineNumber),
          T::Property("ChunkSize", 7, M::kGetLet, V::kInt32, &C::ChunkSize, &C::ChunkSize),
          T::Property("Position", 8, M::kGetLet, V::kInt32, &C::Position, &C::Position),
      }};
  return info;
}

const ClassTypeInfo& clsRetrieveFile::TypeInfo() const { return detail::TypeInfoOf<clsRetrieveFile>(); }

}  // namespace vok
