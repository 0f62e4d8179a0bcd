// voktools: the library's command line.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <exception>
#include <iostream>
#include <limits>
#include <string>

#include "invoke_host.h"
#include "lines_command.h"
#include "report.h"
#include "voktools/version.h"

namespace {

constexpr const char* kInvokeHelp =
    R"(Protocol: one JSON request per line on standard input, one JSON response
per line on standard output.

  {"id":1,"create":"VOKTools.clsCommon"}       -> {"id":1,"ok":true,"object":1}
  {"id":2,"create":"Collection"}               an empty Collection to pass to members
  {"id":3,"object":1,"call":"strParseFileName","args":["C:\\dir\\file.txt",0]}
                                               -> {"id":3,"ok":true,"result":"C:\\dir\\"}
  {"id":4,"object":1,"get":"Name","args":[..]} property get ("args" optional)
  {"id":5,"object":1,"let":"Name","value":..}  property let
  {"id":6,"object":1,"release":true}           drop the object

"create" takes a programmatic name or a class id. Object numbers count from 1;
the same object always has the same number. Members with output parameters
also answer "byref":{"<parameter>":value}.

Arguments: integers (Long; Double beyond Long's range), other numbers, true and
false, strings, null (an omitted optional argument), arrays of strings,
{"bytes":[0,255]}, {"object":N} and {"object":null} (Nothing).
Results: null (Empty), numbers, booleans, strings, arrays of strings,
{"bytes":[..]}, {"object":N,"class":"clsX"} with "items":[..] for a Collection,
{"object":null}.

Texts are bytes: a text that is valid UTF-8 is a JSON string; any other text
is written and read as {"hex":"68ff"}, two hex digits per byte.

Events are written as they are raised, before the response of the call:
  {"event":"Progress","object":3,"args":[42]}
Failures: {"id":..,"ok":false,"error":{"number":52,"description":".."}}; 424 for
an unknown object number, 5 for a malformed request (id null when unreadable),
51 for an internal error. Blank lines are skipped; end of input exits with 0.)";

constexpr const char* kReportHelp =
    R"(Output: per file, a summary line and its errors, one per line; with --json
one JSON object per file: {"result":N,"errors":[..],"files":{"Filename":..,
"Output":..},"stats":{..}}. A progress bar is drawn on standard error when it
is a terminal, unless --quiet.
Exit status: 0 when every file succeeded, otherwise the largest result (at
most 63); 64 for a usage error, 70 for an unexpected failure.)";

int Run(int argc, char** argv) {
  CLI::App app{"Prepares documents for translation.", "voktools"};
  app.set_version_flag("--version", std::string("voktools ") + vok::kVersion);
  app.require_subcommand(1);

  CLI::App* invoke = app.add_subcommand(
      "invoke", "Automation host: creates objects and calls their members as JSON Lines say");
  invoke->footer(kInvokeHelp);

  vok::cli::LinesOptions lines_options;
  vok::cli::ReportOptions report_options;
  CLI::App* lines = app.add_subcommand(
      "lines", "Reads files line by line; reports line ends and copies them with --out");
  lines->add_option("FILE", lines_options.files, "Files to read")->required();
  lines->add_option("--out", lines_options.out_dir, "Copy each file, line by line, into DIR")
      ->type_name("DIR")
      ->check(CLI::Validator(CLI::ExistingDirectory).description(""));
  lines->add_option("--chunk", lines_options.chunk, "Bytes read at a time (at least 1)")
      ->type_name("N")
      ->check(CLI::Range(1, std::numeric_limits<int32_t>::max()).description(""))
      ->capture_default_str();
  lines->add_flag("--json", report_options.json, "One JSON object per file");
  lines->add_flag("-q,--quiet", report_options.quiet, "No progress bar");
  lines->footer(kReportHelp);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version exit with 0; every parse failure is a usage error.
    return app.exit(e) == 0 ? 0 : vok::cli::kExitUsage;
  }

  if (*invoke) {
    vok::cli::InvokeHost host(std::cin, std::cout);
    host.Run();
    return 0;
  }
  vok::cli::Reporter reporter(report_options, std::cout, std::cerr, vok::cli::StderrIsTerminal());
  return vok::cli::RunLines(lines_options, reporter);
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "voktools: unexpected failure: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "voktools: unexpected failure\n";
  }
  return vok::cli::kExitSoftware;
}
