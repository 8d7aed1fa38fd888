// suite-report site over a real SQLite store: the site swapped in whole, its
// matrix judged as check judges, a hostile name shown as text by headless
// Chromium, and every link of the site resolving.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <regex>

#include <nlohmann/json.hpp>

#include "pg_server.h"
#include "command.h"
#include "record/run_record.h"
#include "store/store.h"
#include "store/triage.h"
#include "synthetic_runs.h"

namespace fs = std::filesystem;
using namespace report_test;

namespace {

const std::string hostile = "<img src=x onerror=\"document.title='owned'\"></script>javascript:x";
const std::string old_gl = "4.5 Mesa 22.3.6", new_gl = "4.5 Mesa 23.1.0";

// `n` daily screens runs of `host` with 2% noise; from run `step` frames take
// 10% longer and the GL version is another.
void write_history(const std::string& folder, const std::string& host, int n, int step,
                   double base_ms = 40) {
    std::mt19937 random(static_cast<unsigned>(host.size()));
    std::normal_distribution<double> level(1, 0.02);
    for (int i = 0; i < n; ++i) {
        char date[32];
        std::snprintf(date, sizeof date, "2026-%02d-%02dT12:00:00+0000", 10 + i / 28, 1 + i % 28);
        const double ms = std::round(base_ms * (i >= step ? 1.10 : 1) * level(random));
        const std::string run = folder + "/" + std::to_string(i);
        write_screens_run(run + "/screens", std::vector<double>(20, ms));
        record::RunRecord meta;
        meta.format = record::run_record_format;
        meta.machine.host = host;
        meta.machine.date = date;
        meta.gl.renderer = "llvmpipe";
        meta.gl.version = i >= step ? new_gl : old_gl;
        meta.run.program = "screens";
        meta.run.window_size = "1440x1440";
        meta.run.date = date;
        meta.run.load = nlohmann::json{{"measured",
                                        {{"cores", 2}, {"others_cores", 0.12},
                                         {"program_cpu_ms_per_frame", {{"user", 30}, {"system", 11}}}}}};
        write_text(run + "/screens/metadata.json", nlohmann::json(meta).dump());
    }
}

using store_test::pg;

// JSON for the probe's own script: no "</" that would end it.
std::string in_script(const nlohmann::json& j) {
    std::string text = j.dump();
    for (auto at = text.find("</"); at != std::string::npos; at = text.find("</", at))
        text.replace(at, 2, "<\\/");
    return text;
}

std::string browser() { return fs::exists("/usr/bin/chromium") ? "/usr/bin/chromium" : ""; }

// The page as Chromium leaves its DOM once `probe` (a script's body) has run
// after loading; its errors and those of the page's own scripts counted in
// data-errors.
Result rendered(const TempDir& scratch, const std::string& page, const std::string& probe) {
    const std::string copy = fs::path(page).parent_path() / "probe.html";
    const std::string script =
        "<script>window.errors = 0; window.addEventListener('error', () => ++window.errors);"
        "window.addEventListener('load', () => setTimeout(() => { try {" + probe +
        "} catch (e) { ++window.errors; } document.body.dataset.errors = window.errors; }, 500));"
        "</script>";
    write_text(copy, replaced(read_text(page), "<head>", "<head>" + script));
    const Result r = run({browser(), "--headless", "--no-sandbox", "--disable-gpu",
                          "--no-first-run", "--disable-background-networking",
                          "--user-data-dir=" + scratch.path("profile"),
                          "--virtual-time-budget=3000", "--dump-dom", "file://" + copy},
                         scratch);
    fs::remove(copy);
    return r;
}

// Every relative href and src of every page, and every link of the pages'
// data files: a file of the site. Counts the links in `checked`.
std::vector<std::string> broken_links(const std::string& site, std::size_t& checked) {
    std::vector<std::string> broken;
    const std::regex page_link(R"re((?:href|src)="([^"#:]*)[^"]*")re");
    const std::regex data_link(R"re("link":"([^"]+)")re");
    for (const auto& e : fs::recursive_directory_iterator(site)) {
        const bool page = e.path().extension() == ".html";
        if (!page && e.path().extension() != ".js") continue;
        const std::string text = read_text(e.path().string());
        for (std::sregex_iterator m(text.begin(), text.end(), page ? page_link : data_link), end;
             m != end; ++m) {
            if ((*m)[1].str().empty() || (*m)[0].str().find("file:") != std::string::npos) continue;
            ++checked;
            if (!fs::is_regular_file(e.path().parent_path() / (*m)[1].str()))
                broken.push_back(e.path().string() + ": " + (*m)[1].str());
        }
    }
    return broken;
}

}  // namespace

class SiteTest : public ::testing::Test {
protected:
    Result report(std::vector<std::string> args) {
        args.insert(args.begin(), SUITE_REPORT);
        return run(args, scratch);
    }
    // Generations of the site `name` beside it.
    std::size_t generations(const std::string& name) {
        std::size_t n = 0;
        for (const auto& e : fs::directory_iterator(scratch.path("")))
            n += e.path().filename().string().rfind("." + name + ".site-", 0) == 0;
        return n;
    }
    TempDir scratch;
};

TEST_F(SiteTest, AGenerationReplacesTheLastWholeAndNothingElseIsReplaced) {
    write_history(scratch.path("runs"), "lab", 8, 8);
    const std::string db = scratch.path("suite.db"), site = scratch.path("site");
    ASSERT_EQ(report({"import", scratch.path("runs"), "--db", db}).status, 0);
    const auto first = report({"site", "--db", db, "--out", site});
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_TRUE(fs::is_symlink(site));
    const auto before = fs::read_symlink(site);
    EXPECT_TRUE(fs::exists(site + "/index.html"));
    ASSERT_EQ(report({"site", "--db", db, "--out", site}).status, 0);
    EXPECT_NE(fs::read_symlink(site), before);
    EXPECT_EQ(generations("site"), 1u);

    // A damaged store leaves the site as it was.
    write_text(scratch.path("damaged.db"), std::string(4096, 'x'));
    const auto damaged = report({"site", "--db", scratch.path("damaged.db"), "--out", site});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("cannot write the site"), std::string::npos) << damaged.err;
    EXPECT_EQ(generations("site"), 1u);
    EXPECT_TRUE(fs::exists(site + "/index.html"));

    // A folder, a file, or a link to anything but a generation: refused, kept.
    write_text(scratch.path("mine/notes.txt"), "keep");
    write_text(scratch.path("file.txt"), "keep");
    fs::create_directory_symlink("mine", scratch.path("link"));
    for (const char* other : {"mine", "file.txt", "link"}) {
        const auto r = report({"site", "--db", db, "--out", scratch.path(other)});
        EXPECT_EQ(r.status, 2) << other;
        EXPECT_NE(r.err.find("refusing"), std::string::npos) << r.err;
    }
    EXPECT_EQ(read_text(scratch.path("mine/notes.txt")), "keep");
    EXPECT_EQ(read_text(scratch.path("file.txt")), "keep");
    EXPECT_EQ(fs::read_symlink(scratch.path("link")), "mine");
}

TEST_F(SiteTest, TheMatrixMarksTheSteppedSeriesAndShowsAHostileNameAsText) {
    // "lab" slows by 10% at its last three runs; the hostile machine does not.
    write_history(scratch.path("runs/a"), "lab", 30, 27);
    write_history(scratch.path("runs/b"), hostile, 12, 12);
    const std::string db = scratch.path("suite.db"), site = scratch.path("site");
    ASSERT_EQ(report({"import", scratch.path("runs"), "--db", db}).status, 0);
    const auto made = report({"site", "--db", db, "--out", site});
    ASSERT_EQ(made.status, 0) << made.err;
    std::size_t links = 0;
    EXPECT_EQ(broken_links(site, links), std::vector<std::string>{});
    // The matrix's two cells, a series page's two, a run page's four and its data's link.
    EXPECT_GE(links, 2u + 2 * 4 + 42 * 5);
    // The two rows side by side, by compare's figures: the hostile machine
    // (A, first by name) faster than lab's stepped level.
    const std::string pairs = read_text(site + "/compare/index.html");
    ASSERT_EQ(count(pairs, ">compare</a>"), 1u) << pairs;
    const std::regex pair_link("href=\"([0-9a-f]+-[0-9a-f]+[.]html)\"");
    std::smatch p;
    ASSERT_TRUE(std::regex_search(pairs, p, pair_link));
    const std::string pair = read_text(site + "/compare/" + p[1].str());
    EXPECT_NE(pair.find("<td>Characters/sec</td>"), std::string::npos) << pair;
    EXPECT_NE(pair.find("<td class=\"better\">faster</td>"), std::string::npos) << pair;
    EXPECT_EQ(pair.find("class=\"worse\""), std::string::npos) << pair;
    if (browser().empty()) GTEST_SKIP() << "chromium is not installed";

    // What a reader sees: the machines' names as text, the stepped cell
    // marked worse, and "only what changed" leaving the other row out.
    const auto dom = rendered(scratch, site + "/index.html",
                              "const expected = " + in_script(nlohmann::json::array({hostile, "lab"})) + R"(;
      const b = document.body.dataset, rows = [...document.querySelectorAll('#matrix tbody tr')];
      const names = rows.map(r => r.querySelector('th.machine').textContent);
      b.machines = names.length === 2 && names.every((n, i) => n === expected[i]) ? 'as text' : 'no';
      b.images = document.querySelectorAll('img').length;
      b.worse = rows.filter(r => r.querySelector('td.worse')).map(r => r.dataset.machine).join();
      const only = document.getElementById('only-changed');
      only.checked = true;
      only.dispatchEvent(new Event('change'));
      b.shown = rows.filter(r => !r.hidden).map(r => r.dataset.machine).join();
      b.labSeries = rows.find(r => r.dataset.machine === 'lab').querySelector('a')
        .getAttribute('href').replace(/^series\/|[.]html$/g, '');)");
    ASSERT_EQ(dom.status, 0) << dom.err;
    EXPECT_NE(dom.out.find("data-machines=\"as text\""), std::string::npos) << dom.out.substr(0, 3000);
    std::smatch m;
    EXPECT_NE(dom.out.find("data-images=\"0\""), std::string::npos);
    EXPECT_NE(dom.out.find("data-worse=\"lab\""), std::string::npos) << dom.out;
    EXPECT_NE(dom.out.find("data-shown=\"lab\""), std::string::npos);
    EXPECT_EQ(dom.out.find("<title>owned"), std::string::npos);
    EXPECT_NE(dom.out.find("data-errors=\"0\""), std::string::npos);

    // lab's trend: the step annotated with what changed, on the chart itself.
    ASSERT_TRUE(std::regex_search(dom.out, m, std::regex("data-lab-series=\"([0-9a-f]+)\"")));
    const std::string changed = "changed then: gl.version " + old_gl + " -> " + new_gl;
    const auto trend = rendered(scratch, site + "/series/" + m[1].str() + ".html",
                                "const b = document.body.dataset, changed = " +
                                    nlohmann::json(changed).dump() + R"(;
      const notes = [...document.querySelectorAll('.dygraph-annotation')];
      b.annotated = notes.filter(a => a.title.includes(changed)).length + '/' + notes.length;
      b.points = window.suiteSeries.points.length;)");
    ASSERT_EQ(trend.status, 0) << trend.err;
    EXPECT_NE(trend.out.find("data-errors=\"0\""), std::string::npos) << trend.out.substr(0, 2000);
    EXPECT_NE(trend.out.find("data-points=\"30\""), std::string::npos);
    EXPECT_NE(trend.out.find("data-annotated=\"1/1\""), std::string::npos)
        << trend.out.substr(0, 3000);

    // The hostile machine's own trend: its name in the heading as text.
    ASSERT_TRUE(std::regex_search(dom.out, m, std::regex("href=\"series/([0-9a-f]+)[.]html\"")));
    const auto other = rendered(scratch, site + "/series/" + m[1].str() + ".html",
                                "const name = " + in_script(nlohmann::json("screens on " + hostile)) + R"(;
      const b = document.body.dataset;
      b.heading = document.querySelector('h1').textContent.startsWith(name) ? 'as text' : 'no';
      b.title = document.title.startsWith(name) ? 'as text' : 'no';
      // The chart's own images are its range selector's handles.
      b.images = document.querySelectorAll('img:not(.dygraph-rangesel-zoomhandle)').length;)");
    EXPECT_NE(other.out.find("<body data-heading=\"as text\" data-title=\"as text\" data-images=\"0\""),
              std::string::npos) << other.out.substr(0, 1500);
    EXPECT_NE(other.out.find("data-errors=\"0\""), std::string::npos);

    // Triaged invalid, the change is left out of "only what changed".
    const auto steps = nlohmann::json::parse(report({"history", "--db", db, "--json", "-"}).out);
    for (const auto& g : steps)
        for (const auto& st : g["steps"])
            ASSERT_EQ(report({"triage", st["id"], "--state", "invalid", "--note", "noise", "--db", db})
                          .status, 0);
    ASSERT_EQ(report({"site", "--db", db, "--out", site}).status, 0);
    const auto after = rendered(scratch, site + "/index.html", R"(
      const only = document.getElementById('only-changed');
      only.checked = true;
      only.dispatchEvent(new Event('change'));
      document.body.dataset.shown = [...document.querySelectorAll('#matrix tbody tr')]
        .filter(r => !r.hidden).length;)");
    EXPECT_NE(after.out.find("data-shown=\"0\""), std::string::npos);
}

TEST_F(SiteTest, RunPagesLinkTheirReportWhereItIsAndOptionsChooseRunsAndBaseline) {
    write_history(scratch.path("runs"), "lab", 6, 6);
    write_text(scratch.path("runs/4/report.html"), "<p>report</p>");
    const std::string db = scratch.path("suite.db"), site = scratch.path("site");
    for (const char* run : {"0", "1", "2"})
        ASSERT_EQ(report({"import", scratch.path("runs/") + run, "--db", db, "--tag", "base"}).status, 0);
    ASSERT_EQ(report({"import", scratch.path("runs"), "--db", db}).status, 0);
    ASSERT_EQ(report({"site", "--db", db, "--out", site, "--baseline", "base"}).status, 0);
    EXPECT_NE(read_text(site + "/index.html").find("against the runs tagged base"), std::string::npos);
    std::vector<std::string> linked;
    std::size_t pages = 0;
    for (const auto& e : fs::directory_iterator(site + "/runs"))
        if (e.path().extension() == ".html") {
            ++pages;
            if (read_text(e.path().string()).find(">Its full report</a>") != std::string::npos)
                linked.push_back(read_text(e.path().string()));
        }
    EXPECT_EQ(pages, 6u);
    ASSERT_EQ(linked.size(), 1u);
    // The load its metadata sums up, quiet or busy.
    EXPECT_NE(linked[0].find("quiet: others used 0.12 of 2 cores; the program 41.0 ms CPU a frame"),
              std::string::npos) << linked[0];
    EXPECT_NE(linked[0].find("href=\"file://" + scratch.path("runs/4/report.html") + "\""),
              std::string::npos);

    // --since: the runs from that day on, and nothing older.
    ASSERT_EQ(report({"site", "--db", db, "--out", site, "--since", "2026-10-04"}).status, 0);
    pages = 0;
    for (const auto& e : fs::directory_iterator(site + "/runs")) pages += e.path().extension() == ".html";
    EXPECT_EQ(pages, 3u);
    EXPECT_EQ(report({"site", "--db", db, "--out", site, "--since", "4 Oct"}).status, 2);
}

// Past 64 rows of one size, each row is compared with the median row: the
// one nearest every program's median level, not the middle one by name.
TEST_F(SiteTest, ManyRowsAreEachComparedWithTheMedianRow) {
    for (int i = 0; i < 65; ++i) {
        const std::string host = (i < 10 ? "m0" : "m") + std::to_string(i);
        write_history(scratch.path("rows/" + host), host, 1, 2, 40 + (i * 7) % 65);
    }
    const std::string db = scratch.path("suite.db"), site = scratch.path("site");
    ASSERT_EQ(report({"import", scratch.path("rows"), "--db", db}).status, 0);
    ASSERT_EQ(report({"site", "--db", db, "--out", site}).status, 0);
    // Levels 40 + (7i mod 65) ms: the median, 72 ms, is m51's; m32 is the middle by name.
    const std::string index = read_text(site + "/compare/index.html");
    EXPECT_NE(index.find("each is compared with m51, "), std::string::npos) << index.substr(0, 3000);
    std::size_t pages = 0;
    for (const auto& e : fs::directory_iterator(site + "/compare")) pages += e.path().extension() == ".html";
    EXPECT_EQ(pages, 65u);  // 64 pairs and the index
}

class TriageTest : public SiteTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(TriageTest, AStateIsKeptByItsChangeAndListedWhenItsStepIsGone) {
    write_history(scratch.path("runs"), "lab", 30, 15);
    const std::string db = GetParam() == "sqlite" ? scratch.path("suite.db") : pg()->fresh();
    ASSERT_EQ(report({"import", scratch.path("runs"), "--db", db}).status, 0);
    auto steps = [&] {
        return nlohmann::json::parse(report({"history", "--db", db, "--json", "-"}).out)[0]["steps"];
    };
    // The step of the figure the site's trend draws, first in no list.
    std::size_t at = 0;
    const auto found = steps();
    while (at < found.size() && found[at]["figure"] != "Characters/sec") ++at;
    ASSERT_LT(at, found.size()) << found.dump();
    const std::string id = found[at]["id"];
    EXPECT_EQ(found[at]["state"], "");
    const std::string note = "driver update </script><b>expected</b>";
    const auto set = report({"triage", id, "--state", "invalid", "--note", note, "--db", db});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(steps()[at]["state"], "invalid");
    EXPECT_EQ(report({"triage", id, "--state", "fixed", "--note", "later", "--db", db}).status, 0);
    EXPECT_EQ(steps()[at]["state"], "fixed");
    const auto rows = store::triages(*store::open_store(db, false));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].note, "later");
    EXPECT_FALSE(rows[0].user.empty());
    EXPECT_EQ(rows[0].at.substr(0, 2), "20");

