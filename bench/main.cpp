// voktools_bench [benchmark options]
// voktools_bench --generate PATH SIZE       writes the benchmarks' file of lines
// voktools_bench --generate-rtf PATH SIZE   writes the benchmarks' RTF document
// voktools_bench --generate-asp PATH SIZE [BLOCKS]
//                                           writes the benchmarks' server page
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
#include <string_view>

#include "bench_input.h"

int main(int argc, char** argv) {
  if (argc >= 2) {
    const std::string_view mode = argv[1];
    if (mode == "--generate" || mode == "--generate-rtf" || mode == "--generate-mif" ||
        mode == "--generate-html") {
      int64_t size = argc == 4 ? vok::bench::ParseSize(argv[3]) : -1;
      if (size < 0) {
        std::fprintf(stderr, "usage: %s %s PATH SIZE (bytes, or with K, M or G)\n", argv[0],
                     argv[1]);
        return 2;
      }
      auto* generate = mode == "--generate"       ? &vok::bench::GenerateInput
                       : mode == "--generate-rtf" ? &vok::bench::GenerateRtf
                       : mode == "--generate-mif" ? &vok::bench::GenerateMif
                                                  : &vok::bench::GenerateHtml;
      return generate(argv[2], size) ? 0 : 1;
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
