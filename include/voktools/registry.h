// cRegistry: a cursor over the registry store. Set ClassKey (a root),
// SectionKey (the key's path, parts separated by '\'), ValueKey (a value
// name; empty for the key's default value) and, for writing, ValueType;
// then read or assign Value, test, create or delete the key, or list its
// values or subkeys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {

struct Env;

VOK_PUBLIC_BEGIN

enum ERegistryClassConstants : int32_t {
  HKEY_CLASSES_ROOT = static_cast<int32_t>(0x80000000u),
  HKEY_CURRENT_USER = static_cast<int32_t>(0x80000001u),
  HKEY_LOCAL_MACHINE = static_cast<int32_t>(0x80000002u),
  HKEY_USERS = static_cast<int32_t>(0x80000003u),
};

enum ERegistryValueTypes : int32_t {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
  REG_DWORD_LITTLE_ENDIAN = 4,
  REG_DWORD_BIG_ENDIAN = 5,
  REG_LINK = 6,
  REG_MULTI_SZ = 7,
  REG_RESOURCE_LIST = 8,
  REG_FULL_RESOURCE_DESCRIPTOR = 9,
  REG_RESOURCE_REQUIREMENTS_LIST = 10,
};

class cRegistry : public Dispatch {
 public:
  cRegistry();

  // Whether the key opens.
  bool KeyExists() const;
  // True when the key was created or was there already.
  bool CreateKey();
  // Deletes a key without subkeys; true on success.
  bool DeleteKey();
  // True when the value was there and is deleted.
  bool DeleteValue();

  // The value converted by its type (texts without their last character,
  // REG_EXPAND_SZ expanded, the two DWORD types as int32, anything else as
  // bytes), setting ValueType to the type found; Default when it cannot be
  // read. Error 5 for a text stored without even its NUL.
  Variant Value();
  // Writes v as ValueType says (texts, byte arrays, 16- and 32-bit
  // integers); a value that does not suit ValueType writes nothing. No
  // outcome is reported.
  void Value(const Variant& v);

  // The names of the key's values (subkeys) at indexes 1 to the count, in a
  // text array whose first element is index 1. True even when the key does
  // not open (count 0); EnumerateSections is false when the store fails.
  bool EnumerateValues(TextArray& sKeyNames, int32_t& iKeyCount);
  bool EnumerateSections(TextArray& sSect, int32_t& iSectCount);

  // Registers a document type for a program under HKEY_CLASSES_ROOT and
  // HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
  void CreateEXEAssociation(std::string sExePath, const std::string& sClassName,
                            const std::string& sClassDescription, const std::string& sAssociation,
                            const std::string& sOpenMenuText = "&Open", bool bSupportPrint = false,
                            const std::string& sPrintMenuText = "&Print", bool bSupportNew = false,
                            const std::string& sNewMenuText = "&New", bool bSupportInstall = false,
                            const std::string& sInstallMenuText = "",
                            int32_t lDefaultIconIndex = -1);
  // More verbs for a registered class: (verb, menu text, command) triples.
  void CreateAdditionalEXEAssociations(const std::string& sClassName,
                                       const std::vector<Variant>& vItems);

  int32_t ValueType() const { return value_type_; }
  void ValueType(int32_t value) { value_type_ = value; }
  int32_t ClassKey() const { return class_key_; }
  void ClassKey(int32_t value) { class_key_ = value; }
  const std::string& SectionKey() const { return section_key_; }
  void SectionKey(std::string value) { section_key_ = std::move(value); }
  const std::string& ValueKey() const { return value_key_; }
  void ValueKey(std::string value) { value_key_ = std::move(value); }
  const Variant& Default() const { return default_; }
  void Default(Variant value) { default_ = std::move(value); }

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit cRegistry(Env& env);

  uint32_t Root() const { return static_cast<uint32_t>(class_key_); }
  // Names of values or subkeys into a 1-based text array.
  bool Enumerate(bool subkeys, TextArray& names, int32_t& count);
  // Writes text as REG_SZ under SectionKey and ValueKey, through both roots.
  void WriteClassValue(const std::string& text);

  Env& env_;
  int32_t class_key_ = 0;
  std::string section_key_;
  std::string value_key_;
  int32_t value_type_ = 0;
  Variant default_;
};

VOK_PUBLIC_END

}  // namespace vok
