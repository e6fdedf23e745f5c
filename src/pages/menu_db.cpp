#include "pages/menu_db.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "core/folders.h"
#include "core/text.h"

namespace corvane {

MenuDatabase::~MenuDatabase() {
  sqlite3_close(db_);
}

std::string MenuDatabase::PathOf(std::string_view connection, std::string_view folder) {
  std::string path(TrimWhite(connection));
  if (path.empty() || EqualsIgnoreCase(path, "NA")) return {};
  for (const std::string& part : Split(connection, ';')) {
    const size_t eq = part.find('=');
    if (eq == std::string::npos) continue;
    const std::string_view name = TrimWhite(std::string_view(part).substr(0, eq));
    if (EqualsIgnoreCase(name, "Data Source")) {
      path = std::string(TrimWhite(std::string_view(part).substr(eq + 1)));
      break;
    }
  }
  if (path.empty()) return {};
  return path[0] == '/' ? path : JoinPath(folder, path);
}

std::unique_ptr<MenuDatabase> MenuDatabase::Open(const std::string& path, std::string* error) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = "no database file " + path;
    return nullptr;
  }
  sqlite3* db = nullptr;
  // Never created: a missing file means no database.
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    if (error) *error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return nullptr;
  }
  // Another program may hold the file for a moment.
  sqlite3_busy_timeout(db, 200);
  return std::unique_ptr<MenuDatabase>(new MenuDatabase(db));
}

std::vector<MenuDatabase::Row> MenuDatabase::Query(std::string_view sql,
                                                   const std::vector<Value>& params) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) !=
      SQLITE_OK) {
    throw MenuDbError(sqlite3_errmsg(db_));
  }
  struct Finalize {
    sqlite3_stmt* s;
    ~Finalize() { sqlite3_finalize(s); }
  } finalize{stmt};
  for (size_t i = 0; i < params.size(); ++i) {
    const int at = static_cast<int>(i) + 1;
    if (const auto* text = std::get_if<std::string>(&params[i])) {
      sqlite3_bind_text(stmt, at, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_int64(stmt, at, std::get<int64_t>(params[i]));
    }
  }
  std::vector<Row> rows;
  for (;;) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) throw MenuDbError(sqlite3_errmsg(db_));
    Row row;
    const int n = sqlite3_column_count(stmt);
    for (int c = 0; c < n; ++c) {
      const auto* text = sqlite3_column_text(stmt, c);
      row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace corvane
