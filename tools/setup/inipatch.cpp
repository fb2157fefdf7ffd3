// inipatch: run once after installation from the program folder. Points the
// folders of plconfig.ini at temp, logs and data beside the program's own
// folder and moves every client file of plxapp.ini into that data folder.
// The ini files are those of PLX_HOME when it is set (the program folder
// otherwise); PLX_HOME never moves the folders. Shows
// nothing on success and ends with 0 whatever it could change, so installers
// can run it blindly; a file it cannot change is named on standard error. It
// takes no arguments: any ends it with 2 before anything is changed.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "platform/CommandUsage.h"
#include "platform/IniFile.h"
#include "platform/PathText.h"
#include "platform/ProgramFolder.h"

namespace fs = std::filesystem;
using namespace plx;

namespace {

struct FolderKey {
    const char* section;
    const char* folder; // beside the program folder
};
constexpr FolderKey kConfigFolders[] = {{"tempfile", "temp"}, {"apilog", "logs"}, {"sessionlog", "logs"}};
constexpr const char* kDataFolder = "data";

// The client file of a data kind: an empty name (or one that names a folder)
// would leave the kind without a file, so it gets the kind's default name.
std::string clientFileName(const IniDocument& apps, const std::string& kind) {
    std::string fallback = kind + ".dat";
    std::string name(fileNamePart(apps.get(kind, "clfilename", fallback)));
    if (name.empty() || name == "." || name == "..") name = fileNamePart(fallback);
    return name;
}

void patchConfig(const fs::path& iniFolder, const std::string& parent) {
    updateProfile(iniFolder / "plconfig.ini", [&](IniDocument& config) {
        for (const FolderKey& key : kConfigFolders) config.set(key.section, "location", parent + "/" + key.folder);
    });
}

// plxapp.ini belongs to the desktop client: it is changed, never created.
void patchClientFiles(const fs::path& iniFolder, const std::string& parent) {
    updateExistingProfile(iniFolder / "plxapp.ini", [&](IniDocument& apps) {
        std::string data = parent + "/" + kDataFolder + "/";
        for (const std::string& kind : apps.sectionNames()) {
            try {
                apps.set(kind, "clfilename", data + clientFileName(apps, kind));
            } catch (const IniFormatError& e) { // a section name the file cannot be written back with
                std::fprintf(stderr, "inipatch: plxapp.ini [%s]: %s\n", kind.c_str(), e.what());
            }
        }
    });
}

template <typename Step>
void runStep(const char* file, Step step) {
    try {
        step();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "inipatch: %s: %s\n", file, e.what());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (auto line = commandOperands(argc, argv, "使用法: inipatch"); line.exitCode) return *line.exitCode;
    std::error_code ec;
    fs::path own = fs::weakly_canonical(executableFolder(), ec);
    fs::path iniFolder = programFolder();
    if (ec || own.empty() || own == own.root_path() || iniFolder.empty()) {
        std::fprintf(stderr, "inipatch: the program folder cannot be found\n");
        return 0;
    }
    std::string parent = own.parent_path().string();
    if (parent == "/") parent.clear(); // "/temp", not "//temp"
    runStep("plconfig.ini", [&] { patchConfig(iniFolder, parent); });
    runStep("plxapp.ini", [&] { patchClientFiles(iniFolder, parent); });
    return 0;
}
