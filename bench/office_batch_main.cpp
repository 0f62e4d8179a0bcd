// voktools_office_batch FORMAT OUTDIR FILE...: converts the files in one
// batch on one office instance, as a converter does (Open, SaveAs, Close,
// then Quit), into OUTDIR with the extension of FORMAT (6: .rtf, 0: .doc).
// Prints the time taken and the peak memory of this process.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/libreoffice_automation.h"
#include "voktools/automation_error.h"
#include "voktools/dispatch.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: voktools_office_batch FORMAT OUTDIR FILE...\n");
    return 64;
  }
  const auto format = static_cast<int16_t>(std::stoi(argv[1]));
  const std::string extension = format == 6 ? ".rtf" : ".doc";
  const auto started = std::chrono::steady_clock::now();
  vok::LibreOfficeAutomation office(vok::OfficeSettings::FromEnvironment());
  vok::ObjectRef application;
  if (const vok::Status s = office.Create("Word.Application", &application); !s.ok()) {
    std::fprintf(stderr, "%s\n", s.message().c_str());
    return 1;
  }
  int failed = 0;
  for (int i = 3; i < argc; ++i) {
    const std::filesystem::path source = argv[i];
    try {
      application->Let("Visible", true);
      vok::ObjectRef document = application->Get("Documents")
                                    .ToObject()
                                    ->Call("Open", {source.string(), false, true, false})
                                    .ToObject();
      document->Call("SaveAs",
                     {(std::filesystem::path(argv[2]) / source.stem()).string() + extension, format});
      document->Call("Close", {int16_t{0}});
    } catch (const vok::AutomationError& e) {
      std::fprintf(stderr, "%s: %s\n", argv[i], e.description().c_str());
      ++failed;
    }
  }
  application->Call("Quit", {int16_t{0}});
  // This process alone: the instance is a process of its own.
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%d files in %.2f s, peak %ld KB\n", argc - 3,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
              usage.ru_maxrss);
  return failed == 0 ? 0 : 1;
}
