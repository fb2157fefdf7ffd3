#include "api/FileDefinitionRules.h"

#include <array>
#include <functional>
#include <string>

#include "platform/Utf8.h"

namespace plx {

namespace {

struct Rule {
    std::int32_t position;
    std::function<bool(const FileRec&)> holds;
    std::string_view message;
};

auto atMost(std::string FileRec::*field, std::size_t limit) {
    return [field, limit](const FileRec& r) { return utf8Length(r.*field) <= limit; };
}

// The data kind names its plfile.ini section; the other texts are values.
auto storable(std::string FileRec::*field) {
    return [field](const FileRec& r) {
        return field == &FileRec::FileType ? fitsIniSection(r.*field) : fitsIniValue(r.*field);
    };
}

auto present(std::string FileRec::*field) {
    return [field](const FileRec& r) { return !(r.*field).empty(); };
}

const std::array<Rule, 17>& rules() {
    static const std::array<Rule, 17> table{{
        {1, atMost(&FileRec::FileType, kFileTypeLimit), kFileTypeRule.tooLongText},
        {1, present(&FileRec::FileType), kFileTypeRule.missingText},
        {1, storable(&FileRec::FileType), kUnstorableText},
        {2, atMost(&FileRec::DataName, kDataNameLimit), "ファイル名称が64桁を超えました"},
        {2, present(&FileRec::DataName), "ファイル名称が未入力です"},
        {2, storable(&FileRec::DataName), kUnstorableText},
        {3, [](const FileRec& r) { return r.ServiceNo >= 0; }, kBadServiceNoText},
        {4, atMost(&FileRec::ProtocolFilename, kProtocolFilenameLimit), kProtocolFilenameTooLongText},
        {4, present(&FileRec::ProtocolFilename), "プロトコル上ファイル名が未入力です"},
        {4, storable(&FileRec::ProtocolFilename), kUnstorableText},
        {5, atMost(&FileRec::AccessKey, kAccessKeyLimit), kAccessKeyTooLongText},
        {5, present(&FileRec::AccessKey), "ファイルアクセスキーが未入力です"},
        {5, storable(&FileRec::AccessKey), kUnstorableText},
        {6, [](const FileRec& r) { return r.RecordLength >= kRecordLengthMin && r.RecordLength <= kRecordLengthMax; },
         "不正なレコード長です"},
        {7, [](const FileRec& r) { return r.CompressID == 0 || r.CompressID == 1; }, kBadCompressIdText},
        {8, atMost(&FileRec::UserData, kUserDataLimit), "アプリケーション利用領域が64桁を超えました"},
        {8, storable(&FileRec::UserData), kUnstorableText},
    }};
    return table;
}

} // namespace

std::optional<ArgumentFault> checkFileDefinition(const FileRec& rec) {
    for (const Rule& rule : rules())
        if (!rule.holds(rec)) return ArgumentFault{rule.position, rule.message};
    return std::nullopt;
}

} // namespace plx
