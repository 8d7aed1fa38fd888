// Variant runs whose rounds go on until the answer is clear, on the real
// programs and the two software drivers at hand: llvmpipe and the far slower
// softpipe, and two identical variants. Run alone (RUN_SERIAL): beside other
// tests the machine is busy and the report withholds its verdicts.
#include <unistd.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "runner_tools.h"
#include "session.h"

namespace {

using e2e::read_json;
using e2e::run;

class RunnerAb : public e2e::RunnerSession {};

// softpipe against llvmpipe: the rule stops within three rounds, "slower";
// compare gives one verdict for the frame time and the rate, with positive,
// reciprocal intervals; the closing screen gives that answer first.
TEST_F(RunnerAb, AClearDifferenceStopsEarlyWithOneAnswerInEveryRow) {
    const std::string out = directory + "/ab";
    const auto r = run(runner("--frames 5 --size 200x200 --variant llvmpipe --variant "
                              "soft:GALLIUM_DRIVER=softpipe --out '" + out + "' --db '" +
                              directory + "/s.db' screens"));
    ASSERT_TRUE(r.status == 0 || r.output.find("FAILED: screens: crashed") != std::string::npos)
        << r.output;
    const auto set = read_json(out + "/run.json");
    ASSERT_TRUE(set.is_object()) << r.output;
    EXPECT_EQ(set["rounds_auto"].value("max_rounds", 0), 10);
    const auto& stop = set["rounds_stopped"]["screens"];
    EXPECT_EQ(stop.value("stopped", ""), "decided") << set.dump();
    // Stopped early: at this size the runs of one driver can spread by 15%, so
    // the rounds it takes vary (the simulation gives the rates), but a
    // difference of twice or more practically never needs all ten.
    EXPECT_LT(stop.value("rounds", 99), 10) << set.dump();
    EXPECT_EQ(stop["variants"]["soft"].value("answer", ""), "slower") << set.dump();

    const auto c = run("'" SUITE_REPORT_EXE "' compare '" + out + "' -q --json '" + directory +
                       "/c.json'");
    const auto j = read_json(directory + "/c.json");
    ASSERT_TRUE(j.is_object()) << c.output.substr(0, 2000);
    const auto& figures = j["comparison"]["programs"].at(0)["figures"];
    ASSERT_EQ(figures.size(), 2u);
    const auto &time = figures[0], &rate = figures[1];
    EXPECT_EQ(time.value("verdict", "?"), rate.value("verdict", "!"));
    EXPECT_GT(time["interval"].at(0).get<double>(), 1) << time.dump();
    EXPECT_NEAR(time["interval"].at(0).get<double>() * rate["interval"].at(1).get<double>(), 1,
                1e-6);
    EXPECT_NEAR(time["interval"].at(1).get<double>() * rate["interval"].at(0).get<double>(), 1,
                1e-6);
    const bool busy = time.value("verdict", "").find("busy") != std::string::npos;
    if (!busy) {
        EXPECT_EQ(rate.value("verdict", ""), "slower") << rate.dump();
    }

    // The closing screen: the answer first, then the store's earlier runs.
    const auto answer = r.output.find("each variant against the first");
    ASSERT_NE(answer, std::string::npos) << r.output;
    EXPECT_LT(answer, r.output.find("against the last comparable run"));
    EXPECT_NE(r.output.find(busy ? "inconclusive: " : "slower", answer), std::string::npos);
    EXPECT_NE(r.output.find("screens [soft]: " + std::to_string(stop.value("rounds", 0)) +
                                " rounds, decided: slower"),
              std::string::npos)
        << r.output;
}

// Two identical variants. Any answer may come by chance (the simulation
// shows how rarely a difference is called), so this checks only what
// cannot: a decided answer stops the rounds, an undecided one runs them all
// and says why, and the records and the closing screen agree.
TEST_F(RunnerAb, IdenticalVariantsStopAsTheirRuleSays) {
    const std::string out = directory + "/aa";
    const auto r = run(runner("--frames 3 --size 64x64 --variant one --variant two "
                              "--max-rounds 3 --out '" + out + "' --db '" + directory +
                              "/s.db' screens"));
    ASSERT_EQ(r.status, 0) << r.output;
    const auto set = read_json(out + "/run.json");
    const auto& stop = set["rounds_stopped"]["screens"];
    const std::string answer = stop["variants"]["two"].value("answer", "");
    const int rounds = stop.value("rounds", 0);
    EXPECT_EQ(set.value("rounds", 0), rounds);
    if (answer == "undecided") {
        EXPECT_EQ(rounds, 3);
        EXPECT_EQ(stop.value("stopped", ""), "max-rounds reached");
        EXPECT_EQ(stop["variants"]["two"].value("why", "").rfind("cannot tell after 3 rounds: ", 0),
                  0u) << set.dump();
        EXPECT_NE(r.output.find("screens [two]: 3 rounds, max-rounds reached: cannot tell"),
                  std::string::npos) << r.output;
    } else {
        EXPECT_TRUE(answer == "the same" || answer == "faster" || answer == "slower") << answer;
        EXPECT_EQ(stop.value("stopped", ""), "decided");
        EXPECT_GE(rounds, 2);
        EXPECT_NE(r.output.find("screens [two]: " + std::to_string(rounds) +
                                " rounds, decided: " + answer),
                  std::string::npos) << r.output;
    }
    // --rounds keeps its fixed meaning, and a bad count is a usage error.
    EXPECT_EQ(run(runner("--variant a --variant b --rounds 0 --out '" + directory + "/x' screens"))
                  .status, 2);
    EXPECT_EQ(run(runner("--variant a --variant b --rounds many --out '" + directory + "/x' screens"))
                  .status, 2);
    EXPECT_NE(access((directory + "/x").c_str(), F_OK), 0);
}

}  // namespace
