#include "mif/mif_insets.h"

#include <algorithm>
#include <vector>

#include "common/io_failure.h"
#include "common/marker_index.h"
#include "common/progress.h"
#include "common/replacement_file.h"
#include "common/text_window.h"
#include "frame/with_env.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/common.h"
#include "voktools/messages.h"

namespace vok {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kObjStart = "<QUONObj ";
constexpr std::string_view kEndInset = "=EndInset";
constexpr std::string_view kEndMark = "<QUONObj End>";
constexpr size_t npos = std::string_view::npos;

// An output that replaces its target when complete; a failed write ends
// the run.
struct TempOutput : ReplacementFile {
  void Append(std::string_view text) { Check(file().Append(text), target()); }
  void Finish() { Check(Close(), target()); }
};

// What follows "<QUONObj " in a token, up to its ">".
std::string TokenLabel(std::string_view token) {
  if (token.starts_with(kObjStart)) token.remove_prefix(kObjStart.size());
  token = token.substr(0, token.find('>'));
  while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
  return std::string(token.substr(0, 64));
}

void AddMessage(Collection& errors, MessageId id) { errors.Add(Variant(std::string(Message(id)))); }

// A read or write that failed during a run, and the file it concerned.
void AddIoFailure(Collection& errors, const IoFailure& f) {
  errors.Add(Variant(std::string(Message(MessageId::kErrorCopying)) + f.file + std::string(kCRLF) +
                     f.status.message()));
}

// The MIF file read through a window of 1 MB pieces, with the percentage
// of it read reported whenever it grows.
class MifInput {
 public:
  MifInput(MifInsetRun& run, ReadableFile& file) : run_(run), size_(file.Size()) {
    w_.Reset(&file, size_, std::max(run.chunk, 16));
  }

  TextWindow& window() { return w_; }
  const TextWindow& window() const { return w_; }
  // Reads more when the window runs low; false when a read failed.
  void Refill() {
    Check(w_.Refill(), run_.mif_file);
    Report();
  }
  // Reads on whatever the window holds (a line longer than it).
  void ReadMore() {
    Check(w_.ReadMore(static_cast<size_t>(w_.chunk())), run_.mif_file);
    Report();
  }
  void Drop(size_t n) {
    prev_ = n > 0 ? w_.view()[n - 1] : prev_;
    w_.Drop(n);
  }
  // Whether a line begins at window position i.
  bool LineStartsAt(size_t i) const {
    const char before = i == 0 ? prev_ : w_.view()[i - 1];
    return before == '\r' || before == '\n';
  }
  // The end of the line whose first line-end byte is at or after `from`,
  // npos when more must be read to know it.
  size_t LineEndFrom(size_t from) const {
    std::string_view v = w_.view();
    const size_t eol = FindAnyOf(v, "\r\n", from);
    if (w_.at_end()) return LineEndAfter(v, eol);
    if (eol == npos || eol + 1 >= v.size()) return npos;  // the pair may go on
    return LineEndAfter(v, eol);
  }

 private:
  // The percentage of the file read, when it grew.
  void Report() {
    if (int16_t percent; progress_.Grew(w_.read_total(), size_, &percent) && run_.progress) {
      run_.progress(percent);
    }
  }

  MifInsetRun& run_;
  int64_t size_;
  TextWindow w_;
  char prev_ = '\n';  // the byte before the window: the file starts a line
  ProgressMeter progress_{0};
};

// The first position at or after from where needle begins a line, or npos.
size_t FindAtLineStart(const MifInput& in, std::string_view needle, size_t from) {
  std::string_view v = in.window().view();
  for (size_t i = from; (i = FindAnchored(v, needle, 0, i)) != npos; ++i) {
    if (in.LineStartsAt(i)) return i;
  }
  return npos;
}

// Every line of the object file that holds "<QUONObj ", found in one pass
// and known by each "<QUONObj ...>" token on it: the lookups of insertion
// jump to the line they want.
class ObjectIndex {
 public:
  static constexpr size_t npos = MarkerIndex::npos;

