// clsASP2HTML: turns a server page (ASP, JSP) into plain HTML for
// translation and back. ASP2HTML moves every server block ("<%" ... "%>") and
// script element ("<script" ... "</script>", "<java" ... "</java>") into a
// script file and leaves a numbered placeholder "<!-- ASP2HTML n -->" in the
// page; HTML2ASP puts the blocks back, also where an editor escaped the
// placeholder as "&lt;!-- ASP2HTML n --&gt;".
//
// Script file: for each block in the order the blocks started, the marker
// line "<!-- ASP2HTML n -->" CR LF, the block exactly as in the page, CR LF
// (no CR LF after a block still open at the end of the page).
//
// Results: 0 when the whole file was processed, 1 when a file could not be
// opened or created (the error list says which). A read or write failure
// after the files are open ends the call with AutomationError 57 (device
// I/O error); no half-written file is left under an output's name.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "voktools/collection.h"
#include "voktools/dispatch.h"
#include "voktools/events.h"
#include "voktools/export.h"

namespace vok {

struct Env;
class ReadableFile;

VOK_PUBLIC_BEGIN

class clsCommon;

class clsASP2HTML : public Dispatch {
 public:
  clsASP2HTML();
  ~clsASP2HTML() override;

  int32_t ASP2HTML();
  int32_t HTML2ASP();

  const std::string& ASPFile() const { return asp_file_; }
  void ASPFile(std::string value) { asp_file_ = std::move(value); }
  const std::string& HTMFile() const { return htm_file_; }
  void HTMFile(std::string value) { htm_file_ = std::move(value); }
  const std::string& SCRFile() const { return scr_file_; }
  void SCRFile(std::string value) { scr_file_ = std::move(value); }

  // The object's own live list: the host's reference sees later runs.
  const std::shared_ptr<Collection>& ErrorList() const { return errors_; }
  // Entry lngErrPtr (from 1), or empty text outside the list.
  std::string GetError(int32_t lngErrPtr) const;

  // Raised with the percentage of the input read whenever it grows.
  ProgressEvent<int16_t>& Progress() { return progress_; }

  // Not part of the automation interface: what the last HTML2ASP could not
  // match, in the order met. `placeholder` is the text between
  // "<!-- ASP2HTML" and "-->" without the spaces around it (its number, as
  // a rule); `line` counts the HTML file's lines from 1 (0 for a block).
  struct Mismatch {
    enum class Kind {
      kNoBlock,         // no block in the script file: the placeholder is gone
      kRepeated,        // its block was put back before: the code is there twice
      kLeftAsItStands,  // `reason` says why (as in the error list)
      kUnusedBlock,     // a block that no placeholder asked for, in file order
    };
    Kind kind;
    std::string placeholder;
    int64_t line = 0;
    std::string reason;
  };
  const std::vector<Mismatch>& RestoreMismatches() const { return mismatches_; }

  const ClassTypeInfo& TypeInfo() const override;
  int32_t Advise(EventSink sink) override;
  void Unadvise(int32_t cookie) override;
  std::vector<std::string_view> EventNames() const override { return {"Progress"}; }

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsASP2HTML(Env& env);
  // The size of the pieces the page and the HTML file are read in (at
  // least 32), so that tests can make every construct straddle two reads.
  // 0 restores the default.
  void SetChunkSizeForTesting(int32_t chunk) {
    chunk_ = chunk == 0 ? kDefaultChunk : std::max(chunk, 32);
  }

  enum class NameSource { kPage, kHtml };
  void MakeFileNames(NameSource source);
  void AddError(std::string text);
  // The start of both operations: a fresh error list headed "title : input",
  // the names still missing derived from input, and input opened. False,
  // with the error added, when there is no input or it cannot be opened.
  VOK_LOCAL bool Begin(const std::string& input, bool no_input_message_is_html, NameSource source,
                       std::unique_ptr<ReadableFile>* file);
  // "Unable to open file : " path, CR LF, why.
  void AddUnableToOpen(const std::string& path, const std::string& why);

  Env& env_;
  std::string asp_file_;
  std::string htm_file_;
  std::string scr_file_;
  std::shared_ptr<Collection> errors_;
  std::vector<Mismatch> mismatches_;
  ProgressEvent<int16_t> progress_;
  static constexpr int32_t kDefaultChunk = 1 << 20;
  int32_t chunk_ = kDefaultChunk;
};

VOK_PUBLIC_END

}  // namespace vok
