// voktools_bench [benchmark options]
// voktools_bench --generate PATH SIZE       writes the benchmarks' file of lines
// voktools_bench --generate-rtf PATH SIZE   writes the benchmarks' RTF document
// voktools_bench --generate-asp PATH SIZE [BLOCKS]
//                                           writes the benchmarks' server page
// voktools_bench --generate-dense-rtf PATH SIZE
//                                           the RTF document, almost all hex data
// voktools_bench --generate-dense-asp PATH SIZE   a server page, a block per
//                                           100 bytes; --generate-line-asp:
//                                           the same on one line
// voktools_bench --generate-dense-html PATH SIZE  an HTML page, a tag per 10
//                                           to 15 bytes; --generate-line-html:
//                                           on one line; --generate-clean-line-html:
//                                           on one line with nothing to repair
// voktools_bench --generate-mif PATH SIZE   writes the benchmarks' MIF document
// voktools_bench --generate-html PATH SIZE  writes the benchmarks' HTML page
// voktools_bench --generate-mif-full PATH   writes a MIF file that fills every
//                                           table of an extraction
// voktools_bench --expect-mif-insets MIF OUT
//                                           writes what removing and inserting
//                                           MIF's insets gives
// voktools_bench --reverse-placeholders HTM OUT
//                                           numbers HTM's placeholders backwards
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include "bench_input.h"

int main(int argc, char** argv) {
  if (argc >= 2) {
    using Generator = bool (*)(const std::string&, int64_t);
    using vok::bench::GenerateDenseAsp;
    using vok::bench::GenerateDenseHtml;
    static const std::map<std::string_view, Generator> kGenerators = {
        {"--generate", &vok::bench::GenerateInput},
        {"--generate-rtf", &vok::bench::GenerateRtf},
        {"--generate-dense-rtf", &vok::bench::GenerateDenseRtf},
        {"--generate-mif", &vok::bench::GenerateMif},
        {"--generate-html", &vok::bench::GenerateHtml},
        {"--generate-dense-asp", [](const std::string& p, int64_t n) { return GenerateDenseAsp(p, n, false); }},
        {"--generate-line-asp", [](const std::string& p, int64_t n) { return GenerateDenseAsp(p, n, true); }},
        {"--generate-dense-html", [](const std::string& p, int64_t n) { return GenerateDenseHtml(p, n, false, false); }},
        {"--generate-line-html", [](const std::string& p, int64_t n) { return GenerateDenseHtml(p, n, true, false); }},
        {"--generate-clean-line-html", [](const std::string& p, int64_t n) { return GenerateDenseHtml(p, n, true, true); }},
    };
    if (auto generator = kGenerators.find(argv[1]); generator != kGenerators.end()) {
      const int64_t size = argc == 4 ? vok::bench::ParseSize(argv[3]) : -1;
      if (size < 0) {
        std::fprintf(stderr, "usage: %s %s PATH SIZE (bytes, or with K, M or G)\n", argv[0],
                     argv[1]);
        return 2;
      }
      return generator->second(argv[2], size) ? 0 : 1;
    }
  }
  if (argc >= 2 && std::string_view(argv[1]) == "--generate-asp") {
    const int64_t size = argc == 4 || argc == 5 ? vok::bench::ParseSize(argv[3]) : -1;
    const int64_t blocks = argc == 5 ? vok::bench::ParseSize(argv[4])
                                     : vok::bench::AspBlocksFor(std::max<int64_t>(size, 0));
    if (size < 0 || blocks < 0) {
      std::fprintf(stderr,
                   "usage: %s --generate-asp PATH SIZE [BLOCKS] (SIZE in bytes, or with K, M or "
                   "G; BLOCKS by default 100000 per 128M)\n",
                   argv[0]);
      return 2;
    }
    return vok::bench::GenerateAsp(argv[2], size, blocks) ? 0 : 1;
  }
  if (argc >= 2 && std::string_view(argv[1]) == "--generate-mif-full") {
    if (argc != 3) {
      std::fprintf(stderr, "usage: %s --generate-mif-full PATH\n", argv[0]);
      return 2;
    }
    return vok::bench::GenerateMifFull(argv[2]) ? 0 : 1;
  }
  if (argc >= 2 && std::string_view(argv[1]) == "--expect-mif-insets") {
    if (argc != 4) {
      std::fprintf(stderr, "usage: %s --expect-mif-insets MIF OUT\n", argv[0]);
      return 2;
    }
    return vok::bench::ExpectInsetRoundTrip(argv[2], argv[3]) ? 0 : 1;
  }
  if (argc >= 2 && std::string_view(argv[1]) == "--reverse-placeholders") {
    if (argc != 4) {
      std::fprintf(stderr, "usage: %s --reverse-placeholders HTM OUT\n", argv[0]);
      return 2;
    }
    int64_t count = 0;
    if (!vok::bench::ReversePlaceholders(argv[2], argv[3], &count)) return 1;
    std::printf("%lld placeholders\n", static_cast<long long>(count));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  vok::bench::RemoveScratchFolder();
  return 0;
}
