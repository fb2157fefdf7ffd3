#pragma once
// The install-information file: what an installation put where, written by
// the install step and read by the uninstaller. UTF-8 text, one Name=Value
// entry a line (the first "=" splits; names match without regard to ASCII
// case; the first of equal names wins; a missing entry reads as empty):
// header entries, then numbered items "Val0".., "File0".., "Link0"..,
// "Reg0".. whose values are comma-separated fields (uninstaller/CommaText.h).
//
// Kinds of values: a number is empty (0) or decimal digits with an optional
// sign; a flag is true exactly when it reads "yes" in any case.

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryStore.h"
#include "uninstaller/MacroTable.h"

namespace plx::uninst {

// The load failed; what() is the text to show the user.
class InstDataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TCVInstHeader {
    int ver = 0;
    std::string appCompany;
    std::string appName;
    std::string appVer;
    std::string title;
    std::string baseDir;
    bool haveReadMe = false;
    bool haveLicense = false;
    bool shortCutOnDestop = false;
    bool reqUserName = false;
    bool reqCompanyName = false;
    bool haveUnInstaller = false;
    std::string readmeFile;
    std::string licenseFile;
    int regRefCount = 0;
    int fileCount = 0;
    int shortCutCount = 0;
    int regCount = 0;
    int installerType = 0; // 0: dialog template 1, else template 2
    bool canDivide = false;
    bool doReboot = false;
    bool checkAdmin = false;
    std::string checkWin9x;
    std::string checkWinNT;
    bool shortcutInAllUsers = false;
    bool showWelcome = false;
    bool showInstallDir = false;
    bool showShortcutList = false;
    bool showComplete = false;
    bool showInformation = true; // true when the entry is missing
    std::string url;
    std::string copyright;
    bool throughPath = false;
    bool isTestUse = false;
    int divSize = 0;
};

// "Val%d": a macro whose value is read from the registry or given.
struct TCVRegRefItem {
    std::int64_t source = 0;  // 0: read from the registry, else use value
    std::int64_t rootKey = 0; // a root key handle (2147483650: the local machine)
    std::string keyPath;
    std::string valueName;   // also the macro's name, between colons
    std::string value;       // the default, replaced by what is read
    std::string failMessage; // when set, a failed read stops the load with it
};

// "File%d": an installed file (or folder).
struct TCVFileItem {
    std::string path;
    std::string text; // empty: the empty folders above are removed after the item
    bool flag3 = false;
    std::int64_t size = 0;
    bool selfRegistering = false;
    bool shared = false;
    std::int64_t number7 = 0;
    std::string fontValueName;
    std::int64_t fileTime = 0; // the file's age when installed (mtime, whole seconds since 1970); 0: not checked
    bool font = false;
};

// "Link%d": a shortcut as the installer made it.
struct TCVShortcutItem {
    std::int64_t number = 0;
    std::string text2;
    std::string text3;
    std::string text4;
    std::string text5;
    std::string text6;
};

// "Reg%d": a registry entry the installer wrote.
struct TCVRegItem {
    std::int64_t rootKey = 0;
    std::string keyPath;
    std::string valueName;
    std::string data;
    std::int64_t type = 0;
    bool flag6 = false;
    bool deleteKey = false; // delete the whole key, not just the value
};

template <typename Item>
class TCVInstItems : public std::vector<Item> {};
class TCVRegRefItems : public TCVInstItems<TCVRegRefItem> {};
class TCVFileItems : public TCVInstItems<TCVFileItem> {};
class TCVShortcutItems : public TCVInstItems<TCVShortcutItem> {};
class TCVRegItems : public TCVInstItems<TCVRegItem> {};

class TCVInstData {
public:
    // registry: where "Val" items with source 0 are read.
    explicit TCVInstData(RegistryStore registry = RegistryStore());
    virtual ~TCVInstData() = default;

    // Replaces everything with what file holds and builds the macro table.
    // An item whose fields cannot all be read keeps the fields read before
    // the fault. Item counts are bounded by the file's lines. Throws
    // InstDataError when the file cannot be opened or read, when this process
    // runs as root and others can write the file, when InstallerType is not
    // a number, and (with the item's message) when a "Val" item that has a
    // message cannot be read from the registry.
    void load(const std::filesystem::path& file);

    // The loaded file has what every install-information file has: Title,
    // BaseDir and FileCount, and a Ver (when given) and FileCount that are
    // numbers. Anything else (a mistyped path) must not be acted on.
    bool isInstallInfo() const { return isInstallInfo_; }

    // text with the macros of the table replaced.
    std::string expand(std::string_view text) const { return macros.expand(text); }

    TCVInstHeader header;
    TCVRegRefItems regRefs;
    TCVFileItems files;
    TCVShortcutItems shortcuts;
    TCVRegItems regs;
    MacroTable macros;
    std::uint64_t totalSize = 0; // of the files, in bytes

protected:
    RegistryStore registry_;

private:
    bool isInstallInfo_ = false;
};

} // namespace plx::uninst
