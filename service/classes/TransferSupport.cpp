#include "service/classes/TransferSupport.h"

#include "api/ApiErrors.h"
#include "api/ArgumentRules.h"
#include "common/PLException.h"
#include "common/Paths.h"
#include "service/classes/ApiMethod.h"

namespace plx {

namespace {

constexpr const char* kInvalidSettingsText = "設定管理ファイル(plconfig.ini)が不正です";
constexpr const char* kNoTargetFolderText = "受信データ保存ディレクトリが存在しないか、読み取り専用属性です";

void checkFolder(const std::string& folder, const char* unsetText, const char* unusableFormat) {
    if (folder.empty()) throw PLException(kApiSystemError, 2, unsetText, PLException::kExact);
    if (!pathExists(folder, true)) {
        std::string text = unusableFormat;
        text.replace(text.find("%s"), 2, folder);
        throw PLException(kApiSystemError, 2, text, PLException::kExact);
    }
}

} // namespace

std::unique_ptr<Settings> loadCheckedSettings() {
    auto settings = loadSettings();
    if (!settings)
        throw PLException(kApiSystemError, 2, "設定管理ファイル(plconfig.ini)が見つかりません", PLException::kExact);
    checkFolder(settings->tempFolder, "一時ファイル保存フォルダが指定されていません",
                "一時ファイル保存フォルダ　\"%s\"　が存在しないか、読み取り専用属性です");
    checkFolder(settings->apiLogFolder, "ＡＰＩログファイル保存フォルダが指定されていません",
                "ＡＰＩログファイル保存フォルダ　\"%s\"　が存在しないか、読み取り専用属性です");
    checkFolder(settings->sessionLogFolder, "通信ログファイル保存フォルダが指定されてません",
                "通信ログファイル保存フォルダ　\"%s\"　が存在しないか、読み取り専用属性です");
    return settings;
}

std::unique_ptr<Settings> loadCheckedSettingsOrInvalid() {
    std::unique_ptr<Settings> settings;
    systemStep(
        kApiSystemError, kInvalidSettingsText, [&] { settings = loadCheckedSettings(); },
        StepFailures::kAllButPLException);
    return settings;
}

CallerFolder openTargetFolder(const Caller& caller, const std::string& folder, std::int32_t position) {
    if (!isAbsoluteFolder(folder)) throw argumentError(position, kBadDirectoryText);
    try {
        return CallerFolder(caller, folder, FolderUse::kWrite);
    } catch (const CallerFileError& e) {
        // A folder the caller may use but the service may not is the service's failure.
        if (e.kind() == CallerFileError::kSystem)
            throw PLException(kApiSystemError, e.error(), kNoTargetFolderText, PLException::kExact);
        throw argumentError(position, kNoTargetFolderText);
    }
}

} // namespace plx
