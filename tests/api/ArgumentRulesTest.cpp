#include "api/ArgumentRules.h"

#include <gtest/gtest.h>
#include <string>

#include "api/FileDefinitionRules.h"

using namespace plx;

namespace {

std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

} // namespace

TEST(ArgumentRules, LimitsCountCharactersNotBytes) {
    EXPECT_EQ(lengthFault("種別四字", kFileTypeRule), std::nullopt); // 12 bytes, 4 characters
    EXPECT_EQ(lengthFault("種別五文字", kFileTypeRule), "ファイル種別が4桁を超えました");
    EXPECT_EQ(lengthFault(repeat("あ", 128), kSourceDirectoryRule), std::nullopt);
    EXPECT_EQ(lengthFault(repeat("あ", 129), kSourceDirectoryRule), "ディレクトリ指定が128桁を超えました");
    EXPECT_EQ(lengthFault(repeat("n", 65), kFileNameRule), "ファイル名が64桁を超えました");
}

TEST(ArgumentRules, EmptyIsRefusedOnlyWhereTheRuleNeedsAValue) {
    EXPECT_EQ(lengthFault("", kFileTypeRule), "ファイル種別が未入力です");
    EXPECT_EQ(lengthFault("", kTargetDirectoryRule), "ディレクトリが未入力です");
    EXPECT_EQ(lengthFault("", LengthRule{kFileNameLimit, kFileNameRule.tooLongText, {}}), std::nullopt);
}

TEST(ArgumentRules, TheReceivingSideWordsTheFolderLimitItsOwnWay) {
    EXPECT_EQ(lengthFault(repeat("d", 129), kTargetDirectoryRule), "ディレクトリが128桁を超えました");
}

TEST(FileDefinitionRules, TheFirstFailingCheckInArgumentOrder) {
    FileRec rec;
    rec.FileType = "K001";
    rec.DataName = "name";
    rec.ServiceNo = 1;
    rec.ProtocolFilename = "PF";
    rec.AccessKey = "KEY";
    rec.RecordLength = -1;
    EXPECT_EQ(checkFileDefinition(rec), std::nullopt);
    rec.FileType = "";
    rec.ServiceNo = -1;
    EXPECT_EQ(checkFileDefinition(rec), (ArgumentFault{1, kFileTypeRule.missingText}));
    rec.FileType = "K001";
    EXPECT_EQ(checkFileDefinition(rec), (ArgumentFault{3, kBadServiceNoText}));
    rec.ServiceNo = 0;
    rec.RecordLength = 4097;
    EXPECT_EQ(checkFileDefinition(rec), (ArgumentFault{6, "不正なレコード長です"}));
}
