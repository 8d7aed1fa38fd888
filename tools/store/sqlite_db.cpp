// The SQLite store: WAL so readers never block the writer, a busy timeout so
// concurrent writers queue instead of failing, statements kept prepared
// because an import runs the same insert many thousand times.
#include <sqlite3.h>

#include <map>

#include "db.h"

namespace store {

namespace {

class SqliteDb : public Db {
public:
    SqliteDb(const std::string& path, bool create) {
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) |
                          SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw StoreError("cannot open " + path + ": " + why);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, 60000);
        query("PRAGMA journal_mode=WAL");
        query("PRAGMA synchronous=NORMAL");
        query("PRAGMA foreign_keys=ON");
    }
    ~SqliteDb() override {
        for (auto& [sql, stmt] : prepared_) sqlite3_finalize(stmt);
        sqlite3_close(db_);
    }
    Kind kind() const override { return Kind::sqlite; }

    std::vector<Row> execute(const std::string& sql, const std::vector<Value>& params) override {
        sqlite3_stmt* stmt = prepare(sql);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        for (std::size_t i = 0; i < params.size(); ++i) {
            const int at = static_cast<int>(i + 1);
            const int rc = params[i] ? sqlite3_bind_text(stmt, at, params[i]->data(),
                                                         static_cast<int>(params[i]->size()),
                                                         SQLITE_TRANSIENT)
                                     : sqlite3_bind_null(stmt, at);
            if (rc != SQLITE_OK) fail("binding a value");
        }
        std::vector<Row> rows;
        for (;;) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) {
                sqlite3_reset(stmt);
                fail("running a statement");
            }
            Row row;
            const int n = sqlite3_column_count(stmt);
            for (int c = 0; c < n; ++c) {
                const auto* text = sqlite3_column_text(stmt, c);
                if (!text) row.emplace_back(std::nullopt);
                else row.emplace_back(std::string(reinterpret_cast<const char*>(text),
                                                  static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))));
            }
            rows.push_back(std::move(row));
        }
        sqlite3_reset(stmt);
        return rows;
    }

    void begin_write() override { query("BEGIN IMMEDIATE"); }

private:
    sqlite3_stmt* prepare(const std::string& sql) {
        if (auto it = prepared_.find(sql); it != prepared_.end()) return it->second;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
            SQLITE_OK)
            fail("preparing a statement");
        // Only the store's own few statements come here, so the cache stays small.
        prepared_.emplace(sql, stmt);
        return stmt;
    }
    [[noreturn]] void fail(const char* what) {
        throw StoreError(std::string("SQLite, ") + what + ": " + sqlite3_errmsg(db_));
    }

    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> prepared_;
};

}  // namespace

std::unique_ptr<Db> open_sqlite(const std::string& path, bool create) {
    return std::make_unique<SqliteDb>(path, create);
}

}  // namespace store
