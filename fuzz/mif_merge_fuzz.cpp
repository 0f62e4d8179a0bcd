// clsMIFUtilities extraction into the three batch files, then a merge of
// those files, untranslated, by a fresh object: both must succeed and the
// merge must leave the MIF file byte for byte as it was. The first byte
// picks the split options of the extraction (-1 to 2); the rest is the MIF
// file.
//
// An extraction may fail only by filling a table: then that table holds
// 32768 entries. Inputs whose batch files hold one tag for two entries are
// skipped: for those the merge gives both the first entry's text.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_files.h"

#include "voktools/collection.h"
#include "voktools/mif_utilities.h"

namespace {

[[noreturn]] void Fail(const char* what) { vok::fuzz::Fail("mif merge", what); }

const std::string& FolderPath() {
  static const vok::fuzz::Folder folder("mif_merge_fuzz");
  return folder.path();
}

void UseBatchFiles(vok::clsMIFUtilities& util) {
  util.IndexFile(FolderPath() + "ix.mif");
  util.XrefFile(FolderPath() + "xr.mif");
  util.VarFile(FolderPath() + "va.mif");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto split = static_cast<int16_t>(data[0] % 4 - 1);
  const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string mif = FolderPath() + "doc.mif";
  vok::fuzz::WriteWholeFile(mif, content);

  {
    vok::clsMIFUtilities extract;
    extract.StartBatch();
    extract.SplitOptions(split);
    UseBatchFiles(extract);
    extract.MIFFile(mif);
    if (const int16_t failures = extract.Extract(); failures != 0) {
      int16_t full = 0;
      for (int32_t count : extract.TableCounts()) full += count == 32768 ? 1 : 0;
      if (failures > full) Fail("extraction failed");
    }
    if (extract.EndBatch() != 0) Fail("the batch files were not written");
    // Two entries behind one tag ("a : b" with "c", and "a" with "b : c"):
    // the batch file cannot tell them apart, and both get the first text.
    if (!extract.AmbiguousTags().empty()) return 0;
  }
  if (vok::fuzz::ReadWholeFile(mif) != content) Fail("extraction changed the MIF file");

  vok::clsMIFUtilities merge;
  merge.StartBatch();
  UseBatchFiles(merge);
  merge.MIFFile(mif);
  if (merge.Merge() != 0) Fail("the merge failed");
  if (merge.ErrorList()->Count() != 0) Fail("the merge reported errors");
  if (vok::fuzz::ReadWholeFile(mif) != content) {
    Fail("merging the untranslated batch files changed the MIF file");
  }
  return 0;
}
