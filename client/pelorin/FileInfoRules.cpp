#include "client/pelorin/FileInfoRules.h"

#include "api/ArgumentRules.h"
#include "platform/Numbers.h"
#include "platform/Utf8.h"

namespace plx::pelorin {

namespace {

using F = FileInfoField;

bool takenByAnother(const DataKindTable& working, std::size_t index, auto same) {
    for (std::size_t i = 0; i < working.size(); ++i)
        if (i != index && same(working[i].file)) return true;
    return false;
}

std::string alreadyThere(const char* what, const std::string& typed) {
    return std::string(what) + "\"" + typed + "\" が既に存在いています";
}

} // namespace

std::optional<FileInfoFault> validateFileInfo(const FileInfoInput& in, const DataKindTable& working,
                                              std::size_t index) {
    if (in.fileType.empty()) return FileInfoFault{F::FileType, "データ種別を入力してください"};
    if (takenByAnother(working, index, [&](const FileRec& r) { return equalsIgnoreCase(r.FileType, in.fileType); }))
        return FileInfoFault{F::FileType, alreadyThere("データ種別：", in.fileType)};
    if (in.dataName.empty()) return FileInfoFault{F::DataName, "データ名称を入力してください"};
    if (takenByAnother(working, index, [&](const FileRec& r) { return r.DataName == in.dataName; }))
        return FileInfoFault{F::DataName, alreadyThere("データ名称：", in.dataName)};
    if (in.serviceNo.empty()) return FileInfoFault{F::ServiceNo, "業務番号を入力してください"};
    if (!parseInt32(in.serviceNo)) return FileInfoFault{F::ServiceNo, "業務番号に整数を入力してください"};
    if (in.protocolFilename.empty())
        return FileInfoFault{F::ProtocolFilename, "プロトコル上ファイル名を入力してください"};
    if (in.accessKey.empty()) return FileInfoFault{F::AccessKey, "ファイルアクセスキーを入力してください"};
    if (in.recordLength.empty()) return FileInfoFault{F::RecordLength, "レコード長を入力してください"};
    if (!parseInt32(in.recordLength)) return FileInfoFault{F::RecordLength, "レコード長に整数を入力してください"};
    if (in.clientFileName.empty()) return FileInfoFault{F::ClientFileName, "ファイル名を入力してください"};
    // A transfer hands the service the name after the last "/"; a receive may leave it to the service.
    std::string_view name = std::string_view(in.clientFileName).substr(in.clientFileName.rfind('/') + 1);
    if (auto tooLong = lengthFault(name, {kFileNameLimit, kFileNameRule.tooLongText, {}}))
        return FileInfoFault{F::ClientFileName, std::string(*tooLong)};
    return std::nullopt;
}

} // namespace plx::pelorin