  Status Build(ReadableFile& file) {
    TextWindow w;
    w.Reset(&file, file.Size(), 1 << 20);
    // The window always begins where a line begins (or on the second byte
    // of the CR LF or LF CR pair that ended the line before).
    while (true) {
      Status s = w.Refill();
      if (!s.ok()) return s;
      std::string_view v = w.view();
      const size_t i = v.find(kObjStart);
      const size_t eol = i == npos ? npos : FindAnyOf(v, "\r\n", i);
      if (i == npos || ((eol == npos || eol + 1 >= v.size()) && !w.at_end())) {
        if (i == npos && w.at_end()) break;
        // Keep the last line, which may go on in the next piece.
        const size_t keep = LineStartBefore(v, i == npos ? v.size() : i);
        if (keep > 0) {
          w.Drop(keep);
          continue;
        }
        const size_t before = w.size();
        if (!(s = w.ReadMore(static_cast<size_t>(w.chunk()))).ok()) return s;
        if (w.size() == before) break;
        continue;
      }
      const size_t start = LineStartBefore(v, i);
      const size_t end = LineEndAfter(v, eol);
      std::string_view line = v.substr(start, end - start);
      lines_.AddEntry(w.offset() + static_cast<int64_t>(start),
                      w.offset() + static_cast<int64_t>(end));
      // A header line begins with its token, which is then its label.
      header_.push_back(i == start);
      for (size_t q = line.find(kObjStart); q != npos; q = line.find(kObjStart, q + 1)) {
        size_t close = line.find('>', q + kObjStart.size());
        lines_.AddKey(close == npos ? line.substr(q) : line.substr(q, close + 1 - q));
      }
      w.Drop(end);
    }
    return Status::OK();
  }

  // The first line holding key at or after offset `from`, else the first
  // in the file; npos when none does. *repeated: an earlier Find took that
  // line already.
  size_t Find(std::string_view key, int64_t from, bool* repeated) {
    const size_t id = lines_.Find(key, from);
    if (id != npos) *repeated = lines_.Take(id);
    return id;
  }
  const MarkerIndex::Entry& line(size_t id) const { return lines_.entry(id); }

  // The header lines no Find took, but the end mark, by their tokens.
  std::vector<std::string> Unused() const {
    std::vector<std::string> tokens;
    for (size_t k = 0; k < lines_.size(); ++k) {
      if (header_[k] && !lines_.taken(k) && !lines_.label(k).starts_with(kEndMark)) {
        tokens.emplace_back(lines_.label(k));
      }
    }
    return tokens;
  }

  // Where the next header after line id starts, or the file's size.
  int64_t NextHeader(size_t id, int64_t size) const {
    for (size_t k = id + 1; k < lines_.size(); ++k) {
      if (header_[k]) return lines_.entry(k).start;
    }
    return size;
  }

 private:
  MarkerIndex lines_;
  std::vector<bool> header_;
};

}  // namespace

bool MifFileExists(FileSystem& fs, const std::string& mif_file) {
  std::string found;
  return fs.FindFirst(mif_file, FindKind::kFiles, &found).ok();
}

std::string MakeObjFileName(const std::string& mif_file) {
  size_t dot = mif_file.rfind('.');
  return dot == std::string::npos ? mif_file + ".obj" : mif_file.substr(0, dot + 1) + "obj";
}

