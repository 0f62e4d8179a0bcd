#include "mif/mif_insets.h"

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <vector>

#include "common/text_window.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/common.h"
#include "voktools/messages.h"
#include "voktools/retrieve_file.h"

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

// A file written under a fresh name beside its target.
struct TempOutput {
  std::string target;
  std::string path;
  std::unique_ptr<WritableFile> file;

  void Append(std::string_view text) {
    Status s = file->Append(text);
    if (!s.ok()) throw WriteFailed{target, s};
  }
  void Close() {
    Status s = file->Close();
    if (!s.ok()) throw WriteFailed{target, s};
  }
};

bool StartTemp(FileSystem& fs, const std::string& target, TempOutput* out) {
  out->target = target;
  return CreateUniqueFile(fs, FolderOf(target), "VOK", ".TMP", &out->path, &out->file,
                          WriteMode::kExclusiveDocument)
      .ok();
}

void Discard(FileSystem& fs, TempOutput& out) {
  if (out.path.empty()) return;
  out.file.reset();
  (void)fs.Remove(out.path);
  out.path.clear();
}

void AddMessage(Collection& errors, int32_t id) { errors.Add(Variant(std::string(Message(id)))); }

void Report(MifInsetRun& run, clsRetrieveFile& reader, int16_t& last) {
  int16_t percent = reader.Progress();
  if (percent > last) {
    last = percent;
    if (run.progress) run.progress(percent);
  }
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
      for (size_t q = line.find(kObjStart); q != npos; q = line.find(kObjStart, q + 1)) {
        size_t close = line.find('>', q + kObjStart.size());
        std::string_view token = close == npos ? line.substr(q) : line.substr(q, close + 1 - q);
        by_token_[std::string(token)].push_back(id);
      }
      w.Drop(end);
    }
    return Status::OK();
  }

  // The first line holding key at or after offset `from`, else the first
  // in the file; nullptr when none does.
  const Line* Find(std::string_view key, int64_t from) const {
    auto it = by_token_.find(std::string(key));
    if (it == by_token_.end()) return nullptr;
    const Line* first = nullptr;
    for (uint32_t id : it->second) {
      const Line& l = lines_[id];
      if (l.start >= from) return &l;
      if (first == nullptr) first = &l;
    }
    return first;
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
  std::unordered_map<std::string, std::vector<uint32_t>> by_token_;
};

}  // namespace

std::string MakeObjFileName(const std::string& mif_file) {
  size_t dot = mif_file.rfind('.');
  return dot == std::string::npos ? mif_file + ".obj" : mif_file.substr(0, dot + 1) + "obj";
}

