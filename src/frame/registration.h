// Registration of the library in the registry store: the entries that make
// its classes available to a host that knows only their programmatic names
// or class ids, and the C entry points that write and remove them.
//
// Every entry is a text value (REG_SZ) under HKEY_CLASSES_ROOT:
//   VOKTools.clsX                   (default) "VOKTools clsX"
//   VOKTools.clsX\CLSID             (default) the class id
//   CLSID\{clsid}                   (default) the programmatic name
//   CLSID\{clsid}\InprocServer32    (default) the library file;
//                                   ThreadingModel "Apartment"
//   CLSID\{clsid}\ProgID            (default) the programmatic name
//   CLSID\{clsid}\TypeLib           (default) the type library id
//   CLSID\{clsid}\VERSION           (default) "3.1"
//   TypeLib\{libid}\3.1             (default) "VOKTools"
//   TypeLib\{libid}\3.1\0\linux     (default) the library file
//   TypeLib\{libid}\3.1\FLAGS       (default) "0"
//   TypeLib\{libid}\3.1\HELPDIR     (default) the library's folder
//   Interface\{iid}                 (default) "_clsX", "__clsX" for events
//   Interface\{iid}\ProxyStubClsid32 (default) the automation marshaler
//   Interface\{iid}\TypeLib         (default) the type library id;
//                                   Version "3.1"
//   Interface\{earlier iid}\Forward (default) the current interface id
// The first seven lines are the classes' part, the others the type
// library's (its interfaces included).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/status.h"
#include "voktools/voktools_c.h"

namespace vok {

// One text value of the registration, under HKEY_CLASSES_ROOT.
struct RegistrationValue {
  std::string key;
  std::string name;  // "" is the key's default value
  std::string text;
};

enum class RegistrationPart { kClasses, kTypeLibrary };

// The values one part writes for the library file library_file, in the
// order they are written.
std::vector<RegistrationValue> RegistrationValues(RegistrationPart part,
                                                  std::string_view library_file);

// Writes both parts, each all or nothing, the classes first; writing them
// again changes nothing, and a different library_file replaces the one
// registered. VOK_S_OK; VOK_SELFREG_E_CLASS when the classes' part could not
// be written, VOK_SELFREG_E_TYPELIB when the type library's could not (the
// classes stay registered); VOK_E_FAIL for an empty library_file. The
// store's reason goes to the host's warning sink.
vok_status RegisterLibrary(Registry& registry, std::string_view library_file);

// Removes the values the registration writes, whatever their data, and then
// every key on their paths that is left without values and subkeys (up to
// the root; also HKEY_LOCAL_MACHINE\SOFTWARE\Classes and SOFTWARE, where
// HKEY_CLASSES_ROOT lies). Other values and subkeys, and the keys holding
// them, stay. A store without the entries is left untouched (and is not
// created). Results as RegisterLibrary's, for removing.
vok_status UnregisterLibrary(Registry& registry);

// The library file registered for the class id clsid (braces optional):
// ENOENT when the class is not registered, EINVAL when the entry is not a
// text, the store's failure otherwise.
Status RegisteredLibrary(Registry& registry, std::string_view clsid, std::string* library_file);
// The class id registered for the programmatic name prog_id; the same
// failures.
Status RegisteredClassId(Registry& registry, std::string_view prog_id, std::string* clsid);

}  // namespace vok
