#include "addin_command.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "file_guard.h"
#include "voktools/office_util.h"

namespace vok::cli {

namespace {

namespace fs = std::filesystem;

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

struct Names {
  const char* document_property;  // "PPTFile"
  const char* document_kind;      // "presentation"
};

Names NamesOf(AddinOperation op) {
  if (op == AddinOperation::kPptToXml || op == AddinOperation::kXmlToPpt) {
    return {"PPTFile", "presentation"};
  }
  return {"XLSFile", "workbook"};
}

bool Exports(AddinOperation op) {
  return op == AddinOperation::kPptToXml || op == AddinOperation::kXlsToXml;
}

// One connection for the whole run, made when the first document needs it.
class Converter {
 public:
  explicit Converter(AddinOperation op) : op_(op) {}

  OfficeAddinConverter& Get() {
    if (!object_) {
      if (op_ == AddinOperation::kPptToXml || op_ == AddinOperation::kXmlToPpt) {
        object_ = std::make_unique<clsPPTUtil>();
      } else {
        object_ = std::make_unique<clsXLSUtil>();
      }
    }
    return *object_;
  }
  void SetDocument(const std::string& file) { Get().SetDocumentFile(file); }
  const std::string& XmlFile() { return Get().xml_file(); }
  int32_t Convert() { return Exports(op_) ? Get().Export() : Get().Import(); }

 private:
  AddinOperation op_;
  std::unique_ptr<OfficeAddinConverter> object_;
};

FileReport Convert(AddinOperation op, const std::string& file, Converter& converter,
                   const AddinOptions& options, RunOutputs& outputs) {
  const Names names = NamesOf(op);
  const bool exports = Exports(op);
  converter.Get();
  converter.SetDocument(file);
  // The XML file the macros read or write, beside the document; --xml names
  // the one the user sees, moved or copied from there.
  const std::string own_xml = converter.XmlFile();
  const std::string xml = options.xml.empty() ? own_xml : options.xml;
  FileReport report;
  report.files = {{names.document_property, file}, {"XMLFile", xml}};
  auto refuse = [&](std::string message) {
    report.result = kExitCantCreate;
    report.refusals = {file + ": " + std::move(message)};
    return report;
  };
  auto fail = [&](std::string message) {
    report.result = 1;
    report.errors = {file + ": " + std::move(message)};
    return report;
  };

  if (std::optional<std::string> why = NotRegularInput(file)) {
    return fail(std::string(names.document_kind) + " cannot be read: " + *why);
  }
  if (!Exists(file)) return fail(std::string(names.document_kind) + " does not exist");
  const bool side_copy = xml != own_xml && !SameFile(xml, own_xml);
  if (exports) {
    for (const std::string& out : side_copy ? std::vector{xml, own_xml} : std::vector{xml}) {
      if (std::optional<Refusal> refusal =
              RefuseOutput(out, {.force = options.force, .what = "XML file"}, outputs)) {
        return refuse(refusal->message);
      }
    }
  } else {
    if (!Exists(xml)) return fail("the XML file " + xml + " does not exist");
    if (std::optional<std::string> why = NotRegularInput(xml)) {
      return fail("the XML file " + xml + " cannot be read: " + *why);
    }
    std::error_code ec;
    if ((fs::status(file, ec).permissions() & fs::perms::owner_write) == fs::perms::none) {
      return refuse("the " + std::string(names.document_kind) +
                    " is read-only; nothing imported");
    }
    if (side_copy) {
      if (std::optional<Refusal> refusal =
              RefuseOutput(own_xml, {.force = options.force, .what = "XML file"}, outputs)) {
        return refuse(refusal->message);
      }
      fs::copy_file(xml, own_xml, fs::copy_options::overwrite_existing, ec);
      if (ec) return fail("cannot copy " + xml + " to " + own_xml + ": " + ec.message());
    }
  }

  if (!converter.Get().Connected()) {
    return fail("not converted: the office suite could not be reached: " +
                converter.Get().ConnectionFailure());
  }
  report.result = converter.Convert();
  const std::string why = converter.Get().LastFailureMessage();
  std::error_code ec;
  if (!exports && side_copy) fs::remove(own_xml, ec);
  if (report.result != 0) {
    return fail(std::string(exports ? "not exported" : "not imported") +
                (why.empty() ? "" : ": " + why));
  }
  if (exports && side_copy) {
    fs::rename(own_xml, xml, ec);
    if (ec) return fail("exported to " + own_xml + " but not moved to " + xml + ": " + ec.message());
  }
  if (exports) outputs.Claim(xml, file);
  report.summary = file + (exports ? ": exported to " : ": imported from ") + xml;
  return report;
}

}  // namespace

int RunAddinConversion(AddinOperation operation, const AddinOptions& options, Reporter& reporter) {
  RunOutputs outputs;
  Converter converter(operation);
  const size_t n = options.files.size();
  for (size_t i = 0; i < n && !reporter.OutputFailed(); ++i) {
    reporter.Begin(options.files[i]);
    reporter.Progress(static_cast<int>(i * 100 / n));
    reporter.Report(Convert(operation, options.files[i], converter, options, outputs));
  }
  return reporter.ExitStatus();
}

}  // namespace vok::cli
