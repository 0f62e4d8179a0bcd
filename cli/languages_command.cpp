#include "languages_command.h"

#include <errno.h>
#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>

#include "file_guard.h"
#include "json_text.h"
#include "platform/env.h"
#include "voktools/ascii.h"
#include "voktools/languages.h"

namespace vok::cli {

namespace {

std::string Padded(std::string text, size_t width, bool right) {
  if (text.size() >= width) return text;
  const std::string blanks(width - text.size(), ' ');
  return right ? blanks + text : text + blanks;
}

void PrintLanguage(const clsLanguages& table, int32_t i, bool json, std::ostream& out) {
  if (json) {
    Json line = Json::object();
    line["index"] = i;
    line["code"] = TextToJson(table.LanguageCode(i));
    line["description"] = TextToJson(table.LanguageDescription(i));
    line["codepage"] = table.LanguageEncoding(i);
    line["codepage_index"] = table.LanguageCodePage(i);
    out << DumpLine(line) << '\n';
    return;
  }
  out << Padded(std::to_string(i), 5, true) << "  " << Padded(table.LanguageCode(i), 6, false)
      << Padded(std::to_string(table.LanguageEncoding(i)), 8, true) << "  "
      << Padded(std::to_string(table.LanguageCodePage(i)), 5, true) << "  "
      << table.LanguageDescription(i) << '\n';
}

void PrintCodePage(const clsLanguages& table, int32_t i, bool json, std::ostream& out) {
  if (json) {
    Json line = Json::object();
    line["index"] = i;
    line["number"] = table.CodePageNumber(i);
    line["code"] = TextToJson(table.CodePageCode(i));
    line["description"] = TextToJson(table.CodePageDescription(i));
    out << DumpLine(line) << '\n';
    return;
  }
  out << Padded(std::to_string(i), 5, true) << "  "
      << Padded(std::to_string(table.CodePageNumber(i)), 6, true) << "  "
      << Padded(table.CodePageCode(i), 16, false) << table.CodePageDescription(i) << '\n';
}

// Closes an iconv descriptor when it goes.
struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using Decoder = std::unique_ptr<void, IconvCloser>;

Decoder OpenDecoder(const std::string& charset) {
  iconv_t cd = iconv_open("UTF-8", charset.c_str());
  return Decoder(cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd);
}

// Advances line and column over decoded UTF-8 text.
void CountCharacters(const char* text, size_t n, ByteCheck& check) {
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;
    if (c == '\n') {
      ++check.line;
      check.column = 1;
    } else {
      ++check.column;
    }
  }
}

int CheckFile(const CodePagesOptions& options, const clsLanguages& table, std::ostream& out,
              std::ostream& err) {
  const std::string& path = options.check_file;
  int32_t entry = -1;
  for (int32_t i = 0; i <= table.CodePageCount() && entry < 0; ++i) {
    if (table.CodePageNumber(i) == options.codepage) entry = i;
  }
  if (entry < 0) {
    err << "voktools codepages: code page " << options.codepage
        << " is not in the list (voktools codepages lists them)\n";
    return kLanguagesFailed;
  }
  const std::string code = table.CodePageCode(entry);
  std::string charset;
  for (const std::string& name : IconvNames(options.codepage, code)) {
    if (OpenDecoder(name)) {
      charset = name;
      break;
    }
  }
  if (charset.empty()) {
    err << "voktools codepages: code page " << options.codepage << " (" << code
        << ") cannot be converted on this system: iconv knows none of its names\n";
    return kLanguagesFailed;
  }
  std::unique_ptr<ReadableFile> file;
  std::optional<std::string> not_regular = NotRegularInput(path);
  if (not_regular || !CurrentEnv().fs->OpenForRead(path, &file).ok()) {
    const std::string why = not_regular ? *not_regular : WhyUnreadable(path);
    err << "voktools codepages: " << path << ": cannot open the file: "
        << (why.empty() ? "it cannot be read" : why) << '\n';
    return kLanguagesFailed;
  }
  std::string error;
  std::optional<ByteCheck> check = CheckBytes(*file, charset, &error);
  if (!check) {
    err << "voktools codepages: " << path << ": " << error << '\n';
    return kLanguagesFailed;
  }
  if (options.json) {
    Json line = Json::object();
    line["file"] = TextToJson(path);
    line["codepage"] = options.codepage;
    line["code"] = TextToJson(code);
    line["charset"] = charset;
    line["valid"] = check->valid;
    line["bytes"] = check->bytes;
    if (!check->valid) {
      line["offset"] = check->offset;
      line["byte"] = check->byte;
      line["line"] = check->line;
      line["column"] = check->column;
      line["cut_off"] = check->cut_off;
    }
    out << DumpLine(line) << '\n';
  } else if (check->valid) {
    out << path << ": valid in code page " << options.codepage << " (" << code << "), "
        << check->bytes << " bytes\n";
  } else {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", check->byte);
    out << path << ": not valid in code page " << options.codepage << " (" << code << "): "
        << (check->cut_off ? "a sequence cut off by the end of the file, byte " : "byte ")
        << hex << " at offset " << check->offset << " (line " << check->line << ", column "
        << check->column << ")\n";
  }
  return check->valid ? 0 : kLanguagesFailed;
}

}  // namespace

