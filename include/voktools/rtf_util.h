// clsRTFUtil: moves the object and picture groups of an RTF file into an
// object file, leaving a hidden numbered placeholder "{\v\vok OBJ n }" where
// each group stood, and puts the groups back afterwards. Extraction followed
// by insertion gives back the RTF file byte for byte.
//
// Object file: header line 1, object 1, header line 2, object 2, ...,
// object N, header line N+1 (the end line). A header line is the placeholder
// followed by CR LF; an object is the group's bytes followed by CR LF.
//
// Results of both operations:
//   0  success                          4  object file cannot be opened
//   1  RTFFile empty                    5  temporary file cannot be created
//   2  RTF file does not exist          6  (insertion) a placeholder had no object
//   3  RTF file cannot be read          7  a read or write failed during the run
// With results 1 to 5 and 7 the RTF file is left exactly as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "voktools/dispatch.h"
#include "voktools/events.h"
#include "voktools/export.h"

namespace vok {

class ReplacementFile;

struct Env;

VOK_PUBLIC_BEGIN

class clsCommon;

class clsRTFUtil : public Dispatch {
 public:
  static constexpr int32_t kOK = 0;
  static constexpr int32_t kNoFileName = 1;
  static constexpr int32_t kNoSuchFile = 2;
  static constexpr int32_t kCannotOpenRTF = 3;
  static constexpr int32_t kCannotOpenObj = 4;
  static constexpr int32_t kCannotOpenTemp = 5;
  static constexpr int32_t kObjectMissing = 6;
  static constexpr int32_t kReadWriteFailed = 7;

  // Smallest and largest chunk read at a time; the chunk is one eighth of the
  // larger file involved, kept between the two.
  static constexpr int32_t kMinChunk = 4096;
  static constexpr int32_t kMaxChunk = 1048576;

  clsRTFUtil();
  ~clsRTFUtil() override;

  const std::string& RTFFile() const { return rtf_file_; }
  void RTFFile(std::string value) { rtf_file_ = std::move(value); }
  // Empty at the start of an operation: set to the RTF file's folder and name
  // with the extension ".obj".
  const std::string& ObjFile() const { return obj_file_; }
  void ObjFile(std::string value) { obj_file_ = std::move(value); }

  int32_t ExtractObjects();
  int32_t InsertObjects();

  // Not part of the automation interface.
  //
  // Raised with the percentage read so far whenever it grows, of what the
  // operation reads in order (extraction: the RTF file; insertion: the RTF
  // file and the object file), as the other classes raise theirs. The class
  // has no event interface, so only C++ handlers (Connect) hear it.
  ProgressEvent<int16_t>& Progress() { return progress_; }
  // What the last successful pass's final replacement of the RTF file
  // answered: 0, or 1 when it failed (the RTF file is then as it was, the
  // new text is dropped, and the result is still 0 or 6), with the reason.
  int16_t LastMoveResult() const { return last_move_result_; }
  const std::string& LastMoveMessage() const { return last_move_message_; }
  // What the last insertion could not match, each item by the text between
  // "{\v\vok OBJ " and "}" with the spaces around it ("5"), in the order met:
  // placeholders that found no object (left out of the document; also one
  // that names the end line, which gives result 0),
  // placeholders whose object an earlier placeholder took already (it is in
  // the document more than once), and objects of the object file that no
  // placeholder asked for (lost from the document), in object file order.
  // Empty after a run that ended before the whole RTF file was read.
  struct Mismatches {
    std::vector<std::string> missing;
    std::vector<std::string> repeated;
    std::vector<std::string> unused;
  };
  const Mismatches& InsertionMismatches() const { return mismatches_; }
  // Why the last operation ended with result 7 ("No space left on device").
  const std::string& LastFailureMessage() const { return last_failure_message_; }
  // The object file an operation takes when ObjFile is empty: the RTF
  // file's folder and name with the extension ".obj".
  std::string DefaultObjFile();
  // Whether the RTF file holds the start of a placeholder, "{\v\vok OBJ ",
  // read chunk bytes at a time.
  enum class PlaceholderScan { kFound, kNone, kUnreadable };
  PlaceholderScan ScanForPlaceholders(int32_t chunk = 64 * 1024);

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsRTFUtil(Env& env);
  // Fixes the chunk size instead of deriving it from the file sizes, so that
  // tests can make markers straddle reads. At least 72.
  VOK_LOCAL void ForceChunkSizeForTesting(int32_t chunk);

  clsCommon& Common();
  // What both operations do first: forgets the last run's outcome and
  // checks the RTF file name, deriving ObjFile if empty; kOK or the result.
  int32_t Begin();
  // Commits out, keeping the reason of a failure.
  VOK_LOCAL int16_t Commit(ReplacementFile& out);
  int32_t ChunkFor(int64_t larger_length) const;

  Env& env_;
  std::string rtf_file_;
  std::string obj_file_;
  std::string last_move_message_;
  std::string last_failure_message_;
  std::unique_ptr<clsCommon> common_;
  ProgressEvent<int16_t> progress_;
  Mismatches mismatches_;
  int16_t last_move_result_ = 0;
  int32_t forced_chunk_ = 0;
};

VOK_PUBLIC_END

}  // namespace vok
