// Registration in the registry store: every class and interface of the class
// table findable, and unregistering leaving the store as it was.
#include "frame/registration.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/library_folder.h"
#include "platform/sqlite_registry.h"
#include "support/fault_registry.h"
#include "support/registry_dump.h"
#include "voktools/ascii.h"
#include "voktools/class_table.h"

namespace vok {
namespace {

constexpr const char* kMissing = "<missing>";

// A text value under HKEY_CLASSES_ROOT, or kMissing.
std::string Text(Registry& r, const std::string& key, const std::string& name = "") {
  RegistryValue v;
  if (!r.QueryValue(reg::kClassesRoot, key, name, &v).ok()) return kMissing;
  EXPECT_EQ(v.type, reg::kSz) << key;
  EXPECT_EQ(v.data.back(), '\0') << key;
  return v.data.substr(0, v.data.find('\0'));
}

std::string Dump(Registry& r) { return test::DumpRegistry(r, reg::kLocalMachine, ""); }

const std::string kVersion = std::to_string(kTypeLibMajor) + "." + std::to_string(kTypeLibMinor);

TEST(Registration, EveryClassAndInterfaceOfTheTableLeadsToTheLibrary) {
  SqliteRegistry r(":memory:");
  const std::string lib = "/opt/vok/lib/libvoktools.so.3.1.0";
  ASSERT_EQ(RegisterLibrary(r, lib), VOK_S_OK);
  const std::string typelib(kTypeLibId);
  EXPECT_EQ(Text(r, "TypeLib\\" + typelib + "\\" + kVersion + "\\" +
                        std::to_string(kTypeLibLocale) + "\\linux"),
            lib);
  for (const ClassEntry& c : ClassTable()) {
    SCOPED_TRACE(c.class_name);
    // Name to id, id to library, and back from the id to the same class.
    const std::string clsid = Text(r, std::string(c.prog_id) + "\\CLSID");
    EXPECT_EQ(clsid, c.clsid);
    const std::string key = "CLSID\\" + clsid;
    EXPECT_EQ(FindClass(Text(r, key)), &c);
    EXPECT_EQ(FindClass(Text(r, key + "\\ProgID")), &c);
    EXPECT_EQ(Text(r, key + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Text(r, key + "\\TypeLib"), typelib);
    std::string found;
    ASSERT_TRUE(RegisteredLibrary(r, clsid.substr(1, clsid.size() - 2), &found).ok());
    EXPECT_EQ(found, lib);

    const std::pair<std::string_view, std::string_view> interfaces[] = {
        {c.iid, ""}, {c.event_iid, ""}, {c.earlier_iid, c.iid}};
    for (const auto& [iid, forward] : interfaces) {
      if (iid.empty()) continue;
      const std::string ikey = "Interface\\" + std::string(iid);
      EXPECT_NE(Text(r, ikey), kMissing) << iid;
      EXPECT_NE(Text(r, ikey + "\\ProxyStubClsid32"), kMissing) << iid;
      EXPECT_EQ(Text(r, ikey + "\\TypeLib"), typelib) << iid;
      EXPECT_EQ(Text(r, ikey + "\\TypeLib", "Version"), kVersion) << iid;
      EXPECT_EQ(Text(r, ikey + "\\Forward"), forward.empty() ? kMissing : forward) << iid;
    }
  }
  std::string found;
  EXPECT_EQ(RegisteredLibrary(r, "{00000000-0000-0000-0000-000000000000}", &found).code(), ENOENT);
}

// Every key the registration writes to, and every key above one.
std::vector<std::string> RegistrationKeys() {
  std::set<std::string> keys;
  for (RegistrationPart part : {RegistrationPart::kClasses, RegistrationPart::kTypeLibrary}) {
    for (const RegistrationValue& v : RegistrationValues(part, "/x")) {
      for (size_t end = v.key.size(); end != std::string::npos; end = v.key.rfind('\\', end - 1)) {
        keys.insert(v.key.substr(0, end));
      }
    }
  }
  return {keys.begin(), keys.end()};
}

// A user's own entries in and around the registration's keys: values of
// their own names on its keys (in another case of letters too), subkeys of
// their own, empty or not, below them, and keys elsewhere.
void AddUserEntries(Registry& r, uint32_t seed) {
  static const std::vector<std::string> keys = RegistrationKeys();
  std::mt19937 rng(seed);
  auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
  for (int i = pick(8); i > 0; --i) {
    std::string key = keys[pick(keys.size())];
    if (pick(2) == 0) key = AsciiUpperCopy(key);
    const std::string own = "User" + std::to_string(i);
    std::vector<RegistryChange> change;
    switch (pick(4)) {
      case 0:
        change.push_back({RegistryChange::Kind::kSetValue, reg::kClassesRoot, key,
                          {own, reg::kSz, "mine" + std::string(1, '\0')}});
        break;
      case 1:
        change.push_back({RegistryChange::Kind::kCreateKey, reg::kClassesRoot, key + "\\" + own, {}});
        break;
      case 2:
        change.push_back({RegistryChange::Kind::kSetValue, reg::kClassesRoot, key + "\\" + own,
                          {"", reg::kDword, std::string(4, '\x07')}});
        break;
      default:
        change.push_back({RegistryChange::Kind::kSetValue, reg::kCurrentUser, "Software\\" + own,
                          {own, reg::kSz, std::string(1, '\0')}});
    }
    ASSERT_TRUE(r.Apply(change).ok());
  }
}

TEST(Registration, UnregisteringLeavesTheStoreAsItWasAndRegisteringAgainChangesNothing) {
  for (uint32_t seed = 0; seed < 60; ++seed) {
    SCOPED_TRACE(seed);
    SqliteRegistry once(":memory:"), thrice(":memory:");
    AddUserEntries(once, seed);
    AddUserEntries(thrice, seed);
    const std::string before = Dump(once);
    ASSERT_EQ(RegisterLibrary(once, "/new/libvoktools.so"), VOK_S_OK);
    // Over another file's registration, and again: the same store.
    ASSERT_EQ(RegisterLibrary(thrice, "/old/libvoktools.so"), VOK_S_OK);
    ASSERT_EQ(RegisterLibrary(thrice, "/new/libvoktools.so"), VOK_S_OK);
    ASSERT_EQ(RegisterLibrary(thrice, "/new/libvoktools.so"), VOK_S_OK);
    EXPECT_EQ(Dump(thrice), Dump(once));
    // Removed twice: the second time there is nothing left to remove.
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(UnregisterLibrary(once), VOK_S_OK);
      EXPECT_EQ(Dump(once), before);
    }
  }
}

// A store that refuses each batch writing below one key of
// HKEY_CLASSES_ROOT ("" refuses every write).
class RefusingRegistry : public test::FaultRegistry {
 public:
  std::string refused = "?";
  Status Apply(const std::vector<RegistryChange>& changes) override {
    for (const RegistryChange& c : changes) {
      std::string path = c.path;
      if (c.root == reg::kLocalMachine) path.erase(0, std::min(path.size(), sizeof("SOFTWARE\\Classes")));
      if (path.starts_with(refused)) return error;
    }
    return FaultRegistry::Apply(changes);
  }
};

struct FailureCase {
  std::string refused;  // the writes refused; "*": every call fails
  vok_status status;
};

class RegistrationFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(RegistrationFailure, GivesThePartsStatus) {
  const FailureCase& c = GetParam();
  auto refuse = [&c](RefusingRegistry& r) {
    r.failing = c.refused == "*";
    r.refused = c.refused;
  };
  RefusingRegistry r;
  refuse(r);
  EXPECT_EQ(RegisterLibrary(r, "/lib/libvoktools.so"), c.status);
  r.failing = false;
  r.refused = "?";
  // A part that failed wrote nothing of itself.
  if (c.status == VOK_SELFREG_E_CLASS) EXPECT_EQ(Dump(r), "[]\n");
  ASSERT_EQ(RegisterLibrary(r, "/lib/libvoktools.so"), VOK_S_OK);
  refuse(r);
  EXPECT_EQ(UnregisterLibrary(r), c.status);
}

INSTANTIATE_TEST_SUITE_P(Stores, RegistrationFailure,
                         testing::Values(FailureCase{"*", VOK_SELFREG_E_CLASS},
                                         FailureCase{"", VOK_SELFREG_E_CLASS},
                                         FailureCase{"VOKTools.", VOK_SELFREG_E_CLASS},
                                         FailureCase{"CLSID", VOK_SELFREG_E_CLASS},
                                         FailureCase{"TypeLib", VOK_SELFREG_E_TYPELIB},
                                         FailureCase{"Interface", VOK_SELFREG_E_TYPELIB}));

TEST(Registration, EntryPointsRegisterTheLoadedLibraryInTheCurrentStore) {
  SqliteRegistry store(":memory:");
  Env env{nullptr, nullptr, nullptr, &store};
  {
    ScopedEnv scoped(env);
    ASSERT_EQ(DllRegisterServer(), VOK_S_OK);
  }
  std::string found;
  ASSERT_TRUE(RegisteredLibrary(store, ClassTable()[0].clsid, &found).ok());
  EXPECT_EQ(found, LibraryFile());
  EXPECT_FALSE(found.empty());
  {
    ScopedEnv scoped(env);
    ASSERT_EQ(DllUnregisterServer(), VOK_S_OK);
  }
  EXPECT_EQ(Dump(store), "[]\n");
  Env no_store{};
  ScopedEnv scoped(no_store);
  EXPECT_EQ(DllRegisterServer(), VOK_E_FAIL);
  EXPECT_EQ(RegisterLibrary(store, ""), VOK_E_FAIL);
}

}  // namespace
}  // namespace vok