int16_t RemoveMifObjects(MifInsetRun& run) {
  FileSystem& fs = *run.env.fs;
  if (run.mif_file.empty()) return AddMessage(run.errors, MessageId::kNoMifFile), 1;
  if (!MifFileExists(fs, run.mif_file))
    return AddMessage(run.errors, MessageId::kMifFileNotFound), 1;
  if (run.obj_file.empty()) run.obj_file = MakeObjFileName(run.mif_file);
  std::unique_ptr<ReadableFile> file;
  if (!fs.OpenForRead(run.mif_file, &file).ok())
    return AddMessage(run.errors, MessageId::kCannotOpenMifFile), 1;
  // An old object file that cannot be deleted (read-only, or in a folder
  // that forbids it) stays, and so does everything else. A folder of that
  // name is no file to delete: it cannot be opened for writing.
  FileInfo info;
  if (fs.GetLinkInfo(run.obj_file, &info).ok() && !info.is_dir &&
      !fs.CheckRemovable(run.obj_file).ok()) {
    return AddMessage(run.errors, MessageId::kCannotDeletePreviousObjFile), 1;
  }
  TempOutput obj, mif;
  if (!obj.Start(run.env, run.obj_file, SideFileOf(run.mif_file))
           .ok()) {
    return AddMessage(run.errors, MessageId::kCannotOpenObjFile), 1;
  }
  if (!mif.Start(run.env, run.mif_file, InPlace()).ok()) {
    return AddMessage(run.errors, MessageId::kCannotCreateTempFile), 1;
  }
  try {
    MifInput in(run, *file);
    TextWindow& w = in.window();
    int32_t count = 0;
    bool inside = false;
    while (true) {
      in.Refill();
      std::string_view v = w.view();
      if (v.empty()) break;
      if (!inside) {
        // Text goes to the MIF file up to a line starting with "=" (an
        // inset) or a placeholder of an earlier removal.
        const size_t inset = FindAtLineStart(in, "=", 0);
        const size_t old = FindAnchored(v, kObjStart, 1, 0);
        if (old != npos && old < inset) {
          // Insets taken out before: the object file holds their only copy.
          return AddMessage(run.errors, MessageId::kCannotDeletePreviousObjFile), 1;
        }
        if (inset == npos) {
          // Keep what could begin a placeholder cut off by the window's end.
          const size_t pass = w.at_end() ? v.size() : v.size() - std::min(v.size(), kObjStart.size());
          mif.Append(v.substr(0, pass));
          in.Drop(pass);
          if (pass == 0 && !w.at_end()) in.ReadMore();
          continue;
        }
        mif.Append(v.substr(0, inset));
        in.Drop(inset);
        std::string placeholder = std::string(kObjStart) + std::to_string(++count) + ">\r\n";
        obj.Append(placeholder);
        mif.Append(placeholder);
        inside = true;
        continue;
      }
      // Inside an inset.
      if (v.size() < kEndInset.size() && !w.at_end()) {
        in.ReadMore();
        continue;
      }
      if (in.LineStartsAt(0) && v.starts_with(kEndInset)) {
        const size_t end = in.LineEndFrom(kEndInset.size());
        if (end == npos) {
          in.ReadMore();
          continue;
        }
        obj.Append(std::string(kEndInset) + std::string(kCRLF));
        in.Drop(end);
        inside = false;
        continue;
      }
      const size_t stop = FindAtLineStart(in, kEndInset, 1);
      if (stop != npos) {
        obj.Append(v.substr(0, stop));
        in.Drop(stop);
        continue;
      }
      // Keep what could begin "=EndInset" cut off by the window's end.
      const size_t pass = w.at_end() ? v.size() : v.size() - std::min(v.size(), kEndInset.size());
      obj.Append(v.substr(0, pass));
      in.Drop(pass);
      if (pass == 0 && !w.at_end()) in.ReadMore();
    }
    obj.Append(kEndMark);
    obj.Finish();
    mif.Finish();
  } catch (const IoFailure& f) {
    AddIoFailure(run.errors, f);
    return 1;
  }
  file.reset();
  // The insets are on disk in their object file before the MIF file loses
  // them.
  const Variant errors(run.errors.shared_from_this());
  const int16_t failed = obj.Commit(errors);
  if (failed != 0) return failed;
  return mif.Commit(errors);
}

