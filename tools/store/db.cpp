#include "store/db.h"

namespace store {

void Db::rollback() noexcept {
    try {
        query("ROLLBACK");
    } catch (const StoreError&) {
        // Nothing to undo, or the connection is gone: either way nothing was kept.
    }
}

namespace {
bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// libpq's key=value form: its first word one of libpq's keys, then '='.
bool is_keywords(const std::string& s) {
    static const char* const keys[] = {"host", "hostaddr", "port", "dbname", "user", "password",
                                       "passfile", "service", "sslmode", "connect_timeout",
                                       "application_name", "options"};
    const auto begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) return false;
    const auto end = s.find_first_not_of("abcdefghijklmnopqrstuvwxyz_", begin);
    if (end == std::string::npos) return false;
    const auto eq = s.find_first_not_of(" \t", end);
    if (eq == std::string::npos || s[eq] != '=') return false;
    for (const char* key : keys)
        if (s.compare(begin, end - begin, key) == 0) return true;
    return false;
}
}  // namespace

std::unique_ptr<Db> open_db(const std::string& url, bool create, bool read_only) {
    // Hidden from every message from now on, libpq's own quoting it included.
    common::remember_secrets_of(url);
    if (starts_with(url, "postgresql://") || starts_with(url, "postgres://") || is_keywords(url))
        return open_postgresql(url, read_only);
    const std::string path = starts_with(url, "sqlite:") ? url.substr(7) : url;
    if (path.empty()) throw StoreError("no store named: the database URL is empty");
    return open_sqlite(path, create && !read_only, read_only);
}

std::string display_url(const std::string& url) { return common::mask_secrets(url); }

}  // namespace store
