#include "frame/registration.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <new>
#include <set>

#include "platform/env.h"
#include "platform/library_folder.h"
#include "platform/windowing.h"
#include "voktools/ascii.h"
#include "voktools/class_table.h"

namespace vok {

namespace {

// Where HKEY_CLASSES_ROOT lies under HKEY_LOCAL_MACHINE.
constexpr std::string_view kClassesView = "SOFTWARE\\Classes";
// The standard proxy/stub of automation interfaces.
constexpr std::string_view kAutomationMarshaler = "{00020424-0000-0000-C000-000000000046}";
// The platform word of the type library's file entry.
constexpr std::string_view kPlatform = "linux";
constexpr std::string_view kThreadingModel = "Apartment";

std::string Lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string TypeLibVersion() {
  return std::to_string(kTypeLibMajor) + "." + std::to_string(kTypeLibMinor);
}

std::string FolderOf(std::string_view file) {
  const size_t slash = file.rfind('/');
  if (slash == std::string_view::npos) return "";
  return std::string(file.substr(0, slash == 0 ? 1 : slash));
}

std::vector<RegistrationValue> ClassValues(std::string_view library_file) {
  std::vector<RegistrationValue> values;
  const std::string version = TypeLibVersion();
  for (const ClassEntry& c : ClassTable()) {
    const std::string prog_id(c.prog_id);
    const std::string clsid(c.clsid);
    const std::string clsid_key = "CLSID\\" + clsid;
    const std::string description = std::string(kLibraryName) + " " + std::string(c.class_name);
    values.push_back({prog_id, "", description});
    values.push_back({prog_id + "\\CLSID", "", clsid});
    values.push_back({clsid_key, "", prog_id});
    values.push_back({clsid_key + "\\InprocServer32", "", std::string(library_file)});
    values.push_back(
        {clsid_key + "\\InprocServer32", "ThreadingModel", std::string(kThreadingModel)});
    values.push_back({clsid_key + "\\ProgID", "", prog_id});
    values.push_back({clsid_key + "\\TypeLib", "", std::string(kTypeLibId)});
    values.push_back({clsid_key + "\\VERSION", "", version});
  }
  return values;
}

std::vector<RegistrationValue> TypeLibraryValues(std::string_view library_file) {
  std::vector<RegistrationValue> values;
  const std::string version = TypeLibVersion();
  const std::string typelib(kTypeLibId);
  const std::string lib_key = "TypeLib\\" + typelib + "\\" + version;
  values.push_back({lib_key, "", std::string(kLibraryName)});
  values.push_back({lib_key + "\\" + std::to_string(kTypeLibLocale) + "\\" + std::string(kPlatform),
                    "", std::string(library_file)});
  values.push_back({lib_key + "\\FLAGS", "", "0"});
  values.push_back({lib_key + "\\HELPDIR", "", FolderOf(library_file)});
  for (const ClassEntry& c : ClassTable()) {
    const std::string name(c.class_name);
    struct Interface {
      std::string_view iid;
      std::string name;
      std::string_view forward;  // the interface that replaced it
    };
    const Interface interfaces[] = {{c.iid, "_" + name, ""},
                                    {c.event_iid, "__" + name, ""},
                                    {c.earlier_iid, "_" + name, c.iid}};
    for (const Interface& i : interfaces) {
      if (i.iid.empty()) continue;
      const std::string key = "Interface\\" + std::string(i.iid);
      values.push_back({key, "", i.name});
      values.push_back({key + "\\ProxyStubClsid32", "", std::string(kAutomationMarshaler)});
      values.push_back({key + "\\TypeLib", "", typelib});
      values.push_back({key + "\\TypeLib", "Version", version});
      if (!i.forward.empty()) values.push_back({key + "\\Forward", "", std::string(i.forward)});
    }
  }
  return values;
}

RegistryValue Text(const std::string& name, const std::string& text) {
  return {name, reg::kSz, text + '\0'};
}

Status WriteValues(Registry& registry, const std::vector<RegistrationValue>& values) {
  std::vector<RegistryChange> changes;
  for (const RegistrationValue& v : values) {
    changes.push_back(
        {RegistryChange::Kind::kSetValue, reg::kClassesRoot, v.key, Text(v.name, v.text)});
  }
  return registry.Apply(changes);
}

// A key on the path of the registration's values, under HKEY_LOCAL_MACHINE.
struct OwnKey {
  std::string path;
  std::set<std::string> names;  // lowered names of the registration's values
  size_t depth = 0;
  bool empty = false;  // nothing but the registration's entries below it
};

// Deletes the values, then the keys on their paths left empty, in one batch.
// Which keys are left empty is read before the batch: a process adding its
// own entry below one of them in between loses it.
Status RemoveValues(Registry& registry, const std::vector<RegistrationValue>& values) {
  std::map<std::string, OwnKey> keys;  // by lowered path
  for (const RegistrationValue& v : values) {
    const std::string path = std::string(kClassesView) + "\\" + v.key;
    keys[Lowered(path)].names.insert(Lowered(v.name));
    for (size_t end = path.size(); end != std::string::npos; end = path.rfind('\\', end - 1)) {
      OwnKey& key = keys[Lowered(path.substr(0, end))];
      key.path = path.substr(0, end);
      key.depth = static_cast<size_t>(std::count(key.path.begin(), key.path.end(), '\\'));
    }
  }
  std::vector<OwnKey*> deepest_first;
  for (auto& [lowered, key] : keys) deepest_first.push_back(&key);
  std::stable_sort(deepest_first.begin(), deepest_first.end(),
                   [](const OwnKey* a, const OwnKey* b) { return a->depth > b->depth; });

  std::vector<RegistryChange> changes;
  for (const RegistrationValue& v : values) {
    changes.push_back(
        {RegistryChange::Kind::kDeleteValue, reg::kClassesRoot, v.key, {v.name, reg::kNone, ""}});
  }
  bool any_present = false;
  for (OwnKey* key : deepest_first) {
    std::vector<RegistryValue> present;
    Status s = registry.ListValues(reg::kLocalMachine, key->path, &present);
    if (s.code() == ENOENT) {
      key->empty = true;
      continue;
    }
    if (!s.ok()) return s;
    any_present = true;
    bool empty = std::all_of(present.begin(), present.end(), [key](const RegistryValue& v) {
      return key->names.count(Lowered(v.name)) > 0;
    });
    std::vector<std::string> subkeys;
    if (s = registry.ListSubkeys(reg::kLocalMachine, key->path, &subkeys); !s.ok()) return s;
    for (const std::string& name : subkeys) {
      const auto child = keys.find(Lowered(key->path + "\\" + name));
      empty = empty && child != keys.end() && child->second.empty;
    }
    key->empty = empty;
    if (empty) {
      changes.push_back({RegistryChange::Kind::kDeleteTree, reg::kLocalMachine, key->path, {}});
    }
  }
  // Nothing of the registration there: the store stays as it is, or absent.
  return any_present ? registry.Apply(changes) : Status::OK();
}

vok_status Failed(RegistrationPart part, const Status& why, std::string_view doing) {
  const bool classes = part == RegistrationPart::kClasses;
  Warn("Cannot " + std::string(doing) + (classes ? " the classes: " : " the type library: ") +
       why.message());
  return classes ? VOK_SELFREG_E_CLASS : VOK_SELFREG_E_TYPELIB;
}

constexpr RegistrationPart kParts[] = {RegistrationPart::kClasses, RegistrationPart::kTypeLibrary};

// A C entry point's body: no exception leaves the library.
template <typename Body>
vok_status Guarded(Body body) {
  try {
    Registry* registry = CurrentEnv().registry;
    return registry == nullptr ? VOK_E_FAIL : body(*registry);
  } catch (const std::bad_alloc&) {
    return VOK_E_OUTOFMEMORY;
  } catch (...) {
    return VOK_E_FAIL;
  }
}

}  // namespace

std::vector<RegistrationValue> RegistrationValues(RegistrationPart part,
                                                  std::string_view library_file) {
  return part == RegistrationPart::kClasses ? ClassValues(library_file)
                                            : TypeLibraryValues(library_file);
}

vok_status RegisterLibrary(Registry& registry, std::string_view library_file) {
  if (library_file.empty()) return VOK_E_FAIL;
  for (RegistrationPart part : kParts) {
    const Status s = WriteValues(registry, RegistrationValues(part, library_file));
    if (!s.ok()) return Failed(part, s, "register");
  }
  return VOK_S_OK;
}

vok_status UnregisterLibrary(Registry& registry) {
  for (RegistrationPart part : kParts) {
    const Status s = RemoveValues(registry, RegistrationValues(part, ""));
    if (!s.ok()) return Failed(part, s, "unregister");
  }
  return VOK_S_OK;
}

namespace {

// A text value (the key's default) under HKEY_CLASSES_ROOT, up to its NUL.
Status RegisteredText(Registry& registry, const std::string& key, std::string* text) {
  RegistryValue value;
  if (Status s = registry.QueryValue(reg::kClassesRoot, key, "", &value); !s.ok()) return s;
  if (value.type != reg::kSz && value.type != reg::kExpandSz) {
    return Status::Error(EINVAL, "The registered value of " + key + " is not a text");
  }
  *text = value.data.substr(0, value.data.find('\0'));
  return Status::OK();
}

}  // namespace

Status RegisteredLibrary(Registry& registry, std::string_view clsid, std::string* library_file) {
  std::string id(clsid);
  if (id.empty() || id.front() != '{') id = "{" + id + "}";
  return RegisteredText(registry, "CLSID\\" + id + "\\InprocServer32", library_file);
}

Status RegisteredClassId(Registry& registry, std::string_view prog_id, std::string* clsid) {
  return RegisteredText(registry, std::string(prog_id) + "\\CLSID", clsid);
}

}  // namespace vok

extern "C" {

VOK_C_API vok_status DllRegisterServer(void) {
  return vok::Guarded(
      [](vok::Registry& registry) { return vok::RegisterLibrary(registry, vok::LibraryFile()); });
}

VOK_C_API vok_status DllUnregisterServer(void) {
  return vok::Guarded([](vok::Registry& registry) { return vok::UnregisterLibrary(registry); });
}

}  // extern "C"
