// A scripted office automation server. Its instances, their Documents
// collections and their documents are Dispatch objects that write every
// call into one transcript, one line each, and fail any call on demand.
//
// Transcript lines (objects by label: "user" for the instance the user
// runs, "app1", "app2", .. for instances started since, "app1.Documents"
// for the Documents collection of app1, "doc1", .. for opened documents):
//   GetRunning(Word.Application)          the three ways of the platform
//   Create(Word.Application)
//   GetFileObject("/d/a.doc")
//   app1.Visible = true                   a property let
//   app1.Documents                        a property get
//   app1.Documents.Open("/d/a.doc", false, true, false)
//   app1.Presentations.Open("/lib/quon.ppt", true)   (and Workbooks)
//   app1.Run("QUON.PPT!ExportPresentation")
//   doc1.SaveAs("/d/a_doc.rtf", 6%)      % marks a 16-bit integer, & a 32-bit one
// A failed call ends in "  ! fails".
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/office_automation.h"

namespace vok::test {

class ScriptedOffice : public OfficeAutomation {
 public:
  ScriptedOffice();
  ~ScriptedOffice() override;

  Status GetRunning(std::string_view class_name, ObjectRef* application) override;
  Status Create(std::string_view class_name, ObjectRef* application) override;
  Status GetFileObject(const std::string& path, ObjectRef* document) override;

  // The user runs an instance of their own ("user"), found by GetRunning
  // before any instance started later.
  void StartUserInstance();
  // Makes the nth call (from 1) of member fail; 0: every call from now on.
  // Members are the objects' ("SaveAs", "Visible", ..) and the three ways
  // ("GetRunning", "Create", "GetFileObject"). A failing Create answers
  // ENOENT, as on a machine without the application.
  ScriptedOffice& Fail(const std::string& member, int nth = 0);
  // Called by every SaveAs that succeeds, with its target and the file of
  // the document; writes nothing unless set.
  std::function<void(const std::string& target, const std::string& source)> on_save;
  // Called by every Run that succeeds, with the macro's name (what the
  // add-in's macro would do: delete the marker file, or not).
  std::function<void(const std::string& macro)> on_run;
  // What the applications answer to Version.
  std::string version = "7.4";
  // The instance labelled label dies: every later call on its objects fails.
  void Kill(const std::string& label);
  // How long a call may take (the wait for a macro gives up after it).
  std::chrono::milliseconds limit{300};
  std::chrono::milliseconds TimeLimit() const override { return limit; }
  // Adds a line of another party (a window system double) to the transcript.
  void Note(const std::string& line) { transcript_.push_back(line); }

  const std::vector<std::string>& transcript() const { return transcript_; }
  // Labels of the instances that run now, in the order they started.
  std::vector<std::string> Running() const;
  // Labels of the documents open now.
  std::vector<std::string> OpenDocuments() const;

  struct Instance;
  struct Document;
  // Records a call and says whether it fails.
  bool Record(const std::string& line, const std::string& member);

 private:
  Instance& Start(const std::string& label);
  Document& NewDocument(Instance& instance, const std::string& file);

  std::vector<std::string> transcript_;
  std::map<std::string, int> calls_;               // by member
  std::map<std::string, std::vector<int>> fails_;  // by member: call numbers, 0 for all
  std::vector<std::unique_ptr<Instance>> instances_;
  std::vector<std::unique_ptr<Document>> documents_;
  int started_ = 0;
  friend class ScriptedObject;
};

}  // namespace vok::test
