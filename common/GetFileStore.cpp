#include "common/GetFileStore.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/UniqueFd.h"

namespace plx {

std::filesystem::path getFileIniPath() { return programFolder() / "plgetfile.ini"; }

std::vector<GetFileEntry> loadGetFileEntries() {
    auto path = getFileIniPath();
    UniqueFd created(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kPrivateFileMode));
    created.reset();
    // Every section is read: a load number missed here would let a
    // duplicate delivery through.
    IniDocument doc = IniDocument::load(path);
    std::vector<GetFileEntry> entries;
    for (const std::string& name : doc.sectionNames()) {
        if (name.empty()) continue;
        entries.push_back({name, doc.get(name, "fileloadno", ""), doc.get(name, "filerecordkey", "")});
    }
    return entries;
}

void writeGetFileEntry(const GetFileEntry& entry) {
    updateProfile(
        getFileIniPath(),
        [&](IniDocument& doc) {
            doc.set(entry.sectionName, "fileloadno", entry.fileLoadNo);
            doc.set(entry.sectionName, "filerecordkey", entry.fileRecordKey);
        },
        kPrivateFileMode);
}

} // namespace plx
