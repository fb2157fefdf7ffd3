#pragma once
// plfile.ini: one section per data kind, named by its FileType. Callers
// hold fileIniMutex() around a search and the writes that depend on it.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "api/ApiRecords.h"
#include "api/FileDefinitionRules.h"
#include "platform/IniFile.h"

namespace plx {

inline constexpr const char* kFileIniAccessText = "ファイル管理ファイルへのアクセス中にエラー発生";

// plfile.ini in the program folder; nullopt when it is not there.
std::optional<IniDocument> loadFileIni();

// The complete kinds of doc that pass filter, in file order, with the
// first eight FileRec fields filled. A stored value over its limit throws
// PLException (code 2, detail 0) with its text.
std::vector<FileRec> findFileInfo(const IniDocument& doc, const FileInfoQuery& filter);

// Writes the seven keys of rec into section rec.FileType in one replace of
// the file. moveToEnd drops the old section first, so the kind is written
// anew at the end; otherwise its keys change in place.
void saveFileInfo(const FileRec& rec, bool moveToEnd);

// Removes the section in one replace; false (and nothing written) when
// the section holds no key.
bool removeFileInfo(const std::filesystem::path& file, const std::string& fileType);

} // namespace plx
