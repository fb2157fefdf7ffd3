#include "uninstaller/InstData.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <span>
#include <sys/stat.h>
#include <unordered_map>
#include <variant>

#include "platform/FdIo.h"
#include "platform/Numbers.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"
#include "uninstaller/CommaText.h"
#include "uninstaller/FileTrust.h"
#include "uninstaller/Texts.h"

namespace plx::uninst {

namespace fs = std::filesystem;

namespace {

// The entries of a file, by lower-cased name, and how many lines it had.
struct Entries {
    std::unordered_map<std::string, std::string> values;
    std::size_t lines = 0;

    const std::string* find(std::string_view name) const {
        auto it = values.find(toLowerAscii(name));
        return it == values.end() ? nullptr : &it->second;
    }
    std::string get(std::string_view name) const {
        const std::string* v = find(name);
        return v ? *v : std::string();
    }
};

[[noreturn]] void unreadable(const std::string& detail) {
    throw InstDataError(formatText(kInfoFileUnreadable, {detail}));
}

[[noreturn]] void unreadable(const fs::path& file, int error) {
    unreadable(file.string() + ": " + std::strerror(error));
}

Entries readEntries(const fs::path& file) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) unreadable(file, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) unreadable(file, errno);
    if (untrustedForThisProcess(st)) unreadable(formatText(kWritableByOthers, {file.string()}));

    Entries entries;
    std::string pending;
    auto addLine = [&](std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (entries.lines == 0 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        ++entries.lines;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return;
        entries.values.try_emplace(toLowerAscii(line.substr(0, eq)), line.substr(eq + 1));
    };
    char buffer[16384];
    for (;;) {
        ssize_t n = readSome(fd.get(), buffer, sizeof buffer);
        if (n < 0) unreadable(file, errno);
        if (n == 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
            addLine(std::string_view(pending).substr(start, nl - start));
        pending.erase(0, start);
    }
    if (!pending.empty()) addLine(pending);
    return entries;
}

std::optional<std::int64_t> parseNumber(std::string_view text) {
    if (text.empty()) return 0;
    bool negative = text.front() == '-';
    if (negative || text.front() == '+') text.remove_prefix(1);
    auto digits = parseDigits(text);
    if (!digits || *digits == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    return negative ? -*digits : *digits;
}

std::optional<int> parseInt(std::string_view text) {
    auto value = parseNumber(text);
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*value);
}

bool parseFlag(std::string_view text) { return toLowerAscii(text) == "yes"; }

// The header: each entry's name, kind and place, in reading order.
enum class HeaderKind { Number, NumberRequired, Text, Flag, FlagYesWhenMissing };
using HeaderMember = std::variant<int TCVInstHeader::*, std::string TCVInstHeader::*, bool TCVInstHeader::*>;
struct HeaderEntry {
    const char* name;
    HeaderKind kind;
    HeaderMember member;
};
using H = TCVInstHeader;
using enum HeaderKind;
const HeaderEntry kHeaderEntries[] = {
    {"Ver", Number, &H::ver},
    {"AppCompany", Text, &H::appCompany},
    {"AppName", Text, &H::appName},
    {"AppVer", Text, &H::appVer},
    {"Title", Text, &H::title},
    {"BaseDir", Text, &H::baseDir},
    {"HaveReadMe", Flag, &H::haveReadMe},
    {"HaveLicense", Flag, &H::haveLicense},
    {"ShortCutOnDestop", Flag, &H::shortCutOnDestop},
    {"ReqUserName", Flag, &H::reqUserName},
    {"ReqCompanyName", Flag, &H::reqCompanyName},
    {"HaveUnInstaller", Flag, &H::haveUnInstaller},
    {"ReadmeFile", Text, &H::readmeFile},
    {"LicenseFile", Text, &H::licenseFile},
    {"RegRefCount", Number, &H::regRefCount},
    {"FileCount", Number, &H::fileCount},
    {"ShortCutCount", Number, &H::shortCutCount},
    {"RegCount", Number, &H::regCount},
    {"InstallerType", NumberRequired, &H::installerType},
    {"CanDivide", Flag, &H::canDivide},
    {"DoReboot", Flag, &H::doReboot},
    {"CheckAdmin", Flag, &H::checkAdmin},
    {"CheckWin9x", Text, &H::checkWin9x},
    {"CheckWinNT", Text, &H::checkWinNT},
    {"ShortcutInAllUsers", Flag, &H::shortcutInAllUsers},
    {"ShowWelcome", Flag, &H::showWelcome},
    {"ShowInstallDir", Flag, &H::showInstallDir},
    {"ShowShortcutList", Flag, &H::showShortcutList},
    {"ShowComplete", Flag, &H::showComplete},
    {"ShowInformation", FlagYesWhenMissing, &H::showInformation},
    {"URL", Text, &H::url},
    {"Copyright", Text, &H::copyright},
    {"ThroughPath", Flag, &H::throughPath},
    {"IsTestUse", Flag, &H::isTestUse},
    {"DivSize", Number, &H::divSize},
};

void readHeader(const Entries& entries, TCVInstHeader& header) {
    for (const auto& entry : kHeaderEntries) {
        const std::string* found = entries.find(entry.name);
        std::string value = found ? *found : std::string();
        switch (entry.kind) {
        case Number: header.*std::get<int H::*>(entry.member) = parseInt(value).value_or(0); break;
        case NumberRequired: {
            auto number = parseInt(value);
            if (!number) unreadable(kInstallerTypeNotNumber);
            header.*std::get<int H::*>(entry.member) = *number;
            break;
        }
        case Text: header.*std::get<std::string H::*>(entry.member) = value; break;
        case Flag: header.*std::get<bool H::*>(entry.member) = parseFlag(value); break;
        case FlagYesWhenMissing: header.*std::get<bool H::*>(entry.member) = !found || parseFlag(value); break;
        }
    }
}

// The fields of an item, in order; the member's type is the field's kind.
template <typename Item>
using Field = std::variant<std::string Item::*, bool Item::*, std::int64_t Item::*>;

template <typename Item>
struct ItemKind {
    const char* prefix;
    std::span<const Field<Item>> fields;
};

const Field<TCVRegRefItem> kRegRefFields[] = {&TCVRegRefItem::source,  &TCVRegRefItem::rootKey,
                                              &TCVRegRefItem::keyPath, &TCVRegRefItem::valueName,
                                              &TCVRegRefItem::value,   &TCVRegRefItem::failMessage};
const Field<TCVFileItem> kFileFields[] = {&TCVFileItem::path,
                                          &TCVFileItem::text,
                                          &TCVFileItem::flag3,
                                          &TCVFileItem::size,
                                          &TCVFileItem::selfRegistering,
                                          &TCVFileItem::shared,
                                          &TCVFileItem::number7,
                                          &TCVFileItem::fontValueName,
                                          &TCVFileItem::fileTime,
                                          &TCVFileItem::font};
const Field<TCVShortcutItem> kShortcutFields[] = {&TCVShortcutItem::number, &TCVShortcutItem::text2,
                                                  &TCVShortcutItem::text3,  &TCVShortcutItem::text4,
                                                  &TCVShortcutItem::text5,  &TCVShortcutItem::text6};
const Field<TCVRegItem> kRegFields[] = {&TCVRegItem::rootKey,  &TCVRegItem::keyPath, &TCVRegItem::valueName,
                                        &TCVRegItem::data,     &TCVRegItem::type,    &TCVRegItem::flag6,
                                        &TCVRegItem::deleteKey};

template <typename Item>
Item readItem(std::string_view value, std::span<const Field<Item>> fields) {
    Item item;
    std::vector<std::string> texts = splitCommaText(value);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string_view text = i < texts.size() ? std::string_view(texts[i]) : std::string_view();
        bool read = std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(item.*member)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    item.*member = std::string(text);
                } else if constexpr (std::is_same_v<T, bool>) {
                    item.*member = parseFlag(text);
                } else {
                    auto number = parseNumber(text);
                    if (!number) return false;
                    item.*member = *number;
                }
                return true;
            },
            fields[i]);
        if (!read) break; // a malformed field ends the item with what was read
    }
    return item;
}

