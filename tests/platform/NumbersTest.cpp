#include "platform/Numbers.h"

#include <gtest/gtest.h>

using namespace plx;

// A value the center wrote on a line of its own ("<Length>\n7</Length>")
// was read as 0.
TEST(Numbers, LeadingDecimalSkipsWhiteSpaceAsAtolDoes) {
    EXPECT_EQ(leadingDecimal("\n7"), 7);
    EXPECT_EQ(leadingDecimal("\r\n \t-12x"), -12);
    EXPECT_EQ(leadingDecimal("x7"), 0);
}
