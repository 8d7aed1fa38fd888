// A real PostgreSQL server for the store's tests: made with initdb in a
// temporary folder owned by nobody (the server refuses to run as root),
// listening only on a Unix socket there, stopped and removed at the end.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "db.h"
#include "process.h"

namespace store_test {

class PgServer {
public:
    PgServer() {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || chown(dir_.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
            throw std::runtime_error("cannot hand the server's folder to nobody");
        as_nobody({PG_BIN "/initdb", "-D", dir_.path("data"), "-A", "trust", "-U", "suite",
                   "--no-sync", "-E", "UTF8"});
        as_nobody({PG_BIN "/pg_ctl", "-D", dir_.path("data"), "-l", dir_.path("server.log"), "-w",
                   "-o", "-k " + dir_.path() + " -c listen_addresses='' -c fsync=off", "start"});
        started_ = true;
    }
    ~PgServer() {
        if (started_) as_nobody({PG_BIN "/pg_ctl", "-D", dir_.path("data"), "-m", "fast", "-w", "stop"}, false);
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    std::string url(const std::string& db) const {
        return "postgresql:///" + db + "?host=" + dir_.path() + "&user=suite";
    }
    // An empty database of its own for each test.
    std::string fresh() {
        const std::string name = "t" + std::to_string(++count_);
        store::open_db(url("postgres"), false)->query("CREATE DATABASE " + name);
        return url(name);
    }
    std::string folder() const { return dir_.path(); }

private:
    void as_nobody(std::vector<std::string> argv, bool must = true) {
        argv.insert(argv.begin(), {"runuser", "-u", "nobody", "--"});
        const auto r = report_test::run(argv, scratch_);
        if (must && r.status != 0)
            throw std::runtime_error(argv[4] + " failed: " + r.out + r.err +
                                     report_test::read_text(dir_.path("server.log")));
    }
    report_test::TempDir dir_, scratch_;
    bool started_ = false;
    std::atomic<int> count_{0};
};

}  // namespace store_test
