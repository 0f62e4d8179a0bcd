// Registration in the registry store: every class and interface of the class
// table findable, and unregistering leaving the store as it was.
#include "frame/registration.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

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
    const std::string mine("mine", 5);
    const RegistryChange changes[] = {
        {RegistryChange::Kind::kSetValue, reg::kClassesRoot, key, {own, reg::kSz, mine}},
        {RegistryChange::Kind::kCreateKey, reg::kClassesRoot, key + "\\" + own, {}},
        {RegistryChange::Kind::kSetValue,
         reg::kClassesRoot,
         key + "\\" + own,
         {"", reg::kSz, mine}},
        {RegistryChange::Kind::kSetValue, reg::kCurrentUser, own, {own, reg::kSz, mine}}};
    ASSERT_TRUE(r.Apply({changes[pick(std::size(changes))]}).ok());
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

// While refusing, a store that refuses each batch changing a key of
// HKEY_CLASSES_ROOT whose path starts with refused ("" every batch), or
// fails every call ("*").
class RefusingRegistry : public test::FaultRegistry {
 public:
  explicit RefusingRegistry(std::string refused) : refused_(std::move(refused)) {}
  void Refuse(bool on) {
    refusing_ = on;
    failing = on && refused_ == "*";
  }
  Status Apply(const std::vector<RegistryChange>& changes) override {
    for (const RegistryChange& c : changes) {
      std::string_view path = c.path;
      if (c.root == reg::kLocalMachine) {
        path.remove_prefix(std::min(path.size(), sizeof("SOFTWARE\\Classes")));
      }
      if (refusing_ && path.starts_with(refused_)) return error;
    }
    return FaultRegistry::Apply(changes);
  }

 private:
  std::string refused_;
  bool refusing_ = false;
};

struct FailureCase {
  std::string refused;
  vok_status status;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << "refused \"" << c.refused << '"'; }

class RegistrationFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(RegistrationFailure, GivesThePartsStatus) {
  RefusingRegistry r(GetParam().refused);
  r.Refuse(true);
  EXPECT_EQ(RegisterLibrary(r, "/lib/libvoktools.so"), GetParam().status);
  r.Refuse(false);
  if (GetParam().status == VOK_SELFREG_E_CLASS) {
    EXPECT_EQ(Dump(r), "[]\n");  // the classes' part is all or nothing
  }
  ASSERT_EQ(RegisterLibrary(r, "/lib/libvoktools.so"), VOK_S_OK);
  r.Refuse(true);
  EXPECT_EQ(UnregisterLibrary(r), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Stores, RegistrationFailure,
                         testing::Values(FailureCase{"*", VOK_SELFREG_E_CLASS},
                                         FailureCase{"", VOK_SELFREG_E_CLASS},
                                         FailureCase{"VOKTools.", VOK_SELFREG_E_CLASS},
                                         FailureCase{"CLSID", VOK_SELFREG_E_CLASS},
                                         FailureCase{"TypeLib", VOK_SELFREG_E_TYPELIB},
                                         FailureCase{"Interface", VOK_SELFREG_E_TYPELIB}));

}  // namespace
}  // namespace vok