int16_t InsertMifObjects(MifInsetRun& run) {
  FileSystem& fs = *run.env.fs;
  WithEnv<clsCommon> common(run.env);
  if (run.mif_file.empty()) return AddMessage(run.errors, MessageId::kNoMifFile), 1;
  if (!MifFileExists(fs, run.mif_file))
    return AddMessage(run.errors, MessageId::kMifFileNotFound), 1;
  if (run.obj_file.empty()) run.obj_file = MakeObjFileName(run.mif_file);
  if (!common.FileExists(run.obj_file))
    return AddMessage(run.errors, MessageId::kObjFileNotFound), 1;
  std::unique_ptr<ReadableFile> file;
  if (!fs.OpenForRead(run.mif_file, &file).ok())
    return AddMessage(run.errors, MessageId::kCannotOpenMifFile), 1;
  std::unique_ptr<ReadableFile> objects;
  if (!fs.OpenForRead(run.obj_file, &objects).ok())
    return AddMessage(run.errors, MessageId::kCannotOpenObjFile), 1;
  TempOutput mif;
  if (!mif.Start(run.env, run.mif_file, InPlace()).ok()) {
    return AddMessage(run.errors, MessageId::kCannotCreateTempFile), 1;
  }
  run.missing.clear();
  run.repeated.clear();
  run.unused.clear();
  run.move_messages.clear();
  try {
    ObjectIndex index;
    Status s = index.Build(*objects);
    Check(s, run.obj_file);
    // The end mark closes the last inset also where it follows a last line
    // without a line end (an inset cut off by the end of the MIF file).
    int64_t content_end = objects->Size();
    if (content_end >= static_cast<int64_t>(kEndMark.size())) {
      std::string tail(kEndMark.size(), '\0');
      size_t got = 0;
      s = objects->Seek(content_end - static_cast<int64_t>(kEndMark.size()));
      if (s.ok()) s = objects->Read(tail.size(), tail.data(), &got);
      Check(s, run.obj_file);
      if (got == tail.size() && tail == kEndMark) content_end -= static_cast<int64_t>(got);
    }
    int64_t here = 0;  // where the object file stands: after the last inset copied
    std::string piece;
    MifInput in(run, *file);
    TextWindow& w = in.window();
    while (true) {
      in.Refill();
      std::string_view v = w.view();
      if (v.empty()) break;
      // Lines without a placeholder are copied as they are.
      const size_t key_at = FindAnchored(v, kObjStart, 1, 0);
      if (key_at == npos) {
        // The last line may go on in the next piece, with a placeholder.
        const size_t pass = w.at_end() ? v.size() : LineStartBefore(v, v.size());
        mif.Append(v.substr(0, pass));
        in.Drop(pass);
        if (pass == 0 && !w.at_end()) in.ReadMore();
        continue;
      }
      const size_t start = LineStartBefore(v, key_at);
      const size_t line_end = in.LineEndFrom(key_at + kObjStart.size());
      if (line_end == npos) {
        mif.Append(v.substr(0, start));
        in.Drop(start);
        if (start == 0) in.ReadMore();
        continue;
      }
      mif.Append(v.substr(0, start));
      // The rest of the placeholder's line, its line end included, is left out.
      const std::string_view line = v.substr(start, line_end - start);
      const size_t at = key_at - start;
      size_t close = line.find('>', at + kObjStart.size());
      std::string_view key = close == npos ? line.substr(at) : line.substr(at, close + 1 - at);
      bool repeated = false;
      const size_t id = index.Find(key, here, &repeated);
      if (id == ObjectIndex::npos) run.missing.push_back(TokenLabel(key));
      if (repeated) run.repeated.push_back(TokenLabel(key));
      in.Drop(line_end);
      if (id == ObjectIndex::npos) {
        mif.Append(std::string(kEndInset) + std::string(kCRLF) + std::string(kCRLF));
        here = 0;
        continue;
      }
      const MarkerIndex::Entry& found = index.line(id);
      const int64_t end = std::min(index.NextHeader(id, objects->Size()), content_end);
      Check(objects->Seek(found.end), run.obj_file);
      for (int64_t left = end - found.end; left > 0;) {
        piece.resize(static_cast<size_t>(std::min<int64_t>(left, 1 << 20)));
        Check(ReadFully(*objects, piece.size(), piece.data()), run.obj_file);
        mif.Append(piece);
        left -= static_cast<int64_t>(piece.size());
      }
      mif.Append(kCRLF);
      here = end < objects->Size() ? end : found.start;
    }
    for (const std::string& token : index.Unused()) run.unused.push_back(TokenLabel(token));
    mif.Finish();
  } catch (const IoFailure& f) {
    AddIoFailure(run.errors, f);
    return 1;
  }
  file.reset();
  // The error list is left as it was; the reason is kept for the caller.
  auto messages = Collection::Create();
  const int16_t failed = mif.Commit(Variant(ObjectRef(messages)));
  run.move_messages = messages->Texts();
  return failed;
}

}  // namespace vok