int16_t RemoveMifObjects(MifInsetRun& run) {
  FileSystem& fs = *run.env.fs;
  clsCommon common(run.env);
  if (run.mif_file.empty()) return AddMessage(run.errors, 3026), 1;
  if (!common.FileExists(run.mif_file)) return AddMessage(run.errors, 3027), 1;
  if (run.obj_file.empty()) run.obj_file = MakeObjFileName(run.mif_file);
  clsRetrieveFile reader(run.env);
  reader.Filename(run.mif_file);
  if (!reader.OpenFile()) return AddMessage(run.errors, 3028), 1;
  int16_t last = 0;
  FileInfo info;
  if (fs.GetLinkInfo(run.obj_file, &info).ok()) {
    Status s = fs.CheckRemovable(run.obj_file);
    // A read-only file is deleted all the same: its attribute is cleared.
    if (info.is_dir || (!s.ok() && !(info.is_regular && info.read_only))) {
      return AddMessage(run.errors, 3032), 1;
    }
  }
  TempOutput obj, mif;
  if (!StartTemp(fs, run.obj_file, &obj)) return AddMessage(run.errors, 3030), 1;
  if (!StartTemp(fs, run.mif_file, &mif)) {
    Discard(fs, obj);
    return AddMessage(run.errors, 3031), 1;
  }
  try {
    bool inside = false;
    int32_t count = 0;
    std::string_view line;
    while (reader.NextLine(&line)) {
      Report(run, reader, last);
      if (!inside) {
        if (line.find(kObjStart) != npos) {
          // Insets taken out before: the object file holds their only copy.
          Discard(fs, obj);
          Discard(fs, mif);
          return AddMessage(run.errors, 3032), 1;
        }
        if (!line.starts_with("=")) {
          mif.Append(line);
          continue;
        }
        inside = true;
        std::string placeholder = std::string(kObjStart) + std::to_string(++count) + ">\r\n";
        obj.Append(placeholder);
        mif.Append(placeholder);
      }
      if (line.starts_with(kEndInset)) {
        obj.Append(std::string(kEndInset) + std::string(kCRLF));
        inside = false;
      } else {
        obj.Append(line);
      }
    }
    obj.Append(kEndMark);
    obj.Close();
    mif.Close();
  } catch (const WriteFailed& f) {
    Discard(fs, obj);
    Discard(fs, mif);
    run.errors.Add(
        Variant(std::string(Message(3003)) + f.file + std::string(kCRLF) + f.status.message()));
    return 1;
  }
  reader.CloseFile();
  obj.file.reset();
  mif.file.reset();
  // Replacing an old object file is what the run is for: a read-only one is
  // made writable first, as deleting it would.
  if (fs.GetLinkInfo(run.obj_file, &info).ok() && info.is_regular && info.read_only) {
    (void)fs.SetMode(run.obj_file, info.mode | 0200);
  }
  // The insets are in place before the MIF file loses them.
  const Variant errors(run.errors.shared_from_this());
  int16_t failed = common.MoveFile(obj.path, run.obj_file, errors);
  if (failed != 0) {
    (void)fs.Remove(obj.path);
    Discard(fs, mif);
    return failed;
  }
  return common.MoveFile(mif.path, run.mif_file, errors);
}

int16_t InsertMifObjects(MifInsetRun& run) {
  FileSystem& fs = *run.env.fs;
  clsCommon common(run.env);
  if (run.mif_file.empty()) return AddMessage(run.errors, 3026), 1;
  if (!common.FileExists(run.mif_file)) return AddMessage(run.errors, 3027), 1;
  if (run.obj_file.empty()) run.obj_file = MakeObjFileName(run.mif_file);
  if (!common.FileExists(run.obj_file)) return AddMessage(run.errors, 3029), 1;
  clsRetrieveFile reader(run.env);
  reader.Filename(run.mif_file);
  if (!reader.OpenFile()) return AddMessage(run.errors, 3028), 1;
  int16_t last = 0;
  std::unique_ptr<ReadableFile> objects;
  if (!fs.OpenForRead(run.obj_file, &objects).ok()) return AddMessage(run.errors, 3030), 1;
  TempOutput mif;
  if (!StartTemp(fs, run.mif_file, &mif)) return AddMessage(run.errors, 3031), 1;
  try {
    ObjectIndex index;
    Status s = index.Build(*objects);
    if (!s.ok()) throw WriteFailed{run.obj_file, s};
    int64_t here = 0;  // where the object file stands: after the last inset copied
    std::string piece;
    std::string_view line;
    while (reader.NextLine(&line)) {
      Report(run, reader, last);
      size_t at = line.find(kObjStart);
      if (at == npos) {
        mif.Append(line);
        continue;
      }
      size_t close = line.find('>', at + kObjStart.size());
      std::string_view key = close == npos ? line.substr(at) : line.substr(at, close + 1 - at);
      const ObjectIndex::Line* found = index.Find(key, here);
      if (found == nullptr) {
        mif.Append(std::string(kEndInset) + std::string(kCRLF) + std::string(kCRLF));
        here = 0;
        continue;
      }
      const int64_t end = index.NextHeader(*found, objects->Size());
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
    mif.Close();
  } catch (const WriteFailed& f) {
    Discard(fs, mif);
    run.errors.Add(
        Variant(std::string(Message(3003)) + f.file + std::string(kCRLF) + f.status.message()));
    return 1;
  }
  reader.CloseFile();
  mif.file.reset();
  return common.MoveFile(mif.path, run.mif_file);
}

}  // namespace vok
