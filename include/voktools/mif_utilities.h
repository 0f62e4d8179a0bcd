// clsMIFUtilities: prepares the MIF files of a document for translation and
// rebuilds them afterwards.
//
// Texts outside the text flow (index marker texts, cross-reference formats,
// variables, paragraph autonumber formats) are collected without
// duplicates from any number of MIF files (StartBatch, Extract per file,
// EndBatch) into three small MIF files, QUON_ix.mif, QUON_xr.mif and
// QUON_va.mif; once translated, Merge writes them back into each MIF file.
// RemoveObjects and InsertObjects move the insets of one MIF file into an
// object file and back.
//
// Every operation returns a count of failures (0: success) and adds a
// message for each to ErrorList, which keeps growing until ClearErrors or
// StartBatch. Files are replaced only by complete output.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "voktools/collection.h"
#include "voktools/dispatch.h"
#include "voktools/events.h"
#include "voktools/export.h"
#include "voktools/messages.h"

namespace vok {

struct Env;

VOK_PUBLIC_BEGIN

class clsMIFUtilities : public Dispatch {
 public:
  clsMIFUtilities();
  ~clsMIFUtilities() override;

  // Writes the three extraction files; the number left unwritten (0-3).
  int16_t EndBatch();
  const std::string& XrefFile() const { return xref_file_; }
  void XrefFile(std::string value) { xref_file_ = std::move(value); }
  const std::string& IndexFile() const { return index_file_; }
  void IndexFile(std::string value) { index_file_ = std::move(value); }
  const std::string& VarFile() const { return var_file_; }
  void VarFile(std::string value) { var_file_ = std::move(value); }
  int16_t Merge();
  int16_t Extract();
  // Empties the tables, the batch flags, the three extraction file names
  // and the error list.
  void StartBatch();
  int16_t InsertObjects();
  int16_t RemoveObjects();
  const std::string& ObjFile() const { return obj_file_; }
  void ObjFile(std::string value) { obj_file_ = std::move(value); }
  const std::string& MIFFile() const { return mif_file_; }
  void MIFFile(std::string value) { mif_file_ = std::move(value); }
  // The object's own live list.
  const std::shared_ptr<Collection>& ErrorList();
  // 0: index marker text whole; 1 (or any value above 0): cut at ";";
  // 2: cut at ";" and ":"; below 0: not cut.
  int16_t SplitOptions() const { return split_; }
  void SplitOptions(int16_t value) { split_ = value; }
  void ClearErrors();

  // Raised with the percentage of the file being read whenever it grows;
  // a handler may change the value it is given.
  ProgressEvent<int16_t&>& Progress() { return progress_; }

  // Not part of the automation interface: the number of entries each
  // table holds (index, cross-reference, variable).
  std::vector<int32_t> TableCounts() const;
  // Not part of the automation interface: the batch file tags ("name :
  // definition") that stand for more than one cross-reference or variable
  // entry, because a name or text itself holds " : ". A merge gives every
  // entry of such a tag the translation of the first. Each with the batch
  // file it goes into (XrefFile or VarFile).
  struct AmbiguousTag {
    std::string file;
    std::string tag;
  };
  std::vector<AmbiguousTag> AmbiguousTags() const;
  // Not part of the automation interface: where the loading of a translated
  // batch file stopped before the file's end (no later paragraph of it is
  // merged, or a string's text took them along): the file, the line (from
  // 1) of the paragraph or string at fault, and what happened.
  struct LoadStop {
    std::string file;
    int64_t line = 0;
    std::string reason;
  };
  const std::vector<LoadStop>& LoadStops() const { return load_stops_; }
  // Not part of the automation interface: the batch files the last EndBatch
  // wrote, in the order index, cross-reference, variables.
  const std::vector<std::string>& WrittenBatchFiles() const { return written_; }
  // Not part of the automation interface: what the last InsertObjects could
  // not match, each placeholder or inset by its number (what follows
  // "<QUONObj " up to ">"): placeholders that found no inset, placeholders
  // whose inset an earlier one took already, insets that no placeholder
  // asked for; and why the rebuilt MIF file could not replace the old one.
  struct InsetMismatches {
    std::vector<std::string> missing;
    std::vector<std::string> repeated;
    std::vector<std::string> unused;
    std::vector<std::string> move_messages;
  };
  const InsetMismatches& LastInsertion() const { return last_insertion_; }

  const ClassTypeInfo& TypeInfo() const override;
  int32_t Advise(EventSink sink) override;
  void Unadvise(int32_t cookie) override;
  std::vector<std::string_view> EventNames() const override { return {"Progress"}; }

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsMIFUtilities(Env& env);

  struct Tables;
  enum class Kind { kIndex, kXref, kVar };

  void SetDefaultFileNames();
  void AddMessage(MessageId id, std::string_view suffix = {});
  int16_t CollectMarkerText(std::string_view s);
  int16_t CollectFormats(std::string_view s, Kind kind);
  int16_t CollectPgfNumFormat(std::string_view s);
  int16_t LoadTranslated(Kind kind);
  // The line (from 1) that holds offset; 0 when the file cannot be read.
  int64_t LineAt(const std::string& file, int64_t offset);
  int16_t WriteBatchFile(Kind kind);

  Env& env_;
  std::string mif_file_;
  std::string obj_file_;
  std::string index_file_;
  std::string xref_file_;
  std::string var_file_;
  int16_t split_ = 0;
  std::shared_ptr<Collection> errors_;
  std::unique_ptr<Tables> tables_;
  std::vector<LoadStop> load_stops_;
  std::vector<std::string> written_;
  InsetMismatches last_insertion_;
  bool extracted_ = false;
  bool loaded_ = false;
  ProgressEvent<int16_t&> progress_;
};

VOK_PUBLIC_END

}  // namespace vok
