// `voktools languages` and `voktools codepages`: the tables of clsLanguages,
// and whether a file's bytes are valid in one of the code pages.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vok::cli {

// The exit status of a languages or codepages run that found nothing, or a
// file not valid in its code page, or could not check it.
inline constexpr int kLanguagesFailed = 1;

struct LanguagesOptions {
  bool json = false;
  std::string code;  // empty: every language
};

struct CodePagesOptions {
  bool json = false;
  std::string check_file;  // empty: list the code pages
  int32_t codepage = 0;
};

// Each prints its table or answer on out and its errors on err
// ("voktools languages: ..."), and returns the exit status.
int RunLanguages(const LanguagesOptions& options, std::ostream& out, std::ostream& err);
int RunCodePages(const CodePagesOptions& options, std::ostream& out, std::ostream& err);

// The names under which iconv may know a code page, the likeliest first:
// the system's name for the number, then the list's character-set name.
std::vector<std::string> IconvNames(int32_t number, const std::string& code);

struct ByteCheck {
  int64_t bytes = 0;  // read in all
  bool valid = true;
  // Where the first invalid sequence starts, when not valid; line and column
  // count decoded characters from 1, a line ending at each LF.
  int64_t offset = 0;
  uint8_t byte = 0;
  int64_t line = 1;
  int64_t column = 1;
  bool cut_off = false;  // the sequence was cut off by the end of the file
};

// Decodes file from the character set charset, chunk bytes at a time;
// nothing, with the reason in *error, when iconv does not know charset or a
// read fails.
std::optional<ByteCheck> CheckBytes(ReadableFile& file, const std::string& charset,
                                    std::string* error, size_t chunk = 64 * 1024);

}  // namespace vok::cli
