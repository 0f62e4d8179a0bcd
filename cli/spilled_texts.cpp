#include "spilled_texts.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

#include "common/text_window.h"
#include "platform/env.h"
#include "private_folder.h"

namespace vok::cli {

namespace {

constexpr size_t kWriteAt = size_t{1} << 18;

}  // namespace

// Each text in the file: its length in decimal, a line feed, its bytes.
struct SpilledTexts::File {
  void Add(std::string_view text);
  void ForEach(const std::function<void(std::string_view)>& f, std::string* why);

  PrivateFolder folder;  // goes after the file in it
  std::unique_ptr<ScratchFile> scratch;
  std::string buffer;
  Status status;
};

SpilledTexts::SpilledTexts(size_t in_memory) : in_memory_(in_memory) {}

SpilledTexts::~SpilledTexts() = default;

void SpilledTexts::Add(std::string text) {
  ++count_;
  if (!file_ && bytes_ + text.size() <= in_memory_) {
    bytes_ += text.size();
    head_.push_back(std::move(text));
    return;
  }
  if (!file_) {
    file_ = std::make_unique<File>();
    if (file_->folder.path().empty()) {
      file_->status = Status::Error(EIO, "no private folder for the rest of the list");
    } else {
      file_->status = CurrentEnv().fs->CreateScratch(file_->folder.path(), &file_->scratch);
    }
  }
  file_->Add(text);
}

void SpilledTexts::File::Add(std::string_view text) {
  if (!status.ok()) return;
  char digits[24];
  buffer.append(digits, std::to_chars(digits, digits + sizeof digits, text.size()).ptr);
  buffer += '\n';
  buffer.append(text);
  if (buffer.size() >= kWriteAt) {
    status = scratch->Append(buffer);
    buffer.clear();
  }
}

void SpilledTexts::ForEach(const std::function<void(std::string_view)>& f, std::string* why) {
  for (const std::string& text : head_) f(text);
  head_.clear();
  if (file_) file_->ForEach(f, why);
  file_.reset();
}

void SpilledTexts::File::ForEach(const std::function<void(std::string_view)>& f,
                                 std::string* why) {
  const std::string path = folder.File("list");
  if (status.ok()) status = scratch->Append(buffer);
  if (status.ok()) status = scratch->Publish(path);
  scratch.reset();
  std::unique_ptr<ReadableFile> in;
  if (status.ok()) status = CurrentEnv().fs->OpenForRead(path, &in);
  TextWindow w;
  if (status.ok()) w.Reset(in.get(), in->Size(), 1 << 20);
  while (status.ok()) {
    status = w.Refill();
    const std::string_view v = w.view();
    if (!status.ok() || v.empty()) break;
    size_t length = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), length);
    if (ec != std::errc()) {
      status = Status::Error(EIO, "the rest of the list is damaged");
      break;
    }
    const size_t head = static_cast<size_t>(end - v.data()) + 1;
    if (head > v.size() || head + length > v.size()) {
      if (w.at_end()) {
        status = Status::Error(EIO, "the rest of the list was cut short");
        break;
      }
      status = w.ReadMore(std::max<size_t>(length + head, 1 << 20));
      continue;
    }
    f(v.substr(head, length));
    w.Drop(head + length);
  }
  if (!status.ok()) *why = status.message();
}

}  // namespace vok::cli
