// The SQLite store: WAL so readers never block the writer, a bounded busy
// wait so concurrent writers queue instead of failing, statements kept prepared
// because an import runs the same insert many thousand times.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>

#include "common/text.h"
#include "process/stop.h"
#include "store/db.h"

namespace store {

namespace {

// "file://" URI of a path, every byte but the plainest escaped.
std::string file_uri(const std::string& path) {
    return "file://" + common::percent_encoded(std::filesystem::absolute(path).string(), "/");
}

// The store and the files SQLite keeps beside it must each be a regular file
// or not there yet: opening a FIFO would wait for a writer that never comes,
// and a device is no store.
void refuse_non_regular(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string name = path + suffix;
        struct stat st {};
        if (stat(name.c_str(), &st) != 0 || S_ISREG(st.st_mode)) continue;
        const char* kind = S_ISFIFO(st.st_mode)  ? "a FIFO"
                           : S_ISDIR(st.st_mode) ? "a folder"
                           : S_ISSOCK(st.st_mode) ? "a socket"
                                                  : "a device";
        throw StoreError("cannot open " + name + ": it is " + kind +
                         ", not a regular file; the store is refused");
    }
}

class SqliteDb : public Db {
public:
    SqliteDb(const std::string& path, bool create, bool read_only) {
        refuse_non_regular(path);
        if (read_only) open_read_only(path);
        else {
            open(path, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0));
            query("PRAGMA journal_mode=WAL");
            query("PRAGMA synchronous=NORMAL");
        }
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
        const auto first_try = std::chrono::steady_clock::now();
        for (;;) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE) break;
            if (may_retry(rc, rows.empty(), first_try)) {
                sqlite3_reset(stmt);
                sqlite3_sleep(20);
                continue;
            }
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
    void open_read_only(const std::string& path) {
        open(path, SQLITE_OPEN_READONLY);
        const int rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr,
                                    nullptr, nullptr) & 0xff;
        if (rc != SQLITE_READONLY && rc != SQLITE_CANTOPEN) return;
        // A WAL store in a folder the user may not write has no shared-memory
        // file to read through. Without a write-ahead log the file is the
        // whole store and is read as it stands. A log may hold the newest
        // runs, so it is read all the same, its index kept in this process's
        // memory (exclusive mode); locks are left out, since none can be taken
        // on a file the user may not write. A log that cannot be read is
        // refused: the file alone may be older than the store.
        sqlite3_close(db_);
        db_ = nullptr;
        struct stat st {};
        if (stat((path + "-wal").c_str(), &st) != 0 && errno == ENOENT) {
            open(file_uri(path) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
            return;
        }
        open(file_uri(path) + "?vfs=unix-none", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
        if (sqlite3_exec(db_, "PRAGMA locking_mode=EXCLUSIVE; SELECT count(*) FROM sqlite_master",
                         nullptr, nullptr, nullptr) == SQLITE_OK)
            return;
        const std::string why = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        db_ = nullptr;
        throw UnreadableLog("cannot read " + path + " with its write-ahead log " + path + "-wal (" +
                            why + "): the file alone may miss the newest runs");
    }
    void open(const std::string& name, int flags) {
        if (sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw StoreError("cannot open " + name + ": " + why);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_handler(db_, on_busy, this);
    }
    // SQLite answers "busy" without calling the busy handler where waiting
    // could deadlock, and while another connection opens or recovers the
    // write-ahead log. Outside a transaction, before any row, the statement
    // has done nothing yet and is tried again, within the same limit.
    bool may_retry(int rc, bool no_rows, std::chrono::steady_clock::time_point first_try) {
        return (rc & 0xff) == SQLITE_BUSY && no_rows && sqlite3_get_autocommit(db_) &&
               !process::stop_signal() &&
               std::chrono::steady_clock::now() - first_try < std::chrono::seconds(wait_limit_s);
    }
    // Another writer holds the store: wait in short slices, up to the limit,
    // and not at all once the program was asked to stop.
    static int on_busy(void* self, int count) {
        auto& since = static_cast<SqliteDb*>(self)->busy_since_;
        const auto now = std::chrono::steady_clock::now();
        if (count == 0) since = now;
        if (process::stop_signal() || now - since >= std::chrono::seconds(wait_limit_s)) return 0;
        sqlite3_sleep(20);
        return 1;
    }
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
    std::chrono::steady_clock::time_point busy_since_;
    std::map<std::string, sqlite3_stmt*> prepared_;
};

}  // namespace

std::unique_ptr<Db> open_sqlite(const std::string& path, bool create, bool read_only) {
    return std::make_unique<SqliteDb>(path, create, read_only);
}

}  // namespace store
