// clsHTMLValidate: repairs what would make translation tools stumble over
// an HTML page, in place: comments that never end, recognised inline tags
// that are never closed, closed twice or closed in the wrong order, stray
// "<" and ">" in text, a "<" inside a tag. Every repair is reported in the
// error list as " INFORMATION : Line L, Row R : what", after the title entry
// "Validate : PAGE" and before the summary "E error(s) encountered, F
// problem(s) fixed". A well-formed page is rewritten byte for byte.
//
// Only the tags of the recognised-tag table (Tags) are tracked, each with a
// flag: 0, a start tag while one of its kind is open first closes that one;
// 1, nesting is allowed. P, end BODY and end HTML follow rules of their own.
//
// The page is validated into a fresh file beside it and replaced only at the
// end; with Backup, PAGE.bak keeps the page as it was.
#pragma once

#include <array>
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

VOK_PUBLIC_BEGIN

class clsCommon;

class clsHTMLValidate : public Dispatch {
 public:
  // The table a new object starts with.
  static constexpr std::string_view kDefaultTags =
      "B|0,I|0,U|0,A|0,FONT|1,STRONG|0,EM|0,PRE|0,SPAN|1,BIG|1,SMALL|1,CITE|0,DFN|0,CODE|0,"
      "SAMP|0,KBD|0,VAR|0,ABBR|0,ACRONYM|0,SCRIPT|0,STYLE|0,H1|0,H2|0,H3|0,H4|0,H5|0,H6|0,";
  static constexpr int32_t kMaxTags = 128;

  clsHTMLValidate();
  ~clsHTMLValidate() override;

  // 1 when the run failed before scanning (backup, page or temporary file);
  // otherwise the number of failures of the final replacement (normally 0).
  int32_t HTMLValidate();

  const std::string& Filename() const { return filename_; }
  void Filename(std::string value) { filename_ = std::move(value); }
  bool Backup() const { return backup_; }
  void Backup(bool value) { backup_ = value; }
  // "NAME|FLAG," per row. Setting stops with error 5 at an item without "|"
  // and with error 9 at a 129th item; rows set before stay set.
  std::string Tags() const;
  void Tags(std::string_view value);
  const std::shared_ptr<Collection>& ErrorList() const { return errors_; }
  // Lets the user edit the table in the options dialog; a window system
  // without dialogs leaves the table as it is, as Cancel would.
  void DisplayOptions();
  // Not part of the automation interface: DisplayOptions, telling a C++
  // host how the dialog was closed.
  enum class OptionsOutcome { kNotShown, kCancelled, kAccepted };
  OptionsOutcome EditOptions();

  // Raised with the percentage of the page read whenever it grows.
  ProgressEvent<int16_t>& Progress() { return progress_; }

  // Not part of the automation interface. When set, the content of a SCRIPT
  // or STYLE element (whether or not the table tracks it) is copied as it
  // stands up to its end tag: "</SCRIPT" or "</STYLE" in any case, followed
  // by a space, tab, form feed, "/", ">" or the end of the line. A
  // <!--HTMLGlue line ends it too, as it ends an open comment. Off by
  // default: the rules then scan that content as any other text.
  bool KeepScriptText() const { return keep_script_text_; }
  void KeepScriptText(bool value) { keep_script_text_ = value; }

  // Not part of the automation interface: what the last HTMLValidate did
  // besides its error list.
  struct ScriptTextChange {
    std::string element;  // "SCRIPT" or "STYLE"
    int32_t line = 0;     // of the first repair made inside it
  };
  struct RunDetails {
    // The repairs the error list reports ("F problem(s) fixed").
    int32_t listed = 0;
    // Repairs the rules make without an entry: a </P> ending the open
    // paragraph before the next <P>, a --> ending a comment left open before
    // </SCRIPT>.
    int32_t paragraphs_closed = 0;
    int32_t comments_closed = 0;
    // Each SCRIPT or STYLE element whose content a repair changed, in page
    // order (an element the end of the page, a <!--HTMLGlue line or </BODY>
    // closes counts up to there).
    std::vector<ScriptTextChange> script_text_changes;

    int32_t Unlisted() const { return paragraphs_closed + comments_closed; }
  };
  const RunDetails& LastRun() const { return last_run_; }

  const ClassTypeInfo& TypeInfo() const override;
  int32_t Advise(EventSink sink) override;
  void Unadvise(int32_t cookie) override;
  std::vector<std::string_view> EventNames() const override { return {"Progress"}; }

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsHTMLValidate(Env& env);
  // The size of the pieces the page is read in (at least 16), so that tests
  // can make lines straddle reads.
  VOK_LOCAL void SetChunkSizeForTesting(int32_t chunk);

  struct TagRow {
    std::string name;
    std::string flag;
  };
  // An open recognised tag: its name (an index into the run's names, -1 for
  // the entry at the bottom of the stack) and its text as written.
  struct TagEntry {
    int32_t name = -1;
    std::string text;
  };
  class VOK_LOCAL Run;

  Env& env_;
  std::unique_ptr<clsCommon> common_;
  std::string filename_;
  bool backup_ = false;
  std::array<TagRow, kMaxTags> tags_;
  int16_t last_tag_ = -1;
  std::shared_ptr<Collection> errors_;
  ProgressEvent<int16_t> progress_;
  int32_t chunk_ = 1 << 20;
  bool keep_script_text_ = false;
  RunDetails last_run_;
};

VOK_PUBLIC_END

}  // namespace vok
