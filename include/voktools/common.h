// clsCommon: string, file, settings and window helpers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {

struct Env;

VOK_PUBLIC_BEGIN

// The INI file of the library's own settings, in the profile folder.
inline constexpr std::string_view kDefaultINIFile = "VOK Tools.ini";

class clsCommon : public Dispatch {
 public:
  clsCommon();

  // Moves a window object (Width, Height, Move) to the middle of the screen.
  void CentreForm(const Variant& frmCentre);
  // A value from an INI file; the default file is "VOK Tools.ini" in the
  // profile folder. At most 1023 characters come back.
  std::string GetINISetting(const std::string& strSection, const std::string& strItem,
                            const std::string& strDefault,
                            const Variant& varINIFile = Variant::Missing());
  void SetINISetting(const std::string& strSection, const std::string& strItem,
                     const std::string& strValue, const Variant& varINIFile = Variant::Missing());
  // Selects the whole text of a text-box object (SelStart, SelLength, Text).
  void HighLight(const Variant& txtHighLight);
  // Starts the system-information program that the registry names, or
  // says in a message box that there is none.
  void StartSysInfo();
  // A registry value as text (REG_SZ, or REG_DWORD in decimal; another type
  // leaves KeyVal as it was); false and an empty KeyVal when it cannot be
  // read.
  bool GetKeyValue(int32_t KeyRoot, const std::string& KeyName, const std::string& SubKeyRef,
                   std::string& KeyVal);
  // Whether a window of this library called strFormName is loaded.
  bool IsLoaded(const std::string& strFormName);
  // Every strS in strSR replaced by strR, searching on after each replacement.
  std::string SandR(std::string_view strSR, std::string_view strS, std::string_view strR);
  // 0: folder with its separator, 1: name without extension, 2: extension.
  std::string strParseFileName(std::string_view strFileName, int16_t intComponent);
  // Replaces strFileTo by strFileFrom's content and deletes strFileFrom.
  // Returns the number of failed steps (0 or 1); messages go to colErrors
  // when it holds an object with an Add member.
  int16_t MoveFile(const std::string& strFileFrom, const std::string& strFileTo,
                   const Variant& colErrors = Variant::Nothing());
  // Shortens a caption in the middle until frmT.TextWidth says it fits lngMax.
  std::string SetCaption(const std::string& strCaption, const Variant& frmT, int32_t lngMax);
  // Fills %1% to %6% with the arguments' texts.
  std::string FormatString(std::string_view strFS, const std::vector<Variant>& Arguments = {});
  // Deletes a file, read-only or not; every failure is ignored.
  void DeleteFile(const std::string& strF);
  // Whether a file or folder matches sSource (wildcards allowed).
  bool FileExists(const std::string& sSource);

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsCommon(Env& env);

  // Starts the program at path (double quotes around it dropped); false
  // when it cannot be started.
  bool StartProgram(std::string path);

  Env& env_;
};

VOK_PUBLIC_END

}  // namespace vok
