#include <gtest/gtest.h>

#include "uninstaller/CommaText.h"

using plx::uninst::splitCommaText;

namespace {

struct SplitCase {
    const char* text;
    std::vector<std::string> fields;
};

const SplitCase kSplitCases[] = {
    {"", {}},
    {"a", {"a"}},
    {"a,b,c", {"a", "b", "c"}},
    {"a,,b", {"a", "", "b"}},
    {"a,", {"a", ""}},
    {",a", {"", "a"}},
    {"a, b", {"a", "b"}}, // a blank after a comma starts nothing
    {"a b", {"a", "b"}},  // an unquoted blank separates
    {"  a  ,  b  ", {"a", "b"}},
    {"\"a,b\",c", {"a,b", "c"}}, // quotes keep commas
    {"\"/opt/My App/x\",y", {"/opt/My App/x", "y"}},
    {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
    {"\"\",x", {"", "x"}},
    {"\"open", {"open"}}, // an unclosed quote runs to the end
    {"日本語,\"パス 名\"", {"日本語", "パス 名"}},
};

} // namespace

TEST(CommaText, SplitsLikeACommaSeparatedList) {
    for (const auto& c : kSplitCases) EXPECT_EQ(splitCommaText(c.text), c.fields) << c.text;
}
