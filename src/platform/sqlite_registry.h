#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"

struct sqlite3;

namespace vok {

// The registry in one SQLite file. The file and its folder are created by
// the first write (mode 0600 in a folder of mode 0700); until then every
// key but the roots is missing. Each write is one transaction in WAL mode
// and waits up to kBusyWait for other writers, so that concurrent processes
// all get their writes in and a killed one leaves its last write whole or
// absent. The name ":memory:" gives a private store in memory.
class SqliteRegistry : public Registry {
 public:
  static constexpr int kBusyWaitMs = 10000;
  // The schema this code reads and writes (PRAGMA user_version).
  static constexpr int kSchemaVersion = 1;

  explicit SqliteRegistry(std::string file);
  ~SqliteRegistry() override;
  SqliteRegistry(const SqliteRegistry&) = delete;
  SqliteRegistry& operator=(const SqliteRegistry&) = delete;

  // $VOKTOOLS_REGISTRY, else ${XDG_DATA_HOME:-$HOME/.local/share}/voktools/registry.sqlite3.
  static std::string DefaultFile();

  const std::string& file() const { return file_; }

  Status OpenKey(uint32_t root, std::string_view path) override;
  Status CreateKey(uint32_t root, std::string_view path) override;
  Status DeleteKey(uint32_t root, std::string_view path) override;
  Status QueryValue(uint32_t root, std::string_view path, std::string_view name,
                    RegistryValue* value) override;
  Status SetValue(uint32_t root, std::string_view path, const RegistryValue& value) override;
  Status DeleteValue(uint32_t root, std::string_view path, std::string_view name) override;
  Status ListValues(uint32_t root, std::string_view path,
                    std::vector<RegistryValue>* values) override;
  Status ListSubkeys(uint32_t root, std::string_view path,
                     std::vector<std::string>* names) override;
  Status Apply(const std::vector<RegistryChange>& changes) override;

 private:
  class Db;
  struct Key;

  // The connection; for a write, creating the store first. Without a store
  // and not for a write: OK with no connection.
  Status Connect(bool for_write);
  // Runs body in one write transaction.
  template <typename Body>
  Status Write(Body body);

  Status FindKey(const Key& key, int64_t* id);
  Status MakeKey(const Key& key, int64_t* id);
  Status RemoveKey(const Key& key);
  Status RemoveTree(const Key& key);
  Status PutValue(int64_t key_id, const RegistryValue& value);
  Status RemoveValue(int64_t key_id, std::string_view name);
  Status ApplyOne(const RegistryChange& change);
  // Runs a listing statement (a Db::Sql) on the key's id, row for each row;
  // a root with nothing below it lists nothing.
  template <typename Row>
  Status ListRows(uint32_t root, std::string_view path, int statement, Row row);

  std::string file_;
  std::unique_ptr<Db> db_;
};

}  // namespace vok