    // Not an identifier, or one of no step now: refused, nothing stored.
    EXPECT_EQ(report({"triage", "x'; DROP TABLE runs", "--state", "fixed", "--note", "n", "--db", db}).status, 2);
    const std::string elsewhere = id.substr(0, id.rfind('/') + 1) + "00000000";
    EXPECT_EQ(report({"triage", elsewhere, "--state", "fixed", "--note", "n", "--db", db}).status, 1);
    EXPECT_EQ(store::triages(*store::open_store(db, false)).size(), 1u);

    // A triage whose step moved away is listed apart, not lost.
    store::set_triage(*store::open_store(db, false), {elsewhere, "acknowledged", note, "2026-12-01 10:00:00", "ann"});
    const auto text = report({"history", "--db", db});
    EXPECT_NE(text.out.find("triaged change no longer found: " + elsewhere + ": acknowledged"),
              std::string::npos) << text.out;
    EXPECT_NE(text.out.find(id + ": fixed"), std::string::npos) << text.out;

    // The site shows both: the state beside its change, the lost one apart.
    const auto made = report({"site", "--db", db, "--out", scratch.path("site")});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string index = read_text(scratch.path("site/index.html"));
    EXPECT_NE(index.find("<li>" + elsewhere + ": acknowledged, &quot;driver update &lt;/script&gt;"),
              std::string::npos) << index;
    const std::string series = id.substr(0, id.find('/'));
    const std::string page = read_text(scratch.path("site/series/" + series + ".html"));
    EXPECT_NE(page.find("</td><td>fixed</td><td><code>" + id + "</code>"), std::string::npos) << page;
    EXPECT_NE(read_text(scratch.path("site/series/" + series + ".js")).find(" [fixed]"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, TriageTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });
