// Office applications driven late-bound, as automation clients drive them.
//
// Each way of reaching an application gives a Dispatch object whose members
// are called by name (Variant arguments, failures as AutomationError):
//   application: Visible (let), Documents / Presentations / Workbooks (get:
//                an object with Open), Version (get), Quit(SaveChanges),
//                Run(MacroName) (presentations and workbooks)
//   Documents.Open(FileName, ConfirmConversions, ReadOnly, AddToRecentFiles)
//   Presentations.Open(FileName, ReadOnly, Untitled, WithWindow)
//   Workbooks.Open(FileName, UpdateLinks, ReadOnly)
//                each gives a document
//   document:    Application (get), SaveAs(FileName, FileFormat), Save,
//                Saved (get, let), Close(SaveChanges)
// Class names are this platform's: "Word.Application" and the other
// applications' classes.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "voktools/variant.h"

namespace vok {

class OfficeAutomation {
 public:
  virtual ~OfficeAutomation() = default;
  // The instance of class_name that this user already runs; ENOENT when
  // none runs.
  virtual Status GetRunning(std::string_view class_name, ObjectRef* application) = 0;
  // A new instance of class_name; ENOENT (with what to install) when the
  // application is not on this machine.
  virtual Status Create(std::string_view class_name, ObjectRef* application) = 0;
  // The document object for a file, opened by the application that handles
  // its kind, in a new instance.
  virtual Status GetFileObject(const std::string& path, ObjectRef* document) = 0;
  // How long one call may take before the instance is given up.
  virtual std::chrono::milliseconds TimeLimit() const { return std::chrono::seconds(120); }
};

// The platform without office applications: every way fails, saying so.
class NoOfficeAutomation : public OfficeAutomation {
 public:
  Status GetRunning(std::string_view, ObjectRef*) override { return Missing(); }
  Status Create(std::string_view, ObjectRef*) override { return Missing(); }
  Status GetFileObject(const std::string&, ObjectRef*) override { return Missing(); }

 private:
  static Status Missing() {
    return Status::Error(2, "No office suite is available to this build");
  }
};

}  // namespace vok
