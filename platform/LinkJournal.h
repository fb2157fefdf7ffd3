#pragma once
// The names a file holds for a moment (a PendingFile's hidden link of a
// replace or named stand-in, a FileTransaction's old file set aside),
// recorded before they exist in a folder of the
// process's own, so a process killed in between leaves nothing that its
// next start does not remove.
//
// Recording is kept only once a folder is in use; where a record cannot be
// written the file goes on without one.

#include <filesystem>
#include <string>
#include <string_view>

namespace plx {

// The hidden names a PendingFile gives: this prefix, hex digits and ".tmp"
// (uniqueFileName); only such names are ever removed from a record.
inline constexpr std::string_view kHiddenLinkPrefix = ".plx";
bool isHiddenLinkName(std::string_view name);

class LinkRecord {
public:
    LinkRecord() = default;
    // Records name in the folder behind dirFd.
    LinkRecord(int dirFd, const std::string& name);
    ~LinkRecord(); // the record goes: the name is gone or in its place
    LinkRecord(LinkRecord&& other) noexcept;
    LinkRecord& operator=(LinkRecord&& other) noexcept;
    LinkRecord(const LinkRecord&) = delete;
    LinkRecord& operator=(const LinkRecord&) = delete;

    // Records go into folder from now on (made when a record needs it,
    // removed with its last record); empty: no records are kept.
    static void useFolder(const std::filesystem::path& folder);
    // Removes every name that the records in the folder in use name, the
    // records and the empty folder: the leftovers of a run that was cut
    // off. Only entries named as records are touched, and a recorded name's
    // folder is reached without following links. Call before any file is
    // under way. Returns the count of names removed. Throws
    // std::system_error when the folder is a link or no folder: nothing is
    // removed, and no records are kept from then on.
    static int removeLeftovers();

private:
    void drop() noexcept;

    std::filesystem::path record_;
};

} // namespace plx