template <typename Item, typename List>
void readItems(const Entries& entries, const char* prefix, int count, std::span<const Field<Item>> fields, List& list) {
    // Each item needs a line of its own: more than the file's lines are not there.
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)), entries.lines);
    list.reserve(n);
    for (std::size_t i = 0; i < n; ++i) list.push_back(readItem<Item>(entries.get(prefix + std::to_string(i)), fields));
}

} // namespace

TCVInstData::TCVInstData(RegistryStore registry) : registry_(std::move(registry)) {}

void TCVInstData::load(const fs::path& file) {
    isInstallInfo_ = false;
    header = TCVInstHeader{};
    regRefs.clear();
    files.clear();
    shortcuts.clear();
    regs.clear();
    macros.clear();
    totalSize = 0;

    Entries entries = readEntries(file);
    readHeader(entries, header);
    const std::string* fileCount = entries.find("FileCount");
    isInstallInfo_ = !header.title.empty() && !header.baseDir.empty() && fileCount && !fileCount->empty() &&
                     parseInt(*fileCount) && parseNumber(entries.get("Ver"));
    readItems<TCVRegRefItem>(entries, "Val", header.regRefCount, kRegRefFields, regRefs);
    readItems<TCVFileItem>(entries, "File", header.fileCount, kFileFields, files);
    readItems<TCVShortcutItem>(entries, "Link", header.shortCutCount, kShortcutFields, shortcuts);
    readItems<TCVRegItem>(entries, "Reg", header.regCount, kRegFields, regs);

    for (auto& macro : platformMacros()) macros.add(std::move(macro.name), std::move(macro.value));
    for (auto& ref : regRefs) {
        if (ref.source == 0) {
            std::optional<std::string> read;
            if (auto root = registryRootName(static_cast<std::uint32_t>(ref.rootKey))) {
                try {
                    read = registry_.readValue(registryKeyName(*root, ref.keyPath), ref.valueName);
                } catch (const std::exception&) {
                    // an unreadable store is a failed read
                }
            }
            if (read)
                ref.value = *read;
            else if (!ref.failMessage.empty())
                throw InstDataError(ref.failMessage);
        }
        macros.add(":" + ref.valueName + ":", macros.expand(ref.value));
    }
    for (const auto& f : files)
        if (f.size > 0)
            totalSize += std::min<std::uint64_t>(static_cast<std::uint64_t>(f.size),
                                                 std::numeric_limits<std::uint64_t>::max() - totalSize);
}

} // namespace plx::uninst
