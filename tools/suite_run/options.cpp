#include "suite_run/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <tuple>
#include <utility>

#include "common/secrets.h"
#include "common/text.h"
#include "driver/driver.h"
#include "texts/texts.h"

namespace suite_run {

namespace {
// Long enough for any run, short enough that no wait overflows.
constexpr double longest_wait = 1e6;

std::string check_seconds(const std::string& text) {
    char* end = nullptr;
    const double s = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(s) || s <= 0 || s > longest_wait)
        return "must be a number of seconds above 0 and at most 1000000, not " + text;
    return "";
}

// The largest side X allows; an existing display's own screen is checked once it is open.
constexpr int x_side_limit = 32767;

// "WxH" in whole pixels, each at most the given sides.
std::optional<std::pair<int, int>> parse_size(const std::string& text, int most_w = x_side_limit,
                                              int most_h = x_side_limit) {
    int w = 0, h = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    auto [after_w, e1] = std::from_chars(p, end, w);
    if (e1 == std::errc() && after_w < end && *after_w == 'x') {
        auto [after_h, e2] = std::from_chars(after_w + 1, end, h);
        if (e2 == std::errc() && after_h == end && after_w != p && w >= 1 && h >= 1 &&
            w <= most_w && h <= most_h)
            return std::make_pair(w, h);
    }
    return std::nullopt;
}

std::string size_limits(int most_w, int most_h, const std::string& text) {
    return "must be WxH with 1 <= W <= " + std::to_string(most_w) + " and 1 <= H <= " +
           std::to_string(most_h) + ", not " + text;
}

std::string check_size(const std::string& text) {
    return parse_size(text) ? "" : size_limits(x_side_limit, x_side_limit, text);
}

// "auto", or a whole number of rounds from 1 to 100000.
std::string check_rounds(const std::string& text) {
    if (text == "auto") return "";
    int n = 0;
    const auto [end, e] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (e == std::errc() && end == text.data() + text.size() && n >= 1 && n <= 100000) return "";
    return "must be auto or a whole number from 1 to 100000";
}

[[noreturn]] void usage_error(const std::string& why, const std::string& usage) {
    std::cerr << "suite-run: " << common::terminal_safe(common::mask_secrets(why)) << "\n"
              << usage;
    std::exit(2);
}

// --on-display's display: the one given, else $DISPLAY. A display name has a
// colon; a program's name right after the option is taken as the program.
void choose_display(options& o, const std::vector<std::string>& programs,
                    const std::string& usage) {
    const auto is_program = [&](const std::string& n) {
        return std::find(programs.begin(), programs.end(), n) != programs.end();
    };
    if (!o.on_display.empty() && o.on_display.find(':') == std::string::npos) {
        if (!is_program(o.on_display))
            usage_error("--on-display: not a display name (such as :0): " + o.on_display, usage);
        o.names.insert(o.names.begin(), o.on_display);
        o.on_display.clear();
    }
    if (o.on_display.empty()) {
        const char* env = std::getenv("DISPLAY");
        if (!env || !*env) usage_error("--on-display: no display given and DISPLAY is not set", usage);
        o.on_display = env;
    }
    o.drive.on_display = true;
}

std::string footer() {
    std::string f = "programs:";
    for (auto& p : texts::programs) f += " " + std::string(p.name);
    return f + "\nWithout a display (or with --unattended) each program runs on a private X\n"
               "server; with --on-display it is driven the same way on your desktop. Every\n"
               "run goes into a new folder, never into an existing one.";
}
// The options as given, before they are checked against each other.
struct given {
    const std::vector<std::string>& variants;
    const std::string &size, &rounds;
    const std::vector<std::string>& names;
    bool on_display, max_time;
};

// Checks the options against each other and fills in what follows from them.
options finish_options(options o, const given& t, const std::string& help) {
    if (t.variants.size() > most_variants)
        usage_error("--variant: at most " + std::to_string(most_variants) + " variants, not " +
                        std::to_string(t.variants.size()),
                    help);
    if (!o.xorg_config.empty() && o.server != "xorg")
        usage_error("--xorg-config: only with --server xorg", help);
    if (t.on_display && !o.server.empty())
        usage_error("--on-display and --server: one display at a time", help);
    if (t.on_display) choose_display(o, t.names, help);
    if (!t.size.empty() && o.on_display.empty() &&
        !parse_size(t.size, driver::screen_width, driver::screen_height))
        usage_error("--size: " + size_limits(driver::screen_width, driver::screen_height, t.size),
                    help);
    if (const auto s = parse_size(t.size)) std::tie(o.drive.width, o.drive.height) = *s;
    for (const auto& text : t.variants) {
        std::string error;
        auto v = parse_variant(text, error);
        for (const auto& seen : o.variants)
            if (seen.name == v->name) {
                usage_error("--variant: the name " + v->name + " is given twice", "");
            }
        v->index = static_cast<int>(o.variants.size());
        o.variants.push_back(*v);
    }
    o.rounds = t.rounds == "auto" ? 0 : std::stoi(t.rounds);
    // One variant has nothing to be judged against: the two rounds it always had.
    if (o.rounds == 0 && o.variants.size() == 1) o.rounds = 2;
    if (o.rounds == 0 && !o.variants.empty() && o.until_stable == 0 && !t.max_time)
        o.max_time = 3600;
    return o;
}
}  // namespace

