#include "service/classes/FileInfoStore.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "common/Paths.h"
#include "common/Settings.h"
#include "platform/Numbers.h"
#include "platform/ProgramFolder.h"
#include "platform/Utf8.h"
#include "service/classes/ApiMethod.h"
#include "service/classes/TermInfoStore.h"

namespace plx {

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string stored(const IniDocument& doc, std::string_view section, std::string_view key) {
    return utf8Sanitize(doc.get(section, key, ""));
}

// One bad section spoils the whole search, as every user of the kinds
// would otherwise act on a definition the writer never accepted.
void checkStored(const std::string& value, std::size_t limit, const char* text) {
    if (utf8Length(value) > limit) throw PLException(kApiSystemError, 0, text, PLException::kExact);
}

// Empty and 0 stand for "not given"; an empty stored number is never filtered.
bool filteredOut(const std::string& storedText, std::int32_t value, std::int32_t wanted, bool wantedGiven) {
    return !storedText.empty() && wantedGiven && value != wanted;
}

std::optional<FileRec> readKind(const IniDocument& doc, const std::string& section, const FileInfoQuery& filter) {
    checkStored(section, kFileTypeLimit,
                "ファイル管理ファイル中にファイル種別が4桁を超えて設定されているデータがあります");
    FileRec rec;
    rec.FileType = utf8Sanitize(section);

    std::string serviceNo = stored(doc, section, "serviceno");
    if (!allDigits(serviceNo)) return std::nullopt;
    rec.ServiceNo = clampToInt32(parseDigits(serviceNo).value_or(0));
    if (filter.ServiceNo >= 1 && rec.ServiceNo != filter.ServiceNo) return std::nullopt;

    rec.ProtocolFilename = stored(doc, section, "protocolfilename");
    checkStored(rec.ProtocolFilename, kProtocolFilenameLimit,
                "ファイル管理ファイル中にプロトコル上ファイル名が16桁を超えて設定されているデータがあります");
    if (rec.ProtocolFilename.empty()) return std::nullopt;
    if (!filter.ProtocolFilename.empty() && rec.ProtocolFilename != filter.ProtocolFilename) return std::nullopt;

    rec.AccessKey = stored(doc, section, "accesskey");
    checkStored(rec.AccessKey, kAccessKeyLimit,
                "ファイル管理ファイル中にファイルアクセスキーが6桁を超えて設定されているデータがあります");
    if (rec.AccessKey.empty()) return std::nullopt;
    if (!filter.AccessKey.empty() && rec.AccessKey != filter.AccessKey) return std::nullopt;

    std::string recordLength = stored(doc, section, "recordlength");
    if (!recordLength.empty()) {
        std::string_view digits = recordLength;
        if (digits.front() == '-') digits.remove_prefix(1);
        if (!allDigits(digits)) return std::nullopt;
        rec.RecordLength = clampToInt32(leadingDecimal(recordLength));
    }
    bool lengthGiven = filter.RecordLength >= 1 || filter.RecordLength == -1;
    if (filteredOut(recordLength, rec.RecordLength, filter.RecordLength, lengthGiven)) return std::nullopt;

    std::string compressId = stored(doc, section, "compressid");
    if (!compressId.empty()) {
        if (!allDigits(compressId)) return std::nullopt;
        rec.CompressID = clampToInt32(parseDigits(compressId).value_or(0));
    }
    if (filteredOut(compressId, rec.CompressID, filter.CompressID, filter.CompressID >= 1)) return std::nullopt;

    rec.DataName = stored(doc, section, "dataname");
    checkStored(rec.DataName, kDataNameLimit,
                "ファイル管理ファイル中にファイル名称が64桁を超えて設定されているデータがあります");
    rec.UserData = stored(doc, section, "userdata");
    checkStored(rec.UserData, kUserDataLimit,
                "ファイル管理ファイル中にアプリケーション使用領域が64桁を超えて設定されているデータがあります");
    return rec;
}

std::filesystem::path fileIniPath() {
    std::filesystem::path folder = programFolder();
    if (folder.empty()) throw std::system_error(ENOENT, std::generic_category(), "no program folder");
    return folder / kFileIni;
}

} // namespace

std::optional<IniDocument> loadFileIni() {
    auto path = findIniFile(kFileIni);
    if (!path) return std::nullopt;
    return IniDocument::load(*path);
}

std::vector<FileRec> findFileInfo(const IniDocument& doc, const FileInfoQuery& filter) {
    std::vector<std::string> candidates;
    if (!filter.FileType.empty())
        candidates.push_back(filter.FileType);
    else
        candidates = doc.sectionNames();

    std::vector<FileRec> found;
    for (const std::string& section : candidates) {
        if (section.empty()) continue; // "[]" names no kind
        if (auto rec = readKind(doc, section, filter)) found.push_back(std::move(*rec));
    }
    return found;
}

void saveFileInfo(const FileRec& rec, bool moveToEnd) {
    updateProfile(fileIniPath(), [&](IniDocument& doc) {
        if (moveToEnd) doc.removeSection(rec.FileType);
        doc.set(rec.FileType, "dataname", iniValueText(rec.DataName));
        doc.set(rec.FileType, "serviceno", std::to_string(rec.ServiceNo));
        doc.set(rec.FileType, "protocolfilename", iniValueText(rec.ProtocolFilename));
        doc.set(rec.FileType, "accesskey", iniValueText(rec.AccessKey));
        doc.set(rec.FileType, "recordlength", std::to_string(rec.RecordLength));
        doc.set(rec.FileType, "compressid", std::to_string(rec.CompressID));
        doc.set(rec.FileType, "userdata", iniValueText(rec.UserData));
    });
}

bool removeFileInfo(const std::filesystem::path& file, const std::string& fileType) {
    if (IniDocument::load(file).keyNames(fileType).empty()) return false;
    updateProfile(file, [&](IniDocument& doc) { doc.removeSection(fileType); });
    return true;
}

} // namespace plx
