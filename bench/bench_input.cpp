#include "bench_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "generator.h"

namespace vok::bench {

namespace {

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

// What one kind of input is called and how it is made.
struct InputKind {
  const char* file_variable;  // names a ready-made file
  int64_t default_size;       // when no size variable is set
  const char* size_variable;  // read before $VOK_BENCH_SIZE; may be null
  const char* stem;           // the generated file's name: stem, size, extension
  const char* extension;
  const char* what;  // for the message while generating
  bool (*generate)(const std::string& path, int64_t size);
};

Input ResolveInput(const InputKind& kind) {
  Input in;
  if (const char* file = std::getenv(kind.file_variable); file != nullptr && *file != '\0') {
    in.size = FileSize(file);
    if (in.size < 0) {
      in.error = std::string(kind.file_variable) + " is not a readable file: " + file;
      return in;
    }
    in.path = file;
    return in;
  }
  int64_t size = kind.default_size;
  for (const char* variable : {kind.size_variable, "VOK_BENCH_SIZE"}) {
    const char* text = variable != nullptr ? std::getenv(variable) : nullptr;
    if (text == nullptr || *text == '\0') continue;
    size = ParseSize(text);
    if (size < 0) {
      in.error = std::string(variable) + " is not a size: " + text;
      return in;
    }
    break;
  }
  std::string path = TempFolder() + kind.stem + std::to_string(size) + kind.extension;
  // A complete earlier file is reused: generation writes under another name
  // and renames, so a file of the right size is a finished one.
  if (FileSize(path) != size) {
    std::fprintf(stderr, "Generating %lld bytes of %s in %s\n", static_cast<long long>(size),
                 kind.what, path.c_str());
    if (!kind.generate(path, size)) {
      in.error = "cannot generate " + path;
      return in;
    }
  }
  in.path = path;
  in.size = size;
  return in;
}

// The parts of the RTF document, each appended to a string.
class RtfParts {
 public:
  explicit RtfParts(Rng& rng) : rng_(rng), hex_(RandomBlock(rng, "0123456789abcdef", kBlock)) {
    static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz     ,.";
    filler_ = RandomBlock(rng, kLetters, kBlock);
  }

  static constexpr std::string_view kHeader =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033"
      "{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\froman\\fcharset0 Times New Roman;}}\r\n"
      "{\\colortbl ;\\red0\\green0\\blue0;\\red31\\green73\\blue125;}\r\n"
      "{\\*\\generator voktools_bench;}\\viewkind4\\uc1\r\n";
  static constexpr std::string_view kClosing = "}\r\n";
  // A group of at least this many bytes can be made.
  static constexpr size_t kSmallestGroup = 512;

  // One paragraph of words, with the odd formatted word, escaped brace,
  // accented letter or field, in lines of about 200 bytes.
  void Paragraph(std::string& out) {
    static constexpr std::array<std::string_view, 16> kWords = {
        "the",   "document", "translation", "of",     "picture", "and",      "text", "a",
        "table", "chapter",  "section",     "figure", "which",   "contains", "in",   "shown"};
    out += rng_.Below(4) == 0 ? "\\pard\\plain\\s1\\f1\\fs28\\cf2 " : "\\pard\\plain\\f0\\fs20 ";
    size_t line_start = out.size();
    const uint32_t words = 8 + rng_.Below(120);
    for (uint32_t i = 0; i < words; ++i) {
      if (i > 0) out += ' ';
      std::string_view word = kWords[rng_.Below(kWords.size())];
      switch (rng_.Below(48)) {
        case 0:
          out.append("{\\b ").append(word).append("}");
          break;
        case 1:
          out.append("{\\i ").append(word).append("}");
          break;
        case 2:
          out.append("caf\\'e9");
          break;
        case 3:
          out.append("\\{").append(word).append("\\}");
          break;
        case 4:
          out.append("{\\field{\\*\\fldinst { HYPERLINK \"#")
              .append(word)
              .append("\" }}{\\fldrslt {\\ul ")
              .append(word)
              .append("}}}");
          break;
        default:
          out.append(word);
      }
      if (out.size() - line_start > 200) {
        out += "\r\n";
        line_start = out.size();
      }
    }
    out += "\\par\r\n";
  }

