// The HTML page as a browser shows it: headless Chromium loads it from disk,
// with no network, and reports what it rendered.
#include <gtest/gtest.h>

#include <filesystem>

#include "command.h"
#include "test_data.h"

using namespace report_test;

namespace {

std::string browser() {
    for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (std::filesystem::exists(p)) return p;
    return {};
}

std::vector<std::string> browser_args(const TempDir& dir, const std::string& profile) {
    return {browser(),
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--user-data-dir=" + dir.path(profile),
            "--window-size=1200,2000"};
}

}  // namespace

TEST(ReportPage, RendersItsTablesAndEveryPlot) {
    if (browser().empty()) GTEST_SKIP() << "chromium is not installed";
    TempDir dir;
    const Result made = run({SUITE_REPORT, data(""), "--quiet", "--html", dir.path("report.html")}, dir);
    ASSERT_EQ(made.status, 0) << made.err;

    // The page has no script of its own; this copy gets one that records, after
    // loading, how many images decoded, what the first table is, which plots sit
    // in their program's section to the right of its tables, and which sections
    // end with their metadata folded.
    const std::string page = read_text(dir.path("report.html"));
    const std::string probe = R"(<script>window.addEventListener('load', () => {
      const i = [...document.images], b = document.body.dataset;
      b.images = i.filter(x => x.complete && x.naturalWidth > 0).length + '/' + i.length;
      const t = document.querySelector('table');
      b.firstTable = t.previousElementSibling.id + ':' + t.rows.length + ':' + t.rows[0].cells[1].textContent;
      b.placed = i.filter(x => {
        const s = x.closest('section.program');
        return s && s.id === 'program-' + x.alt.split(':')[0] &&
          x.getBoundingClientRect().left >= s.querySelector('.tables').getBoundingClientRect().right;
      }).length + '/' + i.length;
      const s = [...document.querySelectorAll('section.program')];
      b.sections = s.map(x => x.id).join(',');
      b.folded = s.filter(x => x.lastElementChild.tagName === 'DETAILS' && !x.lastElementChild.open)
        .map(x => x.id).join(',');
    });</script></body>)";
    write_text(dir.path("probe.html"), replaced(page, "</body>", probe));

    auto args = browser_args(dir, "profile-dom");
    args.push_back("--virtual-time-budget=5000");
    args.push_back("--dump-dom");
    args.push_back("file://" + dir.path("probe.html"));
    const Result dom = run(args, dir);
    ASSERT_EQ(dom.status, 0) << dom.err;
    EXPECT_NE(dom.out.find("data-images=\"7/7\""), std::string::npos) << dom.out.substr(0, 400);
    // The overview: a header and one row per results file read.
    EXPECT_NE(dom.out.find("data-first-table=\"overview:12:run\""), std::string::npos);
    EXPECT_NE(dom.out.find("data-placed=\"7/7\""), std::string::npos);
    EXPECT_NE(dom.out.find("data-sections=\"program-cube,program-screens,program-triangles\""),
              std::string::npos);
    EXPECT_NE(dom.out.find("data-folded=\"program-cube\""), std::string::npos);  // only cube has metadata
    EXPECT_NE(dom.out.find("<h3 class=\"run\">run-20261207-084710/cube</h3>"), std::string::npos);
    EXPECT_NE(dom.out.find("llvmpipe (LLVM 15.0.6, 256 bits)"), std::string::npos);
    EXPECT_NE(dom.out.find("triangles per second against triangles per frame"), std::string::npos);

    auto shot = browser_args(dir, "profile-shot");
    shot.push_back("--screenshot=" + dir.path("page.png"));
    shot.push_back("file://" + dir.path("report.html"));
    const Result taken = run(shot, dir);
    ASSERT_EQ(taken.status, 0) << taken.err;
    // A blank page compresses to a few kilobytes; tables and plots take far more.
    EXPECT_GT(std::filesystem::file_size(dir.path("page.png")), 50000u);
}
