// `voktools mif extract|merge|remove-objects|insert-objects`: one
// clsMIFUtilities object works through the files of a document as one batch
// and the batch is reported as a whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report.h"

namespace vok::cli {

struct MifOptions {
  std::vector<std::string> files;
  // Empty: the class's defaults (QUON_ix.mif, QUON_xr.mif and QUON_va.mif
  // in the folder of the first MIF file; the MIF file's name with "obj").
  std::string index_file;
  std::string xref_file;
  std::string var_file;
  std::string obj_file;
  std::optional<int16_t> split;  // extraction only; none: 0
  bool force = false;            // extract, remove-objects: existing outputs may be replaced
};

int RunMifExtract(const MifOptions& options, Reporter& reporter);
int RunMifMerge(const MifOptions& options, Reporter& reporter);
int RunMifRemoveObjects(const MifOptions& options, Reporter& reporter);
int RunMifInsertObjects(const MifOptions& options, Reporter& reporter);

}  // namespace vok::cli
