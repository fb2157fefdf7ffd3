#include "common/CenterRegister.h"

#include "api/TextLimits.h"
#include <mutex>
#include <sys/stat.h>

#include "common/FileControl.h"
#include "common/IniLocks.h"
#include "platform/IniFile.h"
#include "platform/Numbers.h"
#include "platform/ProgramFolder.h"
#include "platform/Utf8.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFileTypeLimit = 5;
constexpr const char* kAppendBaseKey = "appendbase";

std::int64_t appendBaseOf(const IniDocument& doc, const std::string& section) {
    std::string value = doc.get(section, kAppendBaseKey, "");
    return value.empty() ? -1 : leadingDecimal(value);
}

// An empty value counts as missing.
std::int32_t numberOrMissing(const IniDocument& doc, const std::string& section, const char* key) {
    std::string value = doc.get(section, key, "");
    if (value.empty()) return -1;
    return clampToInt32(leadingDecimal(value));
}

CenterRecord recordFromSection(const IniDocument& doc, const std::string& name) {
    CenterRecord r;
    r.sectionName = name;
    r.svDataFilename = utf8TruncateCharacters(doc.get(name, "svdatafilename", ""), kFileNameLimit);
    r.limitDays = numberOrMissing(doc, name, "limit");
    r.status = numberOrMissing(doc, name, "status");
    r.sendRecvFlag = numberOrMissing(doc, name, "sendrecvflag");
    r.clDataFilename = doc.get(name, "cldatafilename", "");
    r.clDataDirectory = doc.get(name, "cldatadirectory", "");
    r.fileLoadNo = doc.get(name, "fileloadno", "");
    r.fileRecordKey = doc.get(name, "filerecordkey", "");
    r.appendBase = appendBaseOf(doc, name);

    r.fileType = utf8TruncateCharacters(sectionKind(name), kFileTypeLimit);
    if (auto comma = name.find(','); comma != std::string::npos) r.tempFilePath = name.substr(comma + 1);
    r.tempFileName = r.tempFilePath.substr(r.tempFilePath.find_last_of('/') + 1);

    if (!r.tempFilePath.empty()) {
        if (!queryFileSize(r.tempFilePath, r.fileSize)) r.fileSize = 0;
        getFileWriteTime(r.tempFilePath, r.fileTime);
    }
    r.expiryTime = r.limitDays >= 1 ? r.fileTime.plusDaysCapped(r.limitDays) : FileTime{FileTime::kNoExpiry};
    return r;
}

bool isEmptyOrMissing(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 || st.st_size == 0;
}

} // namespace

fs::path centerIniPath() { return programFolder() / "plcenter.ini"; }

std::string makeSectionName(std::string_view fileType, std::string_view dataFilePath) {
    return std::string(fileType) + "," + std::string(dataFilePath);
}

std::string_view sectionKind(std::string_view sectionName) { return sectionName.substr(0, sectionName.find(',')); }

bool updateCenterStatus(const std::string& sectionName, std::int32_t status) {
    if (sectionName.empty()) return false;
    std::lock_guard lock(centerIniMutex());
    bool found = false;
    updateExistingProfile(centerIniPath(), [&](IniDocument& doc) {
        found = doc.hasSection(sectionName);
        if (found) doc.set(sectionName, "status", std::to_string(status));
    });
    return found;
}

std::vector<CenterRecord> loadCenterRecords() {
    std::lock_guard lock(centerIniMutex());
    fs::path path = centerIniPath();
    std::vector<CenterRecord> records;
    if (isEmptyOrMissing(path)) return records;
    IniDocument doc = IniDocument::load(path);
    for (const std::string& name : doc.sectionNames()) records.push_back(recordFromSection(doc, name));
    return records;
}

void writeCenterRecord(const CenterRecord& r) {
    std::lock_guard lock(centerIniMutex());
    updateProfile(
        centerIniPath(),
        [&](IniDocument& doc) {
            const std::string& s = r.sectionName;
            doc.set(s, "svdatafilename", utf8TruncateCharacters(r.svDataFilename, kFileNameLimit));
            doc.set(s, "limit", std::to_string(r.limitDays));
            doc.set(s, "status", std::to_string(r.status));
            doc.set(s, "sendrecvflag", std::to_string(r.sendRecvFlag));
            doc.set(s, "cldatafilename", r.clDataFilename);
            doc.set(s, "cldatadirectory", r.clDataDirectory);
            doc.set(s, "fileloadno", r.fileLoadNo);
            doc.set(s, "filerecordkey", r.fileRecordKey);
            if (r.appendBase >= 0)
                doc.set(s, kAppendBaseKey, std::to_string(r.appendBase));
            else
                doc.removeKey(s, kAppendBaseKey);
        },
        kPrivateFileMode);
}

void deleteCenterRecord(std::string_view sectionName) {
    std::lock_guard lock(centerIniMutex());
    fs::path path = centerIniPath();
    if (isEmptyOrMissing(path)) return;
    updateProfile(path, [&](IniDocument& doc) { doc.removeSection(sectionName); });
}

void recoverCenterRecords() {
    std::lock_guard lock(centerIniMutex());
    fs::path path = centerIniPath();
    if (isEmptyOrMissing(path)) return;
    // The file is rewritten only when a row changes: a register that needs
    // nothing must not stop a start on a folder the service cannot write.
    IniWriterLock writer(path);
    IniDocument doc = IniDocument::load(path);
    bool changed = false;
    std::vector<std::string> halfDelivered;
    std::vector<std::string> names = doc.sectionNames();
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        const std::string& name = *it;
        std::int32_t status = numberOrMissing(doc, name, "status");
        if (status < 0) {
            doc.removeSection(name);
            changed = true;
        } else if (status == kStatusInProgress) {
            std::int32_t direction = numberOrMissing(doc, name, "sendrecvflag");
            if (direction == kDirectionSend) {
                // An append cut off is cut back off the staged file: the
                // center gets what was staged before it, never a part.
                if (std::int64_t base = appendBaseOf(doc, name); base >= 0) {
                    auto comma = name.find(',');
                    if (comma != std::string::npos) truncateStoredFile(name.substr(comma + 1), base);
                    doc.removeKey(name, kAppendBaseKey);
                }
                doc.set(name, "status", std::to_string(kStatusWaiting)); // the center may fetch it again
            } else if (direction == kDirectionRecv) {
                auto comma = name.find(',');
                if (comma == std::string::npos) continue;
                halfDelivered.push_back(name.substr(comma + 1));
                doc.removeSection(name);
            } else {
                doc.removeSection(name);
            }
            changed = true;
        }
    }
    if (!changed) return;
    doc.save(path);
    // Only once the register no longer names them; only our own temporary files.
    for (const std::string& file : halfDelivered) deleteStoredFile(file);
}

} // namespace plx
