#include "rtf_command.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "file_guard.h"
#include "voktools/common.h"
#include "voktools/rtf_util.h"

namespace vok::cli {

namespace {

enum class Operation { kExtract, kInsert };

// The object file the class would derive, set explicitly, so that the
// guard checks the very file the class writes.
std::string ObjFileFor(const std::string& rtf, const RtfOptions& options) {
  if (!options.obj_file.empty() || rtf.empty()) return options.obj_file;
  clsRTFUtil util;
  util.RTFFile(rtf);
  return util.DefaultObjFile();
}

// What failed and why: the text after "RTF: ".
std::string Outcome(Operation op, int32_t result, const std::string& rtf, const clsRTFUtil& util) {
  const std::string& obj = util.ObjFile();
  auto because = [](const std::string& why) { return why.empty() ? why : ": " + why; };
  constexpr const char* kLeftOut =
      "a placeholder had no object in the object file (its placeholder was left out)";
  std::string text;
  switch (result) {
    case clsRTFUtil::kOK:
      text = op == Operation::kExtract ? "extracted, objects in " + obj : "inserted from " + obj;
      break;
    case clsRTFUtil::kNoFileName:
      text = "no RTF file name given";
      break;
    case clsRTFUtil::kNoSuchFile:
      text = "RTF file does not exist";
      break;
    case clsRTFUtil::kCannotOpenRTF:
      text = "RTF file cannot be read" + because(WhyUnreadable(rtf));
      break;
    case clsRTFUtil::kCannotOpenObj:
      if (op == Operation::kInsert) {
        text = "object file " + obj + " cannot be opened" + because(WhyUnreadable(obj));
      } else if (SameFile(obj, rtf)) {
        text = "object file " + obj + " cannot be written: it is the RTF file itself";
      } else {
        text = "object file " + obj + " cannot be written" + because(WhyNoFileBeside(obj));
      }
      break;
    case clsRTFUtil::kCannotOpenTemp:
      text = "no scratch file can be created beside it" + because(WhyNoFileBeside(rtf)) +
             "; the RTF file is unchanged";
      break;
    case clsRTFUtil::kObjectMissing:
      text = "inserted from " + obj + ", but " + kLeftOut;
      break;
    case clsRTFUtil::kReadWriteFailed:
      text = "a read or write failed" + because(util.LastFailureMessage()) +
             "; the RTF file is unchanged";
      break;
    default:
      text = "failed with result " + std::to_string(result);
      break;
  }
  if (util.LastMoveResult() != 0) {
    // The RTF file is as it was.
    std::string why = util.LastMoveMessage();
    for (size_t p; (p = why.find("\r\n")) != std::string::npos;) why.replace(p, 2, ": ");
    text = "the RTF file could not be replaced, and is unchanged: " + why;
    if (result == clsRTFUtil::kObjectMissing) text += std::string("; ") + kLeftOut;
  }
  return text;
}

// Whether the first bytes of a file look like RTF: "{\rtf", after a UTF-8
// byte order mark and white space if any.
bool LooksLikeRtf(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  const size_t text = head.find_first_not_of(" \t\r\n");
  return text != std::string_view::npos && head.substr(text).starts_with("{\\rtf");
}

// One warning per placeholder or object the insertion could not match.
void WarnMismatches(const std::string& rtf, const clsRTFUtil& util, FileReport& report) {
  const clsRTFUtil::Mismatches& m = util.InsertionMismatches();
  const std::string& obj = util.ObjFile();
  for (const std::string& n : m.missing) {
    report.warnings.push_back(rtf + ": placeholder " + n + " has no object in " + obj +
                              "; it was left out");
  }
  for (const std::string& n : m.repeated) {
    report.warnings.push_back(rtf + ": placeholder " + n +
                              " stands more than once; its object is in the document each time");
  }
  for (const std::string& n : m.unused) {
    report.warnings.push_back(rtf + ": object " + n + " of " + obj +
                              " has no placeholder; it is lost from the document");
  }
}

// Why obj may not be written for rtf, if it may not.
std::optional<std::string> RefuseObjFile(const std::string& rtf, const std::string& obj,
                                         const RtfOptions& options, const RunOutputs& outputs) {
  std::optional<Refusal> refusal = RefuseOutput(
      obj, {.force = options.force, .foreign = ObjectKind::kMif, .what = "object file"}, outputs);
  if (!refusal) return std::nullopt;
  if (refusal->exists && ScanForPlaceholders(rtf) == PlaceholderScan::kFound) {
    return "object file " + obj + " holds the only copy of the objects of the placeholders in " +
           rtf + "; not replaced (--force replaces it)";
  }
  return refusal->message;
}

FileReport Process(Operation op, const std::string& rtf, const RtfOptions& options,
                   Reporter& reporter, RunOutputs& outputs) {
  FileReport report;
  const std::string obj = ObjFileFor(rtf, options);
  report.files = {{"RTFFile", rtf}, {"ObjFile", obj}};
  reporter.Begin(rtf);

  if (std::optional<std::string> why = NotRegularInput(rtf)) {
    report.result = clsRTFUtil::kCannotOpenRTF;
    report.errors = {rtf + ": RTF file cannot be read: " + *why};
    return report;
  }
  if (op == Operation::kInsert && !obj.empty()) {
    if (std::optional<std::string> why = NotRegularInput(obj)) {
      report.result = clsRTFUtil::kCannotOpenObj;
      report.errors = {rtf + ": object file " + obj + " cannot be opened: " + *why};
      return report;
    }
  }
  if (op == Operation::kExtract && !obj.empty()) {
    if (std::optional<std::string> why = RefuseObjFile(rtf, obj, options, outputs)) {
      report.result = kExitCantCreate;
      report.refusals = {std::move(*why)};
      return report;
    }
  }

  if (std::optional<std::string> head = FileHead(rtf, 1024); head && !LooksLikeRtf(*head)) {
    reporter.Warn(rtf +
                  ": not an RTF file (it does not begin with {\\rtf); processed all the same");
  }

  clsRTFUtil util;
  util.RTFFile(rtf);
  util.ObjFile(obj);
  util.Progress().Connect([&reporter](int16_t percent) { reporter.Progress(percent); });
  const int32_t result = op == Operation::kExtract ? util.ExtractObjects() : util.InsertObjects();
  if (op == Operation::kExtract) outputs.Claim(obj, rtf);
  report.result = util.LastMoveResult() != 0 ? kRtfNotReplaced : result;
  // A failure's reason is its error; a success has a summary line.
  (report.result == 0 ? report.summary : report.errors.emplace_back()) =
      rtf + ": " + Outcome(op, result, rtf, util);
  if (op == Operation::kInsert && util.LastMoveResult() == 0 &&
      (result == clsRTFUtil::kOK || result == clsRTFUtil::kObjectMissing)) {
    WarnMismatches(rtf, util, report);
  }
  return report;
}

int Run(Operation op, const RtfOptions& options, Reporter& reporter) {
  RunOutputs outputs;
  return reporter.ReportEach(options.files, [&](const std::string& rtf) {
    return Process(op, rtf, options, reporter, outputs);
  });
}

}  // namespace

PlaceholderScan ScanForPlaceholders(const std::string& path, size_t chunk) {
  clsRTFUtil util;
  util.RTFFile(path);
  return util.ScanForPlaceholders(static_cast<int32_t>(std::min<size_t>(chunk, 1 << 30)));
}

int RunRtfExtract(const RtfOptions& options, Reporter& reporter) {
  return Run(Operation::kExtract, options, reporter);
}

int RunRtfInsert(const RtfOptions& options, Reporter& reporter) {
  return Run(Operation::kInsert, options, reporter);
}

}  // namespace vok::cli
