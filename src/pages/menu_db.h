// The menu database of the page header: an SQLite file named by the
// connection text of the `dbpath` setting. Every value taken from a request
// is bound as a parameter, never written into the query text.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;

namespace corvane {

class MenuDbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MenuDatabase {
 public:
  using Value = std::variant<std::string, int64_t>;
  // Column texts of one row (NULL reads as "").
  using Row = std::vector<std::string>;

  ~MenuDatabase();
  MenuDatabase(const MenuDatabase&) = delete;
  MenuDatabase& operator=(const MenuDatabase&) = delete;

  // The file a connection text names: "Data Source=<path>" among
  // ";"-separated settings, or the whole text as a path. A relative path is
  // taken below `folder`. Empty when no database is configured ("" or "NA").
  static std::string PathOf(std::string_view connection, std::string_view folder);
  // Opens an existing database file for reading and writing; nothing when
  // the file does not exist or is not a database (`error` says why).
  static std::unique_ptr<MenuDatabase> Open(const std::string& path, std::string* error);

  // Runs one statement with `params` bound to its "?" in order. A failure
  // (a missing table, a locked file) throws MenuDbError.
  std::vector<Row> Query(std::string_view sql, const std::vector<Value>& params = {});

 private:
  explicit MenuDatabase(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

}  // namespace corvane