  // A picture group of exactly size bytes (at least kSmallestGroup).
  void Picture(std::string& out, size_t size) {
    const size_t start = out.size();
    out += "{\\pict";
    out += rng_.Below(3) == 0 ? "\\jpegblip" : "\\pngblip";
    Dimensions(out, "pic");
    out += "\r\n";
    const size_t tail = 1;  // "}"
    Hex(out, size - (out.size() - start) - tail);
    out += "}";
  }

  // An embedded object of exactly size bytes (at least kSmallestGroup): its
  // data, then its result, a picture; two thirds of the hex are the data.
  void Object(std::string& out, size_t size) {
    const size_t start = out.size();
    out += "{\\object\\objemb";
    Dimensions(out, "obj");
    out += "{\\*\\objclass Paint}{\\*\\objdata\r\n";
    const size_t prefix = out.size() - start;
    std::string result = "}{\\result {\\pict\\wmetafile8";
    Dimensions(result, "pic");
    result += "\r\n";
    const size_t tail = 3;  // "}}}"
    const size_t hex = size - prefix - result.size() - tail;
    Hex(out, hex * 2 / 3);
    out += result;
    Hex(out, hex - hex * 2 / 3);
    out += "}}}";
  }

  // size bytes of plain text, in lines.
  void Filler(std::string& out, size_t size) {
    while (size > 0) {
      size_t line = std::min<size_t>(size, 100);
      if (line > 2) {
        out.append(filler_, rng_.Below(kBlock - line), line - 2).append("\r\n");
      } else {
        out.append(line, ' ');
      }
      size -= line;
    }
  }

 private:
  static constexpr size_t kBlock = 1 << 16;
  static constexpr size_t kHexLine = 128;

  void Dimensions(std::string& out, const char* prefix) {
    const uint32_t w = 200 + rng_.Below(4000);
    const uint32_t h = 200 + rng_.Below(3000);
    out.append("\\").append(prefix).append("w").append(std::to_string(w));
    out.append("\\").append(prefix).append("h").append(std::to_string(h));
    out.append("\\").append(prefix).append("wgoal").append(std::to_string(w * 15));
    out.append("\\").append(prefix).append("hgoal").append(std::to_string(h * 15));
  }

  // size bytes of hex digits in lines of kHexLine digits, each ended by CR LF.
  void Hex(std::string& out, size_t size) {
    while (size > 0) {
      size_t line = std::min(size, kHexLine + 2);
      if (line > 2) {
        out.append(hex_, rng_.Below(kBlock - line), line - 2).append("\r\n");
      } else {
        out.append(hex_, 0, line);
      }
      size -= line;
    }
  }

  Rng& rng_;
  std::string hex_;
  std::string filler_;
};

// The parts of the server page, each appended to a string with its line
// ends chosen at random.
class AspParts {
 public:
  explicit AspParts(Rng& rng) : rng_(rng) {
    static constexpr std::string_view kLetters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789     ,.;:-'()!?";
    text_ = RandomBlock(rng, kLetters, kBlock);
  }

  static constexpr std::string_view kHeader =
      "<%@ Language=VBScript %>\r\n<html>\r\n<head><title>Order list</title></head>\r\n<body>\r\n";

  // One line of text in some markup, 0 to about 200 bytes of text.
  void TextLine(std::string& out) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kMarkup = {{
        {"<p>", "</p>"},
        {"<td class=\"cell\">", "</td>"},
        {"<li>", "</li>"},
        {"", ""},
        {"<b>", "</b><br>"},
        {"<h2 align=center>", "</h2>"},
    }};
    const auto& [open, close] = kMarkup[rng_.Below(kMarkup.size())];
    out.append(open).append(Text(rng_.Below(201))).append(close);
    End(out);
  }

