// The benchmarks' inputs: a large text file with mixed line ends, an RTF
// document full of pictures, and a scratch folder for the files the
// benchmarks create.
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

// A fresh folder in $TMPDIR (or /tmp), ending in '/', made on first use.
// Empty when it cannot be made.
const std::string& ScratchFolder();
// Deletes the scratch folder and everything in it.
void RemoveScratchFolder();

}  // namespace vok::bench
