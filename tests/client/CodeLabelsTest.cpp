#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "client/CodeLabels.h"

using namespace plx;

namespace {

struct LabelCase {
    const char* table;
    std::function<std::string(std::string_view)> label;
    std::string_view code;
    std::string_view expected;
};

const LabelCase kCases[] = {
    {"level", logLevelLabel, "0", "情報(0)"},
    {"level", logLevelLabel, "2", "エラー(2)"},
    {"level", logLevelLabel, "", "Unknown()"},
    {"level", logLevelLabel, "00", "Unknown(00)"},
    {"level", logLevelLabel, " 1", "Unknown( 1)"},
    {"transfer", transferKindLabel, "10", "端末起動配信(10)"},
    {"transfer", transferKindLabel, "40", "センタ起動集信(40)"},
    {"transfer", transferKindLabel, "50", "Unknown(50)"},
    {"message", messageKindLabel, "11", "認証回答(11)"},
    {"message", messageKindLabel, "31", "完了回答(31)"},
    {"message", messageKindLabel, "0", "Unknown(0)"},
    {"result", resultCodeLabel, "00", "正常(00)"},
    {"result", resultCodeLabel, "13", "相手端末ID不正(13)"},
    {"result", resultCodeLabel, "18", "証明書不正(18)"},
    {"result", resultCodeLabel, "19", "IPアドレス不正(19)"},
    {"result", resultCodeLabel, "33", "二重ファイル転送(33)"},
    {"result", resultCodeLabel, "35", "アプリケーション未接続(35)"},
    {"result", resultCodeLabel, "99", "その他障害(99)"},
    {"result", resultCodeLabel, "0", "Unknown(0)"},
    {"result", resultCodeLabel, "20", "Unknown(20)"},
    {"result", resultCodeLabel, "-1", "Unknown(-1)"},
    {"compress", compressLabel, "1", "gzipによる圧縮(1)"},
    {"compress", compressLabel, "2", "Unknown(2)"},
    {"record", recordFormatLabel, "0", "固定長(0)"},
    {"record", recordFormatLabel, "1", "可変長(1)"},
    {"record", recordFormatLabel, "", "Unknown()"},
};

} // namespace

TEST(CodeLabels, CodesMatchWholeAndExactly) {
    for (const LabelCase& c : kCases) EXPECT_EQ(c.label(c.code), c.expected) << c.table << " [" << c.code << "]";
}

// The viewer shows the same vocabulary as the service: every code the
// center may answer has a label of its own.
TEST(CodeLabels, EveryCenterResultCodeHasALabel) {
    for (const char* code : {"00", "01", "10", "11", "12", "13", "14", "15", "16", "17", "18", "19",
                             "30", "31", "32", "33", "34", "35", "41", "43", "44", "50", "51", "99"}) {
        std::string label = resultCodeLabel(code);
        EXPECT_TRUE(label.ends_with("(" + std::string(code) + ")")) << label;
        EXPECT_FALSE(label.starts_with("Unknown")) << label;
    }
}