  // One server block or script element with the text around it, ending
  // with a line end.
  void Block(std::string& out) {
    switch (rng_.Below(16)) {
      case 0:
      case 1:
      case 2:
      case 3:
        out.append("<p>").append(Text(rng_.Below(80))).append("<%= Request(\"");
        out.append(Word()).append("\") %>").append(Text(rng_.Below(80))).append("</p>");
        break;
      case 4:
        out.append("<% If Session(\"").append(Word()).append("\") <> \"\" Then %>");
        break;
      case 5:
      case 6:
        out.append("<%");
        Statements(out, 2 + rng_.Below(24));
        out.append("%>");
        break;
      case 7:
      case 8:
        out.append("<a href=\"detail.asp?id=<%= rs(\"").append(Word()).append("\") %>\">");
        out.append(Text(rng_.Below(40))).append("</a>");
        break;
      case 9:
      case 10:
        out.append("<input type=text name=").append(Word()).append(" value=<%= Server.HTMLEncode(");
        out.append(Word()).append(") %> size=20>");
        break;
      case 11:
        out.append("<option <%= Selected(\"").append(Word()).append("\") %> value=\"");
        out.append(Word()).append("\">").append(Text(rng_.Below(30))).append("</option>");
        break;
      case 12:
      case 13:
        out.append("<script language=\"JavaScript\">");
        Script(out, 2 + rng_.Below(30));
        out.append("</script>");
        break;
      case 14:
        out.append("<SCRIPT LANGUAGE=\"VBScript\" RUNAT=\"Server\">");
        Statements(out, 2 + rng_.Below(10));
        out.append("</SCRIPT>");
        break;
      default:
        out.append("<td><% Response.Write \"<b>\" & ").append(Word());
        out.append(" & \"</b>\" %></td>");
        break;
    }
    End(out);
  }

 private:
  static constexpr size_t kBlock = 1 << 16;

  std::string_view Text(size_t size) {
    return std::string_view(text_).substr(rng_.Below(kBlock - size), size);
  }

  std::string_view Word() {
    static constexpr std::array<std::string_view, 8> kWords = {
        "order", "customer", "qty", "price", "item", "total", "status", "name"};
    return kWords[rng_.Below(kWords.size())];
  }

  void End(std::string& out) {
    const uint32_t r = rng_.Below(20);
    out.append(r < 12 ? "\r\n" : r < 19 ? "\n" : "\r");
  }

  // Lines of statements, each ended with a line end.
  void Statements(std::string& out, uint32_t lines) {
    End(out);
    for (uint32_t i = 0; i < lines; ++i) {
      out.append("  ").append(Word()).append(" = ").append(Word()).append(" + ");
      out.append(std::to_string(rng_.Below(1000))).append(" ' ").append(Text(rng_.Below(60)));
      End(out);
    }
  }

  void Script(std::string& out, uint32_t lines) {
    End(out);
    out.append("function check_").append(Word()).append("(form) {");
    End(out);
    for (uint32_t i = 0; i < lines; ++i) {
      out.append("  if (form.").append(Word()).append(".value < ");
      out.append(std::to_string(rng_.Below(1000))).append(") return false; // ");
      out.append(Text(rng_.Below(60)));
      End(out);
    }
    out.append("  return true;\n}");
    End(out);
  }

  Rng& rng_;
  std::string text_;
};

}  // namespace

int64_t ParseSize(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || n < 0) return -1;
  std::string_view suffix(end);
  int shift = 0;
  if (suffix == "K" || suffix == "k") {
    shift = 10;
  } else if (suffix == "M" || suffix == "m") {
    shift = 20;
  } else if (suffix == "G" || suffix == "g") {
    shift = 30;
  } else if (!suffix.empty()) {
    return -1;
  }
  if (n > (INT64_MAX >> shift)) return -1;
  return static_cast<int64_t>(n) << shift;
}

