// The screens workload without a window: the item, the page, the figures.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "report.h"
#include "screen_text.h"
#include "screens_frame.h"

namespace {

TEST(AddressItem, SixteenUpperCaseDigitsZeroPadded) {
    EXPECT_EQ(screens::format_address_item(0x55E08985DA10), "000055E08985DA10");
    EXPECT_EQ(screens::format_address_item(0xABCDEF0123), "000000ABCDEF0123");
    EXPECT_EQ(screens::format_address_item(0), "0000000000000000");
    EXPECT_EQ(screens::format_address_item(UINT64_MAX), "FFFFFFFFFFFFFFFF");
    // A 32-bit address widens to the same 16 characters.
    EXPECT_EQ(screens::format_address_item(std::uint32_t{0x8049F00}), "0000000008049F00");
    // The program's own item names its page's buffer.
    EXPECT_EQ(screens::address_item,
              screens::format_address_item(reinterpret_cast<std::uintptr_t>(screens::screen_text)));
}

TEST(Page, FiftyLinesOfTheItemWithinTheBuffer) {
    screens::build_screen_text();
    const std::string page = screens::screen_text;
    ASSERT_EQ(page.size(), 6450u);
    EXPECT_EQ(page.size(), static_cast<std::size_t>(screens::characters_per_page));
    std::string expected_line;
    for (int i = 0; i < 8; ++i) expected_line += screens::address_item;
    expected_line += '\n';
    std::string expected;
    for (int l = 0; l < 50; ++l) expected += expected_line;
    EXPECT_EQ(page, expected);
    EXPECT_LT(page.size() + 1, screens::screen_text_capacity);
}

std::string written(void (*write)(std::ostream&)) {
    std::ostringstream s;
    write(s);
    return s.str();
}

// A plain pass of 0 ms, as the millisecond clock can give it (the end-to-end
// test checks the lines of a measured one).
TEST(PlainOutputReport, ZeroMillisecondsGiveAnInfiniteRate) {
    volatile double zero_ms = 0;
    screens::plain_seconds = zero_ms / 1000.0;
    EXPECT_EQ(written(screens::write_plain_report),
              "The system spent: 0 Secs. \nConventionally, it was: inf Characters/sec.\n");
}

}  // namespace
