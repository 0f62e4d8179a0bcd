#include "voktools/mif_utilities.h"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "frame/builtin_classes.h"
#include "common/replacement_file.h"
#include "frame/with_env.h"
#include "mif/entry_table.h"
#include "mif/mif_insets.h"
#include "mif/mif_scanner.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"
#include "voktools/messages.h"

namespace vok {

namespace {

constexpr size_t npos = std::string::npos;
constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kMText = "<MText `";

const std::vector<std::string>& MifKeywords() {
  static const std::vector<std::string> k{"<XRefFormats ", "<Marker ", "<VariableFormats ",
                                          "<Pgf "};
  return k;
}

struct FormatElements {
  std::string_view name;
  std::string_view def;
};

bool IsBlank(std::string_view text) { return text.find_first_not_of(' ') == npos; }

// The string of an element that ends with its apostrophe: [*begin, *end).
bool CutClosed(std::string_view s, std::string_view element, size_t from, std::string* value,
               size_t* end) {
  bool closed = false;
  return CutMifString(s, element, from, value, end, &closed) && closed;
}

}  // namespace

struct clsMIFUtilities::Tables {
  std::array<EntryTable, 3> t{
      EntryTable(EntryTable::Duplicates::kSameKey, MessageId::kTooManyIndexes),
      EntryTable(EntryTable::Duplicates::kSameKeyAndValue, MessageId::kTooManyXrefs),
      EntryTable(EntryTable::Duplicates::kSameKeyAndValue, MessageId::kTooManyVariables)};
  EntryTable& operator[](Kind k) { return t[static_cast<size_t>(k)]; }
};

clsMIFUtilities::clsMIFUtilities() : clsMIFUtilities(CurrentEnv()) {}

clsMIFUtilities::clsMIFUtilities(Env& env)
    : env_(env), errors_(Collection::Create()), tables_(std::make_unique<Tables>()) {}

clsMIFUtilities::~clsMIFUtilities() = default;

const std::shared_ptr<Collection>& clsMIFUtilities::ErrorList() {
  if (!errors_) errors_ = Collection::Create();
  return errors_;
}

void clsMIFUtilities::ClearErrors() {
  ErrorList()->Clear();
}

void clsMIFUtilities::AddMessage(MessageId id, std::string_view suffix) {
  ErrorList()->Add(Variant(std::string(Message(id)) + std::string(suffix)));
}

std::vector<int32_t> clsMIFUtilities::TableCounts() const {
  return {tables_->t[0].count(), tables_->t[1].count(), tables_->t[2].count()};
}

std::vector<clsMIFUtilities::AmbiguousTag> clsMIFUtilities::AmbiguousTags() const {
  std::vector<AmbiguousTag> ambiguous;
  for (const Kind kind : {Kind::kXref, Kind::kVar}) {
    const EntryTable& table = (*tables_)[kind];
    std::unordered_map<std::string, int32_t> seen;
    for (int32_t i = 0; i < table.count(); ++i) {
      const auto& [key, value] = table.slot(i);
      if (++seen[key + " : " + value] == 2) {
        ambiguous.push_back({kind == Kind::kXref ? xref_file_ : var_file_, key + " : " + value});
      }
    }
  }
  return ambiguous;
}

void clsMIFUtilities::StartBatch() {
  for (EntryTable& t : tables_->t) t.Clear();
  extracted_ = false;
  loaded_ = false;
  load_stops_.clear();
  written_.clear();
  index_file_.clear();
  xref_file_.clear();
  var_file_.clear();
  ClearErrors();
}

void clsMIFUtilities::SetDefaultFileNames() {
  if (!index_file_.empty() && !xref_file_.empty() && !var_file_.empty()) return;
  WithEnv<clsCommon> common(env_);
  std::string folder = common.strParseFileName(mif_file_, 0);
  if (folder.empty()) folder = mif_file_;
  if (index_file_.empty()) index_file_ = folder + "QUON_ix.mif";
  if (xref_file_.empty()) xref_file_ = folder + "QUON_xr.mif";
  if (var_file_.empty()) var_file_ = folder + "QUON_va.mif";
}

namespace {

// An input opened for the scanner, with the message for a read that failed.
std::string ReadFailure(const std::string& file, const Status& s) {
  return "Error reading : " + file + std::string(kCRLF) + s.message();
}

std::string WriteFailure(const std::string& file, const Status& s) {
  return std::string(Message(MessageId::kErrorCopying)) + file + std::string(kCRLF) + s.message();
}

FormatElements ElementsOf(bool xref) {
  return xref ? FormatElements{"<XRefName `", "<XRefDef `"}
              : FormatElements{"<VariableName `", "<VariableDef `"};
}

// Where the first string of a statement starts (its grave accent) whose
// text runs over a line end, or npos. No string of a batch file holds one:
// it is a string whose closing quote is gone, and it runs on to the next
// apostrophe, taking the brackets between along.
size_t OpenStringAt(std::string_view statement) {
  for (size_t g = statement.find('`'); g != npos; g = statement.find('`', g + 1)) {
    const size_t quote = statement.find('\'', g + 1);
    const size_t eol = statement.find_first_of("\r\n", g + 1);
    if (eol != npos && (quote == npos || eol < quote)) return g;
    if (quote == npos) break;
    g = quote;
  }
  return npos;
}

}  // namespace

// ---------------------------------------------------------------- extraction

int16_t clsMIFUtilities::Extract() {
  if (mif_file_.empty()) return AddMessage(MessageId::kNoMifFile), 1;
  if (!MifFileExists(*env_.fs, mif_file_)) return AddMessage(MessageId::kMifFileNotFound), 1;
  std::unique_ptr<ReadableFile> in;
  if (!env_.fs->OpenForRead(mif_file_, &in).ok())
    return AddMessage(MessageId::kCannotOpenMifFile), 1;
  extracted_ = true;
  SetDefaultFileNames();
  MifScanner scan(in.get(), in->Size(), nullptr, [this](int16_t& p) { progress_.Raise(p); });
  scan.SetKeywords(MifKeywords());
  int16_t result = 0;
  while (scan.NextStatement()) {
    const std::string_view s = scan.statement();
    if (s.starts_with("<Marker ") && s.find("<MType 2>") != npos) result += CollectMarkerText(s);
    if (s.starts_with("<XRefFormats ")) result += CollectFormats(s, Kind::kXref);
    if (s.starts_with("<VariableFormats ")) result += CollectFormats(s, Kind::kVar);
    if (s.starts_with("<Pgf ")) result += CollectPgfNumFormat(s);
  }
  if (!scan.status().ok()) {
    ErrorList()->Add(Variant(ReadFailure(mif_file_, scan.status())));
    ++result;
  }
  return result;
}

int16_t clsMIFUtilities::CollectMarkerText(std::string_view s) {
  std::string text;
  size_t end = 0;
  if (!CutClosed(s, kMText, 0, &text, &end) || IsBlank(text)) return 0;
  EntryTable& index = (*tables_)[Kind::kIndex];
  int16_t count = 0;
  std::string piece;
  for (char c : text) {
    if ((c == ':' && split_ == 2) || (c == ';' && split_ > 0)) {
      count += index.Add(piece, piece, true, *errors_);
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) count += index.Add(piece, piece, true, *errors_);
  return count;
}

int16_t clsMIFUtilities::CollectFormats(std::string_view s, Kind kind) {
  const FormatElements el = ElementsOf(kind == Kind::kXref);
  EntryTable& table = (*tables_)[kind];
  int16_t count = 0;
  std::string name, def;
  size_t from = 0;
  while (CutClosed(s, el.name, from, &name, &from) && CutClosed(s, el.def, from, &def, &from)) {
    count += table.Add(std::move(name), std::move(def), true, *errors_);
  }
  return count;
}

int16_t clsMIFUtilities::CollectPgfNumFormat(std::string_view s) {
  std::string tag, format;
  size_t end = 0;
  if (!CutClosed(s, "<PgfTag `", 0, &tag, &end)) return 0;
  if (!CutClosed(s, "<PgfNumFormat `", 0, &format, &end)) return 0;
  return (*tables_)[Kind::kVar].Add(std::move(tag), std::move(format), true, *errors_);
}

// ------------------------------------------------------------------- batches

int16_t clsMIFUtilities::EndBatch() {
  written_.clear();
  if (!extracted_) return 0;
  return static_cast<int16_t>(WriteBatchFile(Kind::kIndex) + WriteBatchFile(Kind::kXref) +
                              WriteBatchFile(Kind::kVar));
}

int16_t clsMIFUtilities::WriteBatchFile(Kind kind) {
  static constexpr std::array<MessageId, 3> kNotSpecified{MessageId::kIndexFileNotSpecified,
                                                          MessageId::kXrefFileNotSpecified,
                                                          MessageId::kVarFileNotSpecified};
  static constexpr std::array<MessageId, 3> kCannotOpen{MessageId::kCannotOpenIndexFile,
                                                        MessageId::kCannotOpenXrefFile,
                                                        MessageId::kCannotOpenVarFile};
  const auto k = static_cast<size_t>(kind);
  const std::string& file = kind == Kind::kIndex ? index_file_
                            : kind == Kind::kXref ? xref_file_
                                                  : var_file_;
  if (file.empty()) return AddMessage(kNotSpecified[k]), 1;
  // A read-only file cannot be opened for writing, so it is not replaced.
  FileInfo info;
  if (env_.fs->GetLinkInfo(file, &info).ok() && info.is_regular && info.read_only) {
    return AddMessage(kCannotOpen[k]), 1;
  }
  // The texts are as private as the document they come from.
  ReplacementFile out;
  if (!out.Start(env_, file, SideFileOf(mif_file_)).ok()) {
    return AddMessage(kCannotOpen[k]), 1;
  }
  const EntryTable& table = (*tables_)[kind];
  std::string text = "<MIFFile 5.50>\r\n";
  if (kind == Kind::kIndex) text += "<QUONSeg " + std::to_string(split_) + ">\r\n";
  text += "<TextFlow \r\n";
  Status s;
  for (int32_t i = 0; i < table.count() && s.ok(); ++i) {
    const auto& [key, value] = table.slot(i);
    text += " <Para \r\n  <QUONTag `";
    text += key;
    if (kind != Kind::kIndex) text.append(" : ").append(value);
    text += "'>\r\n  <ParaLine \r\n   <String `";
    text += value;
    text += "'>\r\n  >\r\n >\r\n";
    if (text.size() >= (1u << 16)) {
      s = out.file().Append(text);
      text.clear();
    }
  }
  text += ">\r\n";
  if (s.ok()) s = out.file().Append(text);
  if (s.ok()) s = out.Close();
  if (!s.ok()) {
    out.Abandon();
    ErrorList()->Add(Variant(WriteFailure(file, s)));
    return 1;
  }
  if (out.Commit(Variant(ObjectRef(errors_))) != 0) return 1;
  written_.push_back(file);
  return 0;
}

// --------------------------------------------------------------------- merge

int16_t clsMIFUtilities::LoadTranslated(Kind kind) {
  static constexpr std::array<MessageId, 3> kCannotOpen{MessageId::kCannotOpenTranslatedIndex,
                                                        MessageId::kCannotOpenTranslatedXref,
                                                        MessageId::kCannotOpenTranslatedVars};
  const std::string& file = kind == Kind::kIndex ? index_file_
                            : kind == Kind::kXref ? xref_file_
                                                  : var_file_;
  WithEnv<clsCommon> common(env_);
  std::unique_ptr<ReadableFile> in;
  if (!common.FileExists(file) || !env_.fs->OpenForRead(file, &in).ok()) {
    return AddMessage(kCannotOpen[static_cast<size_t>(kind)], file), 1;
  }
  EntryTable& table = (*tables_)[kind];
  MifScanner scan(in.get(), in->Size(), nullptr, [this](int16_t& p) { progress_.Raise(p); });
  if (kind == Kind::kIndex) {
    scan.SetKeywords({"<QUONSeg ", "<Para "});
  } else {
    scan.SetKeywords({"<Para "});
  }
  int16_t count = 0;
  std::string tag, piece, joined;
  // Where and why the loading went wrong first: -1 while it did not.
  int64_t stop_at = -1;
  const char* stop_reason = nullptr;
  constexpr const char* kOpenString =
      "a string runs on past its line end (its closing quote is missing): the paragraphs "
      "after it became part of its text, and their translations were not merged";
  while (scan.NextStatement()) {
    const std::string_view s = scan.statement();
    if (kind == Kind::kIndex && s.starts_with("<QUONSeg ")) {
      if (s.size() > 9 && s[9] >= '0' && s[9] <= '9') split_ = static_cast<int16_t>(s[9] - '0');
      continue;
    }
    if (!s.starts_with("<Para ")) continue;
    if (const size_t g = OpenStringAt(s); stop_at < 0 && g != npos) {
      // Its text took the paragraphs after it along.
      stop_at = scan.statement_offset() + static_cast<int64_t>(g);
      stop_reason = kOpenString;
    }
    size_t from = 0;
    bool closed = false;
    if (!CutMifString(s, "<QUONTag `", 0, &tag, &from, &closed)) {
      if (stop_at < 0) {
        stop_at = scan.statement_offset();
        stop_reason = "a paragraph without its <QUONTag>: no translation from there on was merged";
      }
      break;
    }
    if (kind == Kind::kIndex) {
      // Only the first string of an index paragraph counts.
      if (!CutMifString(s, "<String `", from, &piece, &from, &closed)) {
        if (stop_at < 0) {
          stop_at = scan.statement_offset();
          stop_reason = "a paragraph without its <String>: no translation from there on was merged";
        }
        break;
      }
      count += table.Add(tag, piece, false, *errors_);
      continue;
    }
    joined.clear();
    while (CutMifString(s, "<String `", from, &piece, &from, &closed)) joined += piece;
    count += table.Add(tag, joined, false, *errors_);
  }
  if (!scan.status().ok()) {
    ErrorList()->Add(Variant(ReadFailure(file, scan.status())));
    ++count;
  } else if (stop_at < 0 && !scan.statement().empty()) {
    // The file ended inside a paragraph.
    const size_t g = OpenStringAt(scan.statement());
    stop_at = scan.statement_offset() + static_cast<int64_t>(g == npos ? 0 : g);
    stop_reason = g == npos ? "a paragraph not closed before the end of the file: it was not merged"
                            : kOpenString;
  }
  if (stop_at >= 0) {
    load_stops_.push_back({file, LineAt(file, stop_at), stop_reason});
  }
  return count;
}

int64_t clsMIFUtilities::LineAt(const std::string& file, int64_t offset) {
  // Line ends (CR LF, LF CR, CR or LF) before the offset, plus 1.
  int64_t line = 1;
  std::unique_ptr<ReadableFile> in;
  if (!env_.fs->OpenForRead(file, &in).ok()) return 0;
  std::string buf;
  char pair_start = 0;  // the first byte of a line end that may be a pair
  for (int64_t at = 0; at < offset;) {
    buf.resize(static_cast<size_t>(std::min<int64_t>(offset - at, 1 << 16)));
    size_t got = 0;
    if (!in->Read(buf.size(), buf.data(), &got).ok() || got == 0) break;
    for (size_t i = 0; i < got; ++i) {
      const char c = buf[i];
      if (c != '\r' && c != '\n') {
        pair_start = 0;
      } else if (pair_start != 0 && c != pair_start) {
        pair_start = 0;  // the second byte of CR LF or LF CR
      } else {
        ++line;
        pair_start = c;
      }
    }
    at += static_cast<int64_t>(got);
  }
  return line;
}

namespace {

// Writes an index marker statement with the translations of its text's
// pieces (cut as split says).
void MergeMarkerText(MifScanner& scan, std::string_view s, const EntryTable& index, int16_t split) {
  std::string text;
  size_t end = 0;
  if (!CutClosed(s, kMText, 0, &text, &end) || IsBlank(text)) return scan.WriteThrough(s);
  auto lookup = [&](const std::string& piece) -> const std::string& {
    const std::string* found = index.Find(piece);
    return found != nullptr ? *found : piece;
  };
  std::string merged, piece;
  for (char c : text) {
    if ((c == ':' && split == 2) || (c == ';' && split > 0)) {
      merged += lookup(piece);
      merged += c;
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) merged += lookup(piece);
  const std::string_view all = s;
  scan.WriteThrough(all.substr(0, end - text.size()));
  scan.WriteThrough(merged);
  scan.WriteThrough(all.substr(end));
}

// Writes a cross-reference or variable formats statement with the
// translations of its definitions.
void MergeFormats(MifScanner& scan, std::string_view s, const EntryTable& table, bool xref) {
  const FormatElements el = ElementsOf(xref);
  const std::string_view all = s;
  size_t written = 0, from = 0;
  std::string name, def;
  while (CutClosed(s, el.name, from, &name, &from) && CutClosed(s, el.def, from, &def, &from)) {
    const std::string* translation = table.Find(name + " : " + def);
    if (translation == nullptr || translation->empty()) continue;
    const size_t begin = from - def.size();
    scan.WriteThrough(all.substr(written, begin - written));
    scan.WriteThrough(*translation);
    written = from;
  }
  scan.WriteThrough(all.substr(written));
}

// Writes a statement, with the translation of its paragraph autonumber
// format if it has one.
void MergePgfNumFormat(MifScanner& scan, std::string_view s, const EntryTable& variables) {
  std::string tag, format;
  size_t end = 0;
  if (CutClosed(s, "<PgfTag `", 0, &tag, &end) &&
      CutClosed(s, "<PgfNumFormat `", 0, &format, &end)) {
    const std::string* translation = variables.Find(tag + " : " + format);
    if (translation != nullptr && !translation->empty()) {
      const std::string_view all = s;
      scan.WriteThrough(all.substr(0, end - format.size()));
      scan.WriteThrough(*translation);
      scan.WriteThrough(all.substr(end));
      return;
    }
  }
  scan.WriteThrough(s);
}

}  // namespace

int16_t clsMIFUtilities::Merge() {
  if (mif_file_.empty()) return AddMessage(MessageId::kNoMifFile), 1;
  if (!MifFileExists(*env_.fs, mif_file_)) return AddMessage(MessageId::kMifFileNotFound), 1;
  int16_t result = 0;
  if (!loaded_) {
    SetDefaultFileNames();
    result += LoadTranslated(Kind::kIndex);
    result += LoadTranslated(Kind::kXref);
    result += LoadTranslated(Kind::kVar);
    loaded_ = true;
  }
  std::unique_ptr<ReadableFile> in;
  if (!env_.fs->OpenForRead(mif_file_, &in).ok())
    return AddMessage(MessageId::kCannotOpenMifFile), 1;
  ReplacementFile out;
  if (!out.Start(env_, mif_file_, InPlace()).ok()) {
    return AddMessage(MessageId::kCannotCreateTempFile), static_cast<int16_t>(result + 1);
  }
  MifScanner scan(in.get(), in->Size(), &out.file(), [this](int16_t& p) { progress_.Raise(p); });
  scan.SetKeywords(MifKeywords());
  while (scan.NextStatement()) {
    const std::string_view s = scan.statement();
    if (s.starts_with("<Marker ")) {
      if (s.find("<MType 2>") != npos) {
        MergeMarkerText(scan, s, (*tables_)[Kind::kIndex], split_);
      } else {
        scan.WriteThrough(s);
      }
    } else if (s.starts_with("<XRefFormats ")) {
      MergeFormats(scan, s, (*tables_)[Kind::kXref], true);
    } else if (s.starts_with("<VariableFormats ")) {
      MergeFormats(scan, s, (*tables_)[Kind::kVar], false);
    } else {
      MergePgfNumFormat(scan, s, (*tables_)[Kind::kVar]);
    }
  }
  // A file that ends inside a statement keeps that statement as it stood.
  scan.WriteThrough(scan.statement());
  Status s = scan.status();
  if (s.ok()) s = out.Close();
  in.reset();
  if (!s.ok()) {
    out.Abandon();
    ErrorList()->Add(Variant(WriteFailure(mif_file_, s)));
    return static_cast<int16_t>(result + 1);
  }
  return static_cast<int16_t>(result + out.Commit(Variant(ObjectRef(errors_))));
}

// -------------------------------------------------------------------- insets

int16_t clsMIFUtilities::RemoveObjects() {
  MifInsetRun run{env_, mif_file_, obj_file_, *ErrorList(),
                  [this](int16_t& p) { progress_.Raise(p); }};
  const int16_t result = RemoveMifObjects(run);
  obj_file_ = run.obj_file;
  return result;
}

int16_t clsMIFUtilities::InsertObjects() {
  MifInsetRun run{env_, mif_file_, obj_file_, *ErrorList(),
                  [this](int16_t& p) { progress_.Raise(p); }};
  const int16_t result = InsertMifObjects(run);
  obj_file_ = run.obj_file;
  last_insertion_ = {std::move(run.missing), std::move(run.repeated), std::move(run.unused),
                     std::move(run.move_messages)};
  return result;
}

// ------------------------------------------------------------------ dispatch

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsMIFUtilities>() {
  using C = clsMIFUtilities;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "clsMIFUtilities",
      {
          T::Method("EndBatch", 1, {}, V::kInt16, &C::EndBatch),
          T::Property("XrefFile", 2, M::kLetGet, V::kText, &C::XrefFile, &C::XrefFile),
          T::Property("IndexFile", 3, M::kLetGet, V::kText, &C::IndexFile, &C::IndexFile),
          T::Property("VarFile", 4, M::kLetGet, V::kText, &C::VarFile, &C::VarFile),
          T::Method("Merge", 5, {}, V::kInt16, &C::Merge),
          T::Method("Extract", 6, {}, V::kInt16, &C::Extract),
          T::Method("StartBatch", 7, {}, V::kEmpty, &C::StartBatch),
          T::Method("InsertObjects", 8, {}, V::kInt16, &C::InsertObjects),
          T::Method("RemoveObjects", 9, {}, V::kInt16, &C::RemoveObjects),
          T::Property("ObjFile", 10, M::kLetGet, V::kText, &C::ObjFile, &C::ObjFile),
          T::Property("MIFFile", 11, M::kLetGet, V::kText, &C::MIFFile, &C::MIFFile),
          T::Get("ErrorList", 12, V::kObject, &C::ErrorList),
          T::Property("SplitOptions", 13, M::kLetGet, V::kInt16, &C::SplitOptions,
                      &C::SplitOptions),
          T::Method("ClearErrors", 14, {}, V::kEmpty, &C::ClearErrors),
      }};
  return info;
}

const ClassTypeInfo& clsMIFUtilities::TypeInfo() const { return detail::TypeInfoOf<clsMIFUtilities>(); }

int32_t clsMIFUtilities::Advise(EventSink sink) { return progress_.AdviseSink(std::move(sink)); }
void clsMIFUtilities::Unadvise(int32_t cookie) { progress_.UnadviseSink(cookie); }

}  // namespace vok