bool GenerateInput(const std::string& path, int64_t size) {
  static constexpr std::string_view kAlphabet =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ,.;:-'\"()";
  static constexpr std::array<std::string_view, 4> kEnds = {"\r\n", "\n", "\r", "\n\r"};
  Rng rng(0x564F4B42454E4348ULL ^ static_cast<uint64_t>(size));

  // Line text is cut from a block of random characters at random offsets.
  constexpr size_t kTextBlock = 1 << 16;
  constexpr size_t kLongestLine = 8192;
  const std::string text = RandomBlock(rng, kAlphabet, kTextBlock + kLongestLine);

  Output out(path, size);
  std::string& buffer = out.buffer();
  while (out.total() < size && out.ok()) {
    // One line in 200 is 2 to 8 KB long; the rest are 0 to 200 bytes.
    size_t length = rng.Below(200) == 0 ? 2048 + rng.Below(kLongestLine - 2048) : rng.Below(201);
    buffer.append(text, rng.Below(kTextBlock), length);
    buffer.append(kEnds[rng.Below(kEnds.size())]);
    out.Flush();
  }
  return out.Finish();
}

namespace {

// Text of 8 to 512 KB (or now and then none) between groups of 4 to 512 KB;
// dense: text of up to 4 KB between groups of 16 to 300 KB.
bool WriteRtf(const std::string& path, int64_t size, bool dense) {
  Rng rng((dense ? 0x564F4B44454E5352ULL : 0x564F4B5254464243ULL) ^ static_cast<uint64_t>(size));
  RtfParts parts(rng);
  Output out(path, size);
  std::string& buffer = out.buffer();
  buffer.append(RtfParts::kHeader);
  // Everything up to here is text and groups; the closing brace follows.
  const int64_t body_end = size - static_cast<int64_t>(RtfParts::kClosing.size());
  std::string paragraph;
  while (out.ok()) {
    // Text of 8 to 512 KB, or now and then none, so that groups are adjacent.
    const int64_t text = dense               ? rng.Below(4 << 10)
                         : rng.Below(8) == 0 ? 0
                                             : (8 << 10) + rng.Below(504 << 10);
    const int64_t text_end = std::min(out.total() + text, body_end);
    while (true) {
      paragraph.clear();
      parts.Paragraph(paragraph);
      if (out.total() + static_cast<int64_t>(paragraph.size()) > text_end) break;
      buffer.append(paragraph);
      out.Flush();
    }
    // A group of 4 to 512 KB; one in four is an object.
    const int64_t left = body_end - out.total();
    const int64_t wanted =
        dense ? (16 << 10) + rng.Below(284 << 10) : (4 << 10) + rng.Below(508 << 10);
    const size_t group = static_cast<size_t>(std::min<int64_t>(wanted, left));
    if (left < 0 || group < RtfParts::kSmallestGroup) break;
    if (rng.Below(4) == 0) {
      parts.Object(buffer, group);
    } else {
      parts.Picture(buffer, group);
    }
    out.Flush();
  }
  if (out.total() < body_end) parts.Filler(buffer, static_cast<size_t>(body_end - out.total()));
  buffer.append(RtfParts::kClosing);
  return out.Finish();
}

}  // namespace

bool GenerateRtf(const std::string& path, int64_t size) { return WriteRtf(path, size, false); }
bool GenerateDenseRtf(const std::string& path, int64_t size) { return WriteRtf(path, size, true); }

bool GenerateAsp(const std::string& path, int64_t size, int64_t blocks) {
  static constexpr std::string_view kClosing = "</body>\r\n</html>\r\n";
  Rng rng(0x564F4B4153504247ULL ^ static_cast<uint64_t>(size) ^ static_cast<uint64_t>(blocks));
  AspParts parts(rng);
  Output out(path, size);
  std::string& buffer = out.buffer();
  buffer.append(AspParts::kHeader);
  const int64_t body_end = size - static_cast<int64_t>(kClosing.size());
  std::string block;
  for (int64_t i = 0; i < blocks && out.ok(); ++i) {
    // Text up to the block's even share of the page, then the block.
    const int64_t at = body_end * (i + 1) / (blocks + 1);
    while (out.total() < at) {
      parts.TextLine(buffer);
      out.Flush();
    }
    block.clear();
    parts.Block(block);
    if (out.total() + static_cast<int64_t>(block.size()) > body_end) break;
    buffer.append(block);
    out.Flush();
  }
  // Text up to the closing tags; the last line is cut to fit.
  while (out.total() < body_end && out.ok()) {
    block.clear();
    parts.TextLine(block);
    buffer.append(block, 0, std::min<size_t>(block.size(), body_end - out.total()));
    out.Flush();
  }
  buffer.append(kClosing);
  return out.Finish();
}

