#include "mif/mif_insets.h"

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <vector>

#include "common/replacement_file.h"
#include "common/text_window.h"
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

struct WriteFailed {
  std::string file;
  Status status;
};

// An output that replaces its target when complete; a failed write ends
// the run.
struct TempOutput : ReplacementFile {
  void Append(std::string_view text) {
    Status s = file().Append(text);
    if (!s.ok()) throw WriteFailed{target(), s};
  }
  void Finish() {
    Status s = Close();
    if (!s.ok()) throw WriteFailed{target(), s};
  }
};

// What follows "<QUONObj " in a token, up to its ">".
std::string TokenLabel(std::string_view token) {
  if (token.starts_with(kObjStart)) token.remove_prefix(kObjStart.size());
  token = token.substr(0, token.find('>'));
  while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
  return std::string(token.substr(0, 64));
}

void AddMessage(Collection& errors, MessageId id) { errors.Add(Variant(std::string(Message(id)))); }

// The MIF file read through a window of 1 MB pieces, with the percentage
// of it consumed reported whenever it grows.
class MifInput {
 public:
  MifInput(MifInsetRun& run, ReadableFile& file) : run_(run), size_(file.Size()) {
    w_.Reset(&file, size_, std::max(run.chunk, 16));
  }

  TextWindow& window() { return w_; }
  const TextWindow& window() const { return w_; }
  // Reads more when the window runs low; false when a read failed.
  void Refill() {
    Status s = w_.Refill();
    if (!s.ok()) throw WriteFailed{run_.mif_file, s};
  }
  // Reads on whatever the window holds (a line longer than it).
  void ReadMore() {
    Status s = w_.ReadMore(static_cast<size_t>(w_.chunk()));
    if (!s.ok()) throw WriteFailed{run_.mif_file, s};
  }
  void Drop(size_t n) {
    prev_ = n > 0 ? w_.view()[n - 1] : prev_;
    w_.Drop(n);
    if (size_ <= 0) return;
    auto percent = static_cast<int16_t>(w_.offset() * 100 / size_);
    if (percent > last_) {
      last_ = percent;
      if (run_.progress) run_.progress(percent);
    }
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
  MifInsetRun& run_;
  int64_t size_;
  TextWindow w_;
  char prev_ = '\n';  // the byte before the window: the file starts a line
  int16_t last_ = 0;
};

// The first position at or after from where needle begins a line, or npos.
size_t FindAtLineStart(const MifInput& in, std::string_view needle, size_t from) {
  std::string_view v = in.window().view();
  for (size_t i = from; (i = FindAnchored(v, needle, 0, i)) != npos; ++i) {
    if (in.LineStartsAt(i)) return i;
  }
  return npos;
}

// Every line of the object file that holds "<QUONObj ", found in one pass:
// the lookups of insertion jump to the line they want.
class ObjectIndex {
 public:
  struct Line {
    int64_t start;
    int64_t end;  // after its line end
    bool header;  // begins with "<QUONObj "
  };

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
      const auto id = static_cast<uint32_t>(lines_.size());
      lines_.push_back({w.offset() + static_cast<int64_t>(start),
                        w.offset() + static_cast<int64_t>(end), i == start});
      if (i == start) {
        const size_t close = line.find('>');
        header_tokens_.emplace_back(close == npos ? line : line.substr(0, close + 1));
      } else {
        header_tokens_.emplace_back();
      }
      for (size_t q = line.find(kObjStart); q != npos; q = line.find(kObjStart, q + 1)) {
        size_t close = line.find('>', q + kObjStart.size());
        std::string_view token = close == npos ? line.substr(q) : line.substr(q, close + 1 - q);
        by_token_[std::string(token)].push_back(id);
      }
      w.Drop(end);
    }
    uses_.assign(lines_.size(), 0);
    return Status::OK();
  }

  // The first line holding key at or after offset `from`, else the first
  // in the file; nullptr when none does. *repeated: an earlier Find took
  // that line already.
  const Line* Find(std::string_view key, int64_t from, bool* repeated) {
    auto it = by_token_.find(std::string(key));
    if (it == by_token_.end()) return nullptr;
    const Line* found = nullptr;
    for (uint32_t id : it->second) {
      const Line& l = lines_[id];
      if (l.start >= from) {
        found = &l;
        break;
      }
      if (found == nullptr) found = &l;
    }
    *repeated = ++uses_[static_cast<size_t>(found - lines_.data())] > 1;
    return found;
  }

  // The header lines no Find took, but the end mark, by their tokens.
  std::vector<std::string> Unused() const {
    std::vector<std::string> tokens;
    for (size_t k = 0; k < lines_.size(); ++k) {
      if (lines_[k].header && uses_[k] == 0 && !header_tokens_[k].starts_with(kEndMark)) {
        tokens.push_back(header_tokens_[k]);
      }
    }
    return tokens;
  }

  // Where the next header after `line` starts, or the file's size.
  int64_t NextHeader(const Line& line, int64_t size) const {
    for (size_t k = static_cast<size_t>(&line - lines_.data()) + 1; k < lines_.size(); ++k) {
      if (lines_[k].header) return lines_[k].start;
    }
    return size;
  }

 private:
  std::vector<Line> lines_;
  std::vector<std::string> header_tokens_;  // per line: "<QUONObj n>" for a header
  std::vector<uint32_t> uses_;              // per line: the Finds that took it
  std::unordered_map<std::string, std::vector<uint32_t>> by_token_;
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
  } catch (const WriteFailed& f) {
    run.errors.Add(Variant(std::string(Message(MessageId::kErrorCopying)) + f.file +
                           std::string(kCRLF) + f.status.message()));
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
  clsCommon common(run.env);
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
    if (!s.ok()) throw WriteFailed{run.obj_file, s};
    // The end mark closes the last inset also where it follows a last line
    // without a line end (an inset cut off by the end of the MIF file).
    int64_t content_end = objects->Size();
    if (content_end >= static_cast<int64_t>(kEndMark.size())) {
      std::string tail(kEndMark.size(), '\0');
      size_t got = 0;
      s = objects->Seek(content_end - static_cast<int64_t>(kEndMark.size()));
      if (s.ok()) s = objects->Read(tail.size(), tail.data(), &got);
      if (!s.ok()) throw WriteFailed{run.obj_file, s};
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
      const ObjectIndex::Line* found = index.Find(key, here, &repeated);
      if (found == nullptr) run.missing.push_back(TokenLabel(key));
      if (repeated) run.repeated.push_back(TokenLabel(key));
      in.Drop(line_end);
      if (found == nullptr) {
        mif.Append(std::string(kEndInset) + std::string(kCRLF) + std::string(kCRLF));
        here = 0;
        continue;
      }
      const int64_t end = std::min(index.NextHeader(*found, objects->Size()), content_end);
      s = objects->Seek(found->end);
      for (int64_t left = end - found->end; s.ok() && left > 0;) {
        piece.resize(static_cast<size_t>(std::min<int64_t>(left, 1 << 20)));
        size_t got = 0;
        s = objects->Read(piece.size(), piece.data(), &got);
        if (s.ok() && got < piece.size()) s = Status::FromErrno(EIO);
        if (s.ok()) mif.Append(piece);
        left -= static_cast<int64_t>(piece.size());
      }
      if (!s.ok()) throw WriteFailed{run.obj_file, s};
      mif.Append(kCRLF);
      here = end < objects->Size() ? end : found->start;
    }
    for (const std::string& token : index.Unused()) run.unused.push_back(TokenLabel(token));
    mif.Finish();
  } catch (const WriteFailed& f) {
    run.errors.Add(Variant(std::string(Message(MessageId::kErrorCopying)) + f.file +
                           std::string(kCRLF) + f.status.message()));
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