// Long as the list of options is: one declaration each, in the order --help shows them.
options parse_options(int argc, char** argv) {
    options o;
    CLI::App app{"suite-run: runs the benchmarks one after another and keeps beside their "
                 "results what explains them."};
    app.footer(footer());
    auto* unattended = app.add_flag("--unattended", o.unattended,
                 "drive the programs on a private Xvfb even when a display is\n"
                 "set; software rendering: use --on-display or --server xorg for the GPU");
    app.add_option("--server", o.server,
                   "the private X server: xvfb (the default without a display) or\n"
                   "xorg, started on the GPU found (the dummy driver without one),\n"
                   "its xorg.conf and xorg.log kept in the run folder")
        ->check(CLI::IsMember({"xvfb", "xorg"}));
    app.add_option("--xorg-config", o.xorg_config,
                   "with --server xorg: this config instead of one written for the\n"
                   "GPUs found (a copy is kept as xorg.conf)")
        ->check(CLI::Validator(
            [](std::string& s) { return s.empty() ? "must name a file" : ""; }, "FILE"));
    auto* on_display =
        app.add_option("--on-display", o.on_display,
                       "[DISPLAY] drive the programs unattended on an existing display\n"
                       "(default: $DISPLAY), your desktop with its window manager:\n"
                       "keys go to the program's window alone, the screen saver and\n"
                       "power saving are held off until the run ends")
            ->expected(0, 1)
            ->excludes(unattended);
    app.add_option("--frames", o.drive.frames,
                   "measured frames before Esc (default: cube 3, screens 10,\n"
                   "triangles until it ends itself at its limit)")
        ->check(CLI::Range(1, 1000000000));
    std::string size;
    app.add_option("--size", size,
                   "resize each window before it starts animating (default:\n"
                   "the programs' own 1440x1440, triangles 64x64); at most the\n"
                   "private server's " + std::to_string(driver::screen_width) + "x" +
                       std::to_string(driver::screen_height) + ", or the screen's with --on-display")
        ->check(CLI::Validator(check_size, "WxH"));
    auto* repeat = app.add_option("--repeat", o.repeat, "run the whole set N times")
        ->check(CLI::Range(1, 1000000));
    app.add_option("--until-stable", o.until_stable,
                   "repeat each program until the 95% interval of its average\n"
                   "across runs is within +-PCT percent (at least 3 runs)")
        ->check(CLI::Range(0.01, 100.0))
        ->excludes(repeat);
    app.add_option("--max-repeat", o.max_repeat,
                   "with --until-stable: runs of each program at most (default 10)")
        ->check(CLI::Range(3, 1000));
    auto* max_time = app.add_option("--max-time", o.max_time,
                   "with --until-stable or --rounds auto: seconds after which no\n"
                   "new round starts (default 7200, 3600 for --rounds auto alone)")
        ->check(CLI::Validator(check_seconds, "SECONDS"));
    std::vector<std::string> variant_texts;
    auto* variants =
        app.add_option("--variant", variant_texts,
                       "NAME[:VAR=VALUE[,VAR=VALUE...]]: a variant of the suite, its\n"
                       "programs run with that environment (bin=DIR: programs from\n"
                       "DIR); give two or more, the first is A, to run them\n"
                       "alternately (A B B A ...) on one X server")
            ->check(CLI::Validator(
                [](std::string& s) {
                    std::string error;
                    return parse_variant(s, error) ? "" : error;
                },
                "VARIANT"))
            ->excludes(repeat);
    std::string rounds = "auto";
    app.add_option("--rounds", rounds,
                   "with --variant: N rounds, each running every variant once, in\n"
                   "turn forwards and backwards; auto (the default): rounds until\n"
                   "each program's answer is clear (faster, slower or the same\n"
                   "within --practical), at most --max-rounds")
        ->check(CLI::Validator(check_rounds, "N|auto"))
        ->needs(variants);
    app.add_option("--max-rounds", o.max_rounds,
                   "with --rounds auto: rounds at most (default 10)")
        ->check(CLI::Range(2, 1000))
        ->needs(variants);
    app.add_option("--practical", o.practical,
                   "with --rounds auto: PCT percent, within which two variants are\n"
                   "the same (default 1)")
        ->check(CLI::Range(0.01, 50.0))
        ->needs(variants);
    app.add_option("--out", o.out,
                   "run folder, which must not exist yet (default:\n"
                   "results/run-DATE-TIME, numbered when taken)")
        ->check(CLI::Validator(
            [](std::string& s) { return s.empty() ? "must name a folder" : ""; }, "DIR"));
    const CLI::Validator seconds(check_seconds, "SECONDS");
    app.add_option("--hang-after", o.drive.hang_after,
                   "seconds without a new frame before a program counts as\n"
                   "hung (default 300: a software-rendered frame can take a minute)")
        ->check(seconds);
    app.add_option("--window-timeout", o.drive.window_timeout,
                   "seconds to wait for a window (default 300)")
        ->check(seconds);
    app.add_option("--init-timeout", o.drive.init_timeout,
                   "seconds to wait for the workload to be built (default 600)")
        ->check(seconds);
    app.add_option("--bin-dir", o.bin_dir,
                   "where the programs are (default: beside this runner's build)");
    app.add_flag("--vsync", o.vsync,
                 "keep the drivers' sync to the display's refresh (by default\n"
                 "the runner sets vblank_mode=0 and __GL_SYNC_TO_VBLANK=0)");
    app.add_flag("--require-hardware", o.require_hardware,
                 "end the run (exit status 1) before any program starts when\n"
                 "the GL of any variant renders in software, or cannot be probed");
    app.add_option("--db", o.db,
                   "the results store: an SQLite file, postgresql://... or\n"
                   "host=... dbname=... (a password in it is recorded as ***)\n"
                   "(default: $SUITE_DB, else suite.db beside the run folder)")
        ->envname("SUITE_DB");
    app.add_option("--tag", o.tag, "tag the runs in the store (a baseline for suite-report check)");
    std::vector<std::string> names;
    for (auto& p : texts::programs) names.emplace_back(p.name);
    app.add_option("program", o.names, "programs to run (default: all)")
        ->check(CLI::IsMember(names));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        std::exit(0);
    } catch (const CLI::ParseError& e) {
        // The message may quote what was given: no secret, no control character.
        usage_error(e.what(), app.help());
    }
    return finish_options(o, {variant_texts, size, rounds, names, on_display->count() > 0,
                              max_time->count() > 0},
                          app.help());
}

}  // namespace suite_run