bool ReversePlaceholders(const std::string& from, const std::string& to, int64_t* count) {
  static constexpr std::string_view kOpen = "<!-- ASP2HTML ";
  static constexpr std::string_view kClose = " -->";
  std::string text;
  {
    FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) {
      std::fprintf(stderr, "%s: %s\n", from.c_str(), std::strerror(errno));
      return false;
    }
    std::vector<char> chunk(1 << 20);
    for (size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0;) {
      text.append(chunk.data(), n);
    }
    std::fclose(in);
  }
  // Where each placeholder's number stands, and the largest number.
  std::vector<std::pair<size_t, size_t>> numbers;
  int64_t largest = 0;
  for (size_t at = text.find(kOpen); at != std::string::npos; at = text.find(kOpen, at + 1)) {
    const size_t digits = at + kOpen.size();
    size_t end = digits;
    while (end < text.size() && end - digits < 18 && text[end] >= '0' && text[end] <= '9') ++end;
    if (end == digits || text.compare(end, kClose.size(), kClose) != 0) continue;
    numbers.emplace_back(digits, end);
    largest = std::max<int64_t>(largest, std::stoll(text.substr(digits, end - digits)));
  }
  Output out(to, INT64_MAX);
  size_t copied = 0;
  for (const auto& [digits, end] : numbers) {
    out.buffer().append(text, copied, digits - copied);
    const int64_t n = std::stoll(text.substr(digits, end - digits));
    out.buffer().append(std::to_string(largest + 1 - n));
    copied = end;
    out.Flush();
  }
  out.buffer().append(text, copied);
  if (count != nullptr) *count = static_cast<int64_t>(numbers.size());
  return out.Finish();
}

int64_t AspBlocksFor(int64_t size) { return std::max<int64_t>(1, size * 100000 / (128LL << 20)); }

const Input& BenchInput() {
  static const Input input =
      ResolveInput({"VOK_BENCH_FILE", 256LL << 20, nullptr, "voktools_bench_lines_", ".txt",
                    "lines", &GenerateInput});
  return input;
}

const Input& AspBenchInput() {
  static const Input input =
      ResolveInput({"VOK_BENCH_ASP", 128LL << 20, "VOK_ASP_BENCH_SIZE", "voktools_bench_page_",
                    ".asp", "server page", [](const std::string& path, int64_t size) {
                      return GenerateAsp(path, size, AspBlocksFor(size));
                    }});
  return input;
}

const Input& RtfBenchInput() {
  static const Input input = ResolveInput(
      {"VOK_BENCH_RTF", 64LL << 20, nullptr, "voktools_bench_rtf_", ".rtf", "RTF", &GenerateRtf});
  return input;
}

const Input& MifBenchInput() {
  static const Input input = ResolveInput({"VOK_BENCH_MIF", 256LL << 20, "VOK_MIF_BENCH_SIZE",
                                           "voktools_bench_mif_", ".mif", "MIF", &GenerateMif});
  return input;
}

const Input& HtmlBenchInput() {
  static const Input input = ResolveInput({"VOK_BENCH_HTML", 64LL << 20, "VOK_HTML_BENCH_SIZE",
                                           "voktools_bench_html_", ".htm", "HTML", &GenerateHtml});
  return input;
}

namespace {
std::string& Scratch() {
  static std::string folder;
  return folder;
}
}  // namespace

const std::string& ScratchFolder() {
  std::string& folder = Scratch();
  if (folder.empty()) {
    std::string pattern = TempFolder() + "voktools_bench_XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) folder = pattern + "/";
  }
  return folder;
}

void RemoveScratchFolder() {
  std::string& folder = Scratch();
  if (folder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  folder.clear();
}

}  // namespace vok::bench