std::vector<std::string> IconvNames(int32_t number, const std::string& code) {
  std::string system;
  if (number == 65001) {
    system = "UTF-8";
  } else if (number == 10000) {
    system = "MACINTOSH";
  } else if (number >= 28591 && number <= 28599) {
    system = "ISO-8859-" + std::to_string(number - 28590);
  } else if (number > 20000 && number < 30000) {
    system = "IBM" + std::to_string(number - 20000);  // 20277: IBM277
  } else if (number == 37 || number == 500 || number == 870 || number == 875 ||
             number == 1026) {
    char name[16];
    std::snprintf(name, sizeof name, "IBM%03d", number);  // 37: IBM037
    system = name;
  } else {
    system = "CP" + std::to_string(number);
  }
  std::vector<std::string> names{system};
  if (!code.empty() && !EqualsIgnoreCase(code, system)) names.push_back(code);
  return names;
}

std::optional<ByteCheck> CheckBytes(ReadableFile& file, const std::string& charset,
                                    std::string* error, size_t chunk) {
  Decoder decoder = OpenDecoder(charset);
  if (!decoder) {
    *error = "iconv cannot convert from " + charset + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const auto cd = static_cast<iconv_t>(decoder.get());
  ByteCheck check;
  std::string buffer;   // bytes not yet decoded: the tail of a sequence, then a chunk
  int64_t start = 0;    // the file offset of buffer[0]
  std::string decoded(4 * chunk + 64, '\0');
  while (true) {
    const size_t kept = buffer.size();
    buffer.resize(kept + chunk);
    size_t got = 0;
    if (Status s = file.Read(chunk, buffer.data() + kept, &got); !s.ok()) {
      *error = "cannot read the file: " + s.message();
      return std::nullopt;
    }
    buffer.resize(kept + got);
    check.bytes += int64_t(got);
    const bool at_end = got < chunk;
    char* in = buffer.data();
    size_t in_left = buffer.size();
    while (in_left > 0) {
      char* out = decoded.data();
      size_t out_left = decoded.size();
      const size_t result = iconv(cd, &in, &in_left, &out, &out_left);
      const int why = errno;
      CountCharacters(decoded.data(), decoded.size() - out_left, check);
      if (result != static_cast<size_t>(-1) || why == E2BIG) continue;
      if (why == EINVAL && !at_end) break;  // the rest comes with the next chunk
      check.valid = false;
      check.cut_off = why == EINVAL;
      check.offset = start + (in - buffer.data());
      check.byte = static_cast<uint8_t>(*in);
      return check;
    }
    if (at_end) return check;
    const size_t consumed = static_cast<size_t>(in - buffer.data());
    buffer.erase(0, consumed);
    start += int64_t(consumed);
  }
}

int RunLanguages(const LanguagesOptions& options, std::ostream& out, std::ostream& err) {
  clsLanguages table;
  int32_t only = -1;
  if (!options.code.empty()) {
    for (int32_t i = 0; i <= table.LanguageCount() && only < 0; ++i) {
      if (EqualsIgnoreCase(table.LanguageCode(i), options.code)) only = i;
    }
    if (only < 0) {
      err << "voktools languages: no language has the code " << options.code
          << " (voktools languages lists them)\n";
      return kLanguagesFailed;
    }
  }
  if (!options.json) out << "INDEX  CODE  CODEPAGE  ENTRY  DESCRIPTION\n";
  for (int32_t i = only < 0 ? 0 : only; i <= (only < 0 ? table.LanguageCount() : only); ++i) {
    PrintLanguage(table, i, options.json, out);
  }
  return 0;
}

int RunCodePages(const CodePagesOptions& options, std::ostream& out, std::ostream& err) {
  clsLanguages table;
  if (!options.check_file.empty()) return CheckFile(options, table, out, err);
  if (!options.json) out << "INDEX  NUMBER  CODE            DESCRIPTION\n";
  for (int32_t i = 0; i <= table.CodePageCount(); ++i) {
    PrintCodePage(table, i, options.json, out);
  }
  return 0;
}

}  // namespace vok::cli
