// A real PostgreSQL server for the store's tests: made with initdb in a
// temporary folder owned by nobody (the server refuses to run as root),
// listening only on a Unix socket there, stopped and removed at the end.
// Given a password, the server asks every client for it (SCRAM).
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "command.h"
#include "store/db.h"

namespace store_test {

// The server's programs: Debian keeps them out of PATH, under the major
// version; the newest installed is used. Looked up when the tests run, so
// that the build need not wait for the server's package.
inline std::string pg_bin() {
    std::filesystem::path best;
    long newest = 0;
    std::error_code e;
    for (const auto& d : std::filesystem::directory_iterator("/usr/lib/postgresql", e)) {
        const long version = std::strtol(d.path().filename().c_str(), nullptr, 10);
        if (version <= newest || !std::filesystem::exists(d.path() / "bin/initdb")) continue;
        newest = version;
        best = d.path() / "bin";
    }
    if (best.empty()) throw std::runtime_error("PostgreSQL's initdb was not found (Debian: postgresql)");
    return best.string();
}

class PgServer {
public:
    explicit PgServer(std::string password = "") : password_(std::move(password)) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || chown(dir_.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
            throw std::runtime_error("cannot hand the server's folder to nobody");
        std::vector<std::string> init = {bin_ + "/initdb", "-D", dir_.path("data"), "-U", "suite",
                                         "--no-sync", "-E", "UTF8", "-A", "trust"};
        if (!password_.empty()) {
            report_test::write_text(dir_.path("pw"), password_ + "\n");
            init.back() = "scram-sha-256";
            init.push_back("--pwfile=" + dir_.path("pw"));
        }
        as_nobody(init);
        as_nobody({bin_ + "/pg_ctl", "-D", dir_.path("data"), "-l", dir_.path("server.log"), "-w",
                   "-o", "-k " + dir_.path() + " -c listen_addresses='' -c fsync=off", "start"});
        started_ = true;
    }
    ~PgServer() {
        if (started_) as_nobody({bin_ + "/pg_ctl", "-D", dir_.path("data"), "-m", "fast", "-w", "stop"}, false);
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // With the password in the query, where an '@' needs no escape.
    std::string url(const std::string& db) const {
        return "postgresql:///" + db + "?host=" + dir_.path() + "&user=suite" +
               (password_.empty() ? "" : "&password=" + password_);
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
    std::string password_;
    std::string bin_ = pg_bin();
    report_test::TempDir dir_, scratch_;
    bool started_ = false;
    std::atomic<int> count_{0};
};

// One server for the whole test binary, started by the first test that
// needs it and stopped after the last.
inline std::unique_ptr<PgServer>& pg() {
    static std::unique_ptr<PgServer> server;
    if (!server) server = std::make_unique<PgServer>();
    return server;
}
struct StopServer : ::testing::Environment {
    void TearDown() override { pg().reset(); }
};
inline const auto* const stop_server = ::testing::AddGlobalTestEnvironment(new StopServer);

}  // namespace store_test
