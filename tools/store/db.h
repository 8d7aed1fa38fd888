// One small interface over the two stores: an SQLite file (the default,
// nothing to start) and a PostgreSQL server (one store for a fleet). The
// statements are shared: '?' placeholders, every value passed as text, which
// both engines convert to the column's type.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/secrets.h"

namespace store {

// Its message never holds a password, whatever address it names.
struct StoreError : std::runtime_error {
    explicit StoreError(const std::string& what) : std::runtime_error(common::mask_secrets(what)) {}
};

// A store that cannot be read whole: its answer could be stale, so there is none.
struct UnreadableLog : StoreError {
    using StoreError::StoreError;
};

using Value = std::optional<std::string>;  // nullopt: NULL
using Row = std::vector<Value>;

class Db {
public:
    enum class Kind { sqlite, postgresql };
    virtual ~Db() = default;
    virtual Kind kind() const = 0;
    // One statement; its rows as text. Throws StoreError.
    std::vector<Row> query(const std::string& sql, const std::vector<Value>& params = {}) {
        return execute(sql, params);
    }
    // A transaction that writes: in SQLite it takes the write lock at once,
    // so two writers wait for each other instead of failing half-way.
    virtual void begin_write() = 0;
    void commit() { query("COMMIT"); }
    void rollback() noexcept;
    // The schema version, once read or made (schema.cpp); 0: not known yet.
    int schema = 0;

protected:
    virtual std::vector<Row> execute(const std::string& sql, const std::vector<Value>& params) = 0;
};

// "postgresql://..." or "postgres://..." (libpq's URI, e.g.
// postgresql:///suite?host=/run/postgresql) or libpq's key=value string
// starting with one of its keys ("host=/run/postgresql dbname=suite"), else
// an SQLite file path, optionally written "sqlite:PATH". `create`: make the
// SQLite file if missing. `read_only`: nothing is written, not even the
// journal mode, so a store the user may only read (a file mode, a mount) can
// still be read.
std::unique_ptr<Db> open_db(const std::string& url, bool create, bool read_only = false);

// The URL without a password, for messages and records.
std::string display_url(const std::string& url);

// Backends, for open_db.
std::unique_ptr<Db> open_sqlite(const std::string& path, bool create, bool read_only);
std::unique_ptr<Db> open_postgresql(const std::string& url, bool read_only);

// Every wait for the store ends within this many seconds.
constexpr int wait_limit_s = 10;

}  // namespace store
