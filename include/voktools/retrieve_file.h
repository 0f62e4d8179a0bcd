// clsRetrieveFile: reads a text file line by line through a chunk buffer.
// Each line keeps its line end (CR, LF, CR LF or LF CR), so the lines
// concatenate to the file's bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {

struct Env;
class ReadableFile;

VOK_PUBLIC_BEGIN

class clsRetrieveFile : public Dispatch {
 public:
  clsRetrieveFile();
  ~clsRetrieveFile() override;

  const std::string& Filename() const { return filename_; }
  void Filename(std::string value) { filename_ = std::move(value); }
  // Opens Filename and resets the reader; false when it cannot.
  bool OpenFile();
  void CloseFile();
  // The next line in strLine; false (and an empty strLine) at the end.
  bool GetLineFromFile(std::string& strLine);
  // The same without copying: the view stays valid until the next call.
  bool NextLine(std::string_view* line);
  // Percentage of the file read into the buffer so far.
  int16_t Progress() const { return progress_; }
  // Lines returned that ended with a line end.
  int32_t LineNumber() const { return line_number_; }
  int32_t ChunkSize() const { return chunk_size_; }
  // Error 5 below 1.
  void ChunkSize(int32_t value);
  // The file's next read position, 1-based: after the last chunk read.
  int32_t Position() const;
  void Position(int32_t value);

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsRetrieveFile(Env& env);

  // The text window over the file and the searches for CR and LF in it.
  struct Reader;

  void Refill();

  Env& env_;
  std::string filename_;
  std::unique_ptr<ReadableFile> file_;
  std::unique_ptr<Reader> reader_;
  int64_t length_ = 0;
  int32_t line_number_ = 0;
  int16_t progress_ = 0;
  int32_t chunk_size_ = 4096;
};

VOK_PUBLIC_END

}  // namespace vok
