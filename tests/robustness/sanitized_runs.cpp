// One short run of each program, built for the sanitisers
// (-DSUITE_SANITIZE=ON): resized, stepped by hand, Esc and Enter. A report
// of AddressSanitizer, LeakSanitizer or UndefinedBehaviorSanitizer shows on
// standard error and in the exit status; scripts/test-sanitized gives the
// options and the suppressions for what lies in Mesa, LLVM and X.
#include "harness.h"

namespace {

using namespace robust;

class SanitizedRun : public Case {
protected:
    void run(const bench& b, int steps) {
        ASSERT_NO_FATAL_FAILURE(start(b));
        window->resize(48, 48);
        window->resize(1, 1);
        window->resize(40, 24);
        window->click(4);
        const std::size_t before = console_blocks(b, program->lines()).size();
        for (int n = 1; n <= steps; ++n) {
            window->key("c");
            ASSERT_TRUE(wait_for_blocks(b, before + static_cast<std::size_t>(n), frame_timeout))
                << program->error_text();
        }
        EXPECT_EQ(finish(), std::optional<int>(0));
        EXPECT_EQ(program->error_text(), "");
        const auto res = parse_results(b, read_text(results_file(b)), false);
        EXPECT_EQ(res.problem, "");
    }
};

TEST_F(SanitizedRun, Cube) { run(cube(), 1); }
TEST_F(SanitizedRun, Screens) { run(screens(), 3); }
TEST_F(SanitizedRun, Triangles) { run(triangles(), 3); }

}  // namespace
