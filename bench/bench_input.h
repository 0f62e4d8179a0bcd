// The benchmarks' inputs: a large text file with mixed line ends, an RTF
// document full of pictures, a server page, MIF files, an HTML page, and a
// scratch folder for the files the benchmarks create.
#pragma once

#include <cstdint>
#include <string>

namespace vok::bench {

// Writes size bytes of text lines to path: lines of 0 to 200 bytes with the
// odd line of a few KB, ended by CR LF, LF, CR or LF CR at random. The same
// size always gives the same bytes. False (with a message on stderr) on
// failure.
bool GenerateInput(const std::string& path, int64_t size);

// Writes an RTF document of exactly size bytes to path: a header, then
// paragraphs of text alternating with picture groups ("{\pict ...}", hex data
// in lines of 128 digits) and the odd embedded object ("{\object ...}" whose
// "{\result ...}" holds another picture), so that about half of the bytes are
// hex data. Deterministic like GenerateInput.
bool GenerateRtf(const std::string& path, int64_t size);
// The same with groups of 16 to 300 KB a few KB of text apart, so that
// almost all of the document is hex data in lines of 128 digits: several
// hundred groups in 64 MB.
bool GenerateDenseRtf(const std::string& path, int64_t size);

// Writes a server page of exactly size bytes to path: lines of text and
// markup with blocks server blocks spread evenly among them (as many as fit).
// The blocks: "<%= .. %>" within a line, "<% .. %>" statements on lines of
// their own, some running over many lines, blocks inside tags (in a quoted
// value, unquoted after "=", and standing alone among the attributes), and
// script elements of several lines. Line ends are CR LF, LF and the odd CR.
// Deterministic like GenerateInput.
bool GenerateAsp(const std::string& path, int64_t size, int64_t blocks);

// Copies the HTML file from to to with the numbers of its placeholders
// "<!-- ASP2HTML n -->" run backwards: n becomes N + 1 - n, N the largest.
// count, when given, receives the number of placeholders. False (with a
// message on stderr) on failure.
bool ReversePlaceholders(const std::string& from, const std::string& to, int64_t* count);

// Writes a server page of exactly size bytes to path with a block about
// every 100 bytes: "<%=x%>" in quoted and unquoted attributes and cells,
// "<option <%=s%>>", "<% .. %>" over several lines holding ">" and
// "\"<b>\"", conditions around text, client scripts holding "<p>" in strings,
// comments holding "<% %>". With one_line, blanks stand for every line end.
bool GenerateDenseAsp(const std::string& path, int64_t size, bool one_line);

// Writes an HTML page of exactly size bytes to path with a tag every 10 to
// 15 bytes: table rows of cells with FONT, B and I closed in the wrong
// order, nested P, short comments over two lines, anchors, stray "<" and
// ">" in text. A clean page has none of what the validator repairs; with
// one_line, blanks stand for every line end.
bool GenerateDenseHtml(const std::string& path, int64_t size, bool one_line, bool clean);

// How many blocks the benchmarks put into a page of size bytes: 100 000 for
// 128 MB, in proportion otherwise, at least 1.
int64_t AspBlocksFor(int64_t size);

// What the MIF document of size bytes holds: "<Pgf " statements, index
// markers (whose texts repeat over index_texts distinct ones) and insets;
// 400 000, 200 000 (20 000 distinct) and 2 000 for 256 MB, in proportion
// otherwise.
struct MifCounts {
  int64_t pgf = 0;
  int64_t index_markers = 0;
  int64_t index_texts = 0;
  int64_t insets = 0;
};
MifCounts MifCountsFor(int64_t size);

// Writes a MIF document of exactly size bytes to path: a paragraph catalogue
// (some formats with autonumbers), 500 variables, 500 cross-reference
// formats, then frames with insets (lines from "=FrameImage" to "=EndInset",
// ended by LF or CR LF) and text flows of paragraphs, each with a format
// override, with strings that hold brackets, "# end of" comments, index
// markers whose texts hold ";" and ":", and markers of other kinds. The
// counts are MifCountsFor(size); the insets take up what the paragraphs
// leave. Below about 1 MB the file is cut off at size. Deterministic like
// GenerateInput.
bool GenerateMif(const std::string& path, int64_t size);

// Writes a MIF file whose extraction fills each table with exactly 32768
// distinct entries, whatever the split options: 32768 index texts (each
// twice, without ";" or ":"), 32768 cross-reference formats, and 16384
// variables beside 16384 paragraph formats with autonumbers.
bool GenerateMifFull(const std::string& path);

// Writes to `to` what removing the insets of the MIF file `from` and
// inserting them again gives: each line that ends an inset ("=EndInset"
// and whatever follows on it) becomes "=EndInset" CR LF, and one more CR LF
// line follows it. For files whose lines end in LF or CR LF and whose
// insets all end. False (with a message on stderr) on failure.
bool ExpectInsetRoundTrip(const std::string& from, const std::string& to);

// Writes an HTML page of exactly size bytes to path: documents of 256 KB to
// 1 MB joined by "<!--HTMLGlue-->" lines, one in four left with a comment
// open before its glue line and one in four with recognised tags open.
// Their blocks: tables, divs and lists nested 8 to 48 levels deep with
// FONT and SPAN inside each level and B, I, EM and the like where none is
// open; paragraphs; link tables whose quoted values hold ">"; comments of 4
// to 64 KB over many lines; scripts inside comments; preformatted text; and
// one block in a hundred a line of 100 to 400 KB (text, or a picture whose
// data stands in its tag). A few inline tags close in the wrong order, and
// text holds the odd stray "<" or ">". Line ends are mostly CR LF, then LF,
// the odd CR and LF CR. Deterministic like GenerateInput.
bool GenerateHtml(const std::string& path, int64_t size);

// "268435456", "256M", "64K", "1G": the size in bytes, or -1.
int64_t ParseSize(const std::string& text);

struct Input {
  std::string path;  // empty when no input could be had
  int64_t size = 0;
  std::string error;
};

// $VOK_BENCH_FILE when set, otherwise a file of $VOK_BENCH_SIZE bytes
// (default 256M) generated in $TMPDIR (or /tmp) on first use and kept there
// for later runs. Resolved once per process.
const Input& BenchInput();

// $VOK_BENCH_RTF when set, otherwise an RTF document of $VOK_BENCH_SIZE bytes
// (default 64M) generated and kept like BenchInput's file.
const Input& RtfBenchInput();

// $VOK_BENCH_ASP when set, otherwise a page of $VOK_ASP_BENCH_SIZE bytes
// (default 128M) with AspBlocksFor(size) blocks, generated and kept like
// BenchInput's file.
const Input& AspBenchInput();

// $VOK_BENCH_MIF when set, otherwise a MIF document of $VOK_MIF_BENCH_SIZE
// bytes (then $VOK_BENCH_SIZE, default 256M) generated and kept like
// BenchInput's file.
const Input& MifBenchInput();

// $VOK_BENCH_HTML when set, otherwise a page of $VOK_HTML_BENCH_SIZE bytes
// (then $VOK_BENCH_SIZE, default 64M) generated and kept like BenchInput's
// file.
const Input& HtmlBenchInput();

// A fresh folder in $TMPDIR (or /tmp), ending in '/', made on first use.
// Empty when it cannot be made.
const std::string& ScratchFolder();
// Deletes the scratch folder and everything in it.
void RemoveScratchFolder();

}  // namespace vok::bench
