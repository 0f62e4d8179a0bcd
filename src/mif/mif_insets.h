// Moving the insets of a MIF file (blocks of lines from a line starting
// with "=" to the line "=EndInset") into an object file, leaving a line
// "<QUONObj n>" in their place, and putting them back.
//
// Object file: for each inset, "<QUONObj n>" CR LF, the inset's lines as
// they stood up to its "=EndInset" line, "=EndInset" CR LF; after the last
// one "<QUONObj End>" without a line end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "voktools/collection.h"

namespace vok {

struct Env;
class FileSystem;

struct MifInsetRun {
  Env& env;
  std::string mif_file;
  std::string obj_file;  // empty: derived, and set here
  Collection& errors;
  // Called with the percentage of the MIF file read whenever it grows.
  std::function<void(int16_t&)> progress;
  // The size of the pieces the MIF file is read in; tests make it small so
  // that lines and markers straddle two reads.
  int32_t chunk = 1 << 20;

  // Filled by InsertMifObjects once the MIF file was read through, each
  // placeholder and inset by its number (what follows "<QUONObj " up to
  // ">"), in the order met: the placeholders that found no inset (a bare
  // "=EndInset" line took their place), those whose inset an earlier one
  // took already (it is in the file twice), and the insets of the object
  // file that no placeholder asked for (in file order).
  std::vector<std::string> missing = {};
  std::vector<std::string> repeated = {};
  std::vector<std::string> unused = {};
  // Why the rebuilt MIF file could not replace the old one, if it could not.
  std::vector<std::string> move_messages = {};
};

// Whether a file (not a folder) of that name exists.
bool MifFileExists(FileSystem& fs, const std::string& mif_file);

// The object file of a MIF file: up to its last "." (anywhere in the
// path) and "obj", or the name and ".obj".
std::string MakeObjFileName(const std::string& mif_file);

// Both return the number of failures, each reported in run.errors. The MIF
// file (and an old object file) are replaced only by complete output.
int16_t RemoveMifObjects(MifInsetRun& run);
int16_t InsertMifObjects(MifInsetRun& run);

}  // namespace vok
