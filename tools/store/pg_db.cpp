// The PostgreSQL store through libpq: one connection, parameters sent apart
// from the statement text, so no value is ever read as SQL.
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>

#include "common/text.h"
#include "process/stop.h"
#include "store/db.h"

namespace store {

namespace {

// '?' placeholders become $1, $2, ...: the store's statements hold no '?'
// in their literals.
std::string numbered(const std::string& sql) {
    std::string out;
    int n = 0;
    for (char c : sql) {
        if (c == '?') out += "$" + std::to_string(++n);
        else out += c;
    }
    return out;
}

// The server keeps text as UTF-8 and cannot hold a NUL: stray bytes from a
// damaged file become U+FFFD instead of failing the whole record.
std::string server_text(const std::string& s) {
    std::string out;
    for (char c : common::valid_utf8(s)) out += c ? std::string(1, c) : "\xEF\xBF\xBD";
    return out;
}

class PgDb : public Db {
public:
    PgDb(const std::string& url, bool read_only) {
        // A server that does not answer must not hold up a run for long; a
        // connect_timeout in the address comes later and wins.
        const std::string address = common::escape_uri_password(url);
        const std::string limit = std::to_string(wait_limit_s);
        const char* const keys[] = {"connect_timeout", "dbname", nullptr};
        const char* const values[] = {limit.c_str(), address.c_str(), nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            std::string why = conn_ ? PQerrorMessage(conn_) : "out of memory";
            PQfinish(conn_);
            conn_ = nullptr;
            while (!why.empty() && why.back() == '\n') why.pop_back();
            throw StoreError("cannot connect to " + display_url(url) + ": " + why);
        }
        query("SET client_min_messages = warning");
        // A table locked elsewhere or a stalled server ends a statement
        // within the limit; the lock wait ends first, so its message is the one seen.
        query("SET statement_timeout = " + std::to_string(wait_limit_s * 1000));
        query("SET lock_timeout = " + std::to_string(wait_limit_s * 1000 / 2));
        if (read_only) query("SET default_transaction_read_only = on");
    }
    ~PgDb() override { PQfinish(conn_); }
    Kind kind() const override { return Kind::postgresql; }

    std::vector<Row> execute(const std::string& sql, const std::vector<Value>& params) override {
        std::vector<std::string> texts;
        texts.reserve(params.size());
        std::vector<const char*> values;
        for (const auto& p : params) {
            texts.push_back(p ? server_text(*p) : std::string());
            values.push_back(p ? texts.back().c_str() : nullptr);
        }
        PGresult* r = run(numbered(sql), values);
        const auto status = PQresultStatus(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            std::string why = PQresultErrorMessage(r);
            if (why.empty()) why = PQerrorMessage(conn_);
            PQclear(r);
            while (!why.empty() && why.back() == '\n') why.pop_back();
            throw StoreError("PostgreSQL: " + why);
        }
        std::vector<Row> rows;
        const int n = PQntuples(r), columns = PQnfields(r);
        for (int i = 0; i < n; ++i) {
            Row row;
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(r, i, c)) row.emplace_back(std::nullopt);
                else row.emplace_back(std::string(PQgetvalue(r, i, c),
                                                  static_cast<std::size_t>(PQgetlength(r, i, c))));
            }
            rows.push_back(std::move(row));
        }
        PQclear(r);
        return rows;
    }

    void begin_write() override { query("BEGIN"); }

private:
    // The statement sent, and its answer awaited in short slices: a stop
    // signal cancels it on the server at once rather than after the lock or
    // statement time-out.
    PGresult* run(const std::string& sql, const std::vector<const char*>& values) {
        if (!PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                               values.data(), nullptr, nullptr, 0))
            return nullptr;  // the caller reads PQerrorMessage
        bool cancelled = false;
        while (PQisBusy(conn_)) {
            pollfd p{PQsocket(conn_), POLLIN, 0};
            if (poll(&p, 1, 200) < 0 && errno != EINTR) break;
            if (!PQconsumeInput(conn_)) break;
            if (!cancelled && process::stop_signal()) {
                cancelled = true;
                char why[256];
                if (PGcancel* c = PQgetCancel(conn_)) {
                    PQcancel(c, why, sizeof why);
                    PQfreeCancel(c);
                }
            }
        }
        PGresult* last = nullptr;
        while (PGresult* r = PQgetResult(conn_)) {
            PQclear(last);
            last = r;
        }
        return last;
    }

    PGconn* conn_ = nullptr;
};

}  // namespace

std::unique_ptr<Db> open_postgresql(const std::string& url, bool read_only) {
    return std::make_unique<PgDb>(url, read_only);
}

}  // namespace store
