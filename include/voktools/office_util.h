// clsPPTUtil and clsXLSUtil: export the text of a presentation or a workbook
// to an XML file for translation, and import the translated file back, by
// running the macros of an add-in document ("quon.ppt", "quon.xls", beside
// the library file) in the presentation or spreadsheet application, driven
// late-bound through the office automation platform.
//
// The object connects to the application when it is created (a running
// instance, else a new one, else the add-in opened by file) and keeps the
// connection, with the add-in open, until it is destroyed; then the add-in is
// closed, and an instance that the object started is made to quit when its
// frame window is known. A conversion opens the document, creates the marker
// file "<document>.quon", runs the macro and waits until the macro has
// deleted the marker; 0 is success and 1 any failure, and no error escapes.
//
// File names: setting the document sets the XML file to folder + name + "_" +
// extension + ".xml" (deck.ppt: deck_ppt.xml); setting the XML file sets the
// document to folder + name with its fourth character from the end made "."
// (deck_ppt.xml: deck.ppt). The property set last wins.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {

struct Env;
class OfficeCalls;

VOK_PUBLIC_BEGIN

class clsCommon;

// What the two classes share; each fills in its application's names.
class OfficeAddinConverter : public Dispatch {
 public:
  struct Traits {
    std::string_view application_class;  // "PowerPoint.Application"
    std::string_view addin_file;         // "quon.ppt"
    std::string_view collection;         // "Presentations"
    // Open(name, ReadOnly) or, for workbooks, Open(name, <omitted>, ReadOnly).
    bool read_only_is_third;
    // Before the export's macro: save and close the document and open it
    // again (presentations), or only save it (workbooks).
    bool export_reopens;
    std::string_view export_macro;  // "QUON.PPT!ExportPresentation"
    std::string_view import_macro;
    // Frame window classes of versions 8 and 9 of the application.
    std::string_view frame_class_8;
    std::string_view frame_class_9;
  };

  ~OfficeAddinConverter() override;
  OfficeAddinConverter(const OfficeAddinConverter&) = delete;
  OfficeAddinConverter& operator=(const OfficeAddinConverter&) = delete;

  // Not part of the automation interface.
  //
  // Whether the connection's instance was started by this object, and the
  // handle of its frame window (0: unknown).
  bool Started() const { return started_; }
  uint32_t FrameWindow() const { return frame_window_; }
  // Whether the connection found an application at all, and if not, why.
  bool Connected() const { return application_ != nullptr; }
  const std::string& ConnectionFailure() const { return connection_failure_; }
  // Why the connection or the last conversion failed: the first failed
  // call's words (empty after a success).
  const std::string& LastFailureMessage() const { return last_failure_message_; }
  // The add-in document: the library's folder + the add-in's name.
  std::string AddinPath() const;
  // The document and XML file properties and the two conversions, whichever
  // the class calls them (PPTFile, XLS2XML, ..), for hosts that drive both.
  const std::string& document_file() const { return document_file_; }
  const std::string& xml_file() const { return xml_file_; }
  void SetDocumentFile(std::string value);
  // Throws the invalid-argument error when the XML file's folder and name
  // have fewer than four characters; XMLFile has its value by then.
  void SetXMLFile(std::string value);
  int32_t Export();
  int32_t Import();

 protected:
  VOK_LOCAL OfficeAddinConverter(Env& env, const Traits& traits);

 private:

  clsCommon& Common() { return *common_; }
  void Connect();
  uint32_t FindFrameWindow();
  // Opens the document (read_only: nothing for the import's one-argument
  // open) as the working document.
  VOK_LOCAL void OpenWorking(bool with_read_only, OfficeCalls& calls);
  // Creates the marker, runs macro, waits while the marker is there.
  VOK_LOCAL void RunMacro(std::string_view macro, OfficeCalls& calls);
  std::string MarkerFile() const { return document_file_ + ".quon"; }

  Env& env_;
  const Traits& traits_;
  std::unique_ptr<clsCommon> common_;
  std::string document_file_;
  std::string xml_file_;
  bool started_ = false;
  ObjectRef application_;
  ObjectRef working_;
  ObjectRef addin_;
  uint32_t frame_window_ = 0;
  std::string last_failure_message_;
  std::string connection_failure_;
};

class clsPPTUtil : public OfficeAddinConverter {
 public:
  clsPPTUtil();

  const std::string& PPTFile() const { return document_file(); }
  void PPTFile(std::string value) { SetDocumentFile(std::move(value)); }
  const std::string& XMLFile() const { return xml_file(); }
  void XMLFile(std::string value) { SetXMLFile(std::move(value)); }
  int32_t PPT2XML() { return Export(); }
  int32_t XML2PPT() { return Import(); }

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsPPTUtil(Env& env);
};

class clsXLSUtil : public OfficeAddinConverter {
 public:
  clsXLSUtil();

  const std::string& XLSFile() const { return document_file(); }
  void XLSFile(std::string value) { SetDocumentFile(std::move(value)); }
  const std::string& XMLFile() const { return xml_file(); }
  void XMLFile(std::string value) { SetXMLFile(std::move(value)); }
  int32_t XLS2XML() { return Export(); }
  int32_t XML2XLS() { return Import(); }

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsXLSUtil(Env& env);
};

VOK_PUBLIC_END

}  // namespace vok
