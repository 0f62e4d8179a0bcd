// `voktools ppt2xml|xml2ppt|xls2xml|xml2xls`: the text of presentations and
// workbooks exported to XLIFF files for translation and imported back, by the
// office suite's add-in macros; several documents run on one connection.
#pragma once

#include <string>
#include <vector>

#include "report.h"

namespace vok::cli {

enum class AddinOperation { kPptToXml, kXmlToPpt, kXlsToXml, kXmlToXls };

struct AddinOptions {
  // The presentations or workbooks, whichever way the conversion goes.
  std::vector<std::string> files;
  // --xml, with one document only; empty: each document's own XML name.
  std::string xml;
  bool force = false;  // an existing XML file may be replaced
};

// Converts every document in order and reports each; returns the exit
// status.
int RunAddinConversion(AddinOperation operation, const AddinOptions& options, Reporter& reporter);

}  // namespace vok::cli
