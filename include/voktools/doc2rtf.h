// clsDOC2RTF: converts a word-processor document to RTF (DOC2RTF) and an RTF
// file back to a word-processor document (RTF2DOC) by driving the word
// processor ("Word.Application") late-bound through the office automation
// platform. The application does the conversion; this class finds or starts
// an instance, opens the source in it, saves it in the target format, closes
// it and, unless a batch is open, quits the instance it started itself.
//
// Both conversions return 0 on success and 1 on any failure; no error
// escapes them. Default names, when the target is empty:
//   DOC2RTF: folder + name of DOCFile + "_doc.rtf"
//   RTF2DOC: folder + name of RTFFile without a final "_doc" (any case) + ".doc"
// so that a document converted under the default name converts back to its
// own name. An existing target is deleted before the application is asked.
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

class clsDOC2RTF : public Dispatch {
 public:
  // The application's class name on the automation platform.
  static constexpr std::string_view kApplicationClass = "Word.Application";
  // SaveAs file formats.
  static constexpr int16_t kFormatRTF = 6;
  static constexpr int16_t kFormatDocument = 0;

  clsDOC2RTF();
  ~clsDOC2RTF() override;

  const std::string& DOCFile() const { return doc_file_; }
  void DOCFile(std::string value) { doc_file_ = std::move(value); }
  const std::string& RTFFile() const { return rtf_file_; }
  void RTFFile(std::string value) { rtf_file_ = std::move(value); }

  int32_t DOC2RTF();
  int32_t RTF2DOC();
  // Conversions from now on leave the instance they started running, and the
  // next one attaches to it.
  void StartBatch();
  // Quits the instance that this object started, if one runs. A failure of
  // the quit is thrown as the AutomationError of the call.
  void EndBatch();

  // Not part of the automation interface.
  //
  // Why the last conversion gave 1, for hosts that explain it.
  enum class Failure {
    kNone,           // it succeeded, or no conversion ran yet
    kNoSource,       // the source name is empty or the file does not exist
    kNoApplication,  // no instance running, none could be started, the
                     // source could not be opened by file either
    kNotOpened,      // an instance was found, but showing it or opening the
                     // source in it failed
    kNotSaved,       // the source was open, saving it as the target failed
  };
  Failure LastFailure() const { return last_failure_; }
  // The platform's or the application's words for the failure that decided
  // the result (for kNoApplication: why no instance could be started).
  const std::string& LastFailureMessage() const { return last_failure_message_; }
  // Whether the last conversion found no application because none is
  // installed on this machine: starting an instance answered so.
  bool ApplicationMissing() const { return application_missing_; }
  // Whether an instance that this object started is running, and whether
  // conversions quit it (false between StartBatch and EndBatch).
  bool Started() const { return started_; }
  bool QuitsAfterConversion() const { return quit_; }
  // The targets the conversions take when theirs is empty.
  std::string DefaultRTFFile();
  std::string DefaultDOCFile();

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsDOC2RTF(Env& env);

  enum class Direction { kToRTF, kToDocument };

  clsCommon& Common();
  int32_t Convert(Direction direction);
  int32_t ConvertOrThrow(Direction direction);
  // Finds the application in the three ways, in order, and opens source in
  // it; every failure is left in calls.
  VOK_LOCAL void OpenInApplication(const std::string& source, OfficeCalls& calls);
  // Quits the instance this object started, without saving changes, and
  // forgets it; the quit's failure is thrown.
  void QuitStarted();

  Env& env_;
  std::string doc_file_;
  std::string rtf_file_;
  std::unique_ptr<clsCommon> common_;
  ObjectRef application_;
  ObjectRef document_;
  bool started_ = false;
  bool quit_ = true;
  Failure last_failure_ = Failure::kNone;
  std::string last_failure_message_;
  bool application_missing_ = false;
};

VOK_PUBLIC_END

}  // namespace vok
