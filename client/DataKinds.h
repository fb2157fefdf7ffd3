#pragma once
// The data kinds a client program loads at start-up: the service's
// definitions in the service's order, each with its plxapp.ini pair, and the
// look-ups the windows and the batch program make in them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/ApiRecords.h"

namespace plx {

// The plxapp.ini values of one data kind: the client data file a send reads
// or a receive writes, and the direction ("send" or "recv", compared exactly).
struct AppIniPair {
    std::string clientFileName;
    std::string direction;

    friend bool operator==(const AppIniPair&, const AppIniPair&) = default;
};

inline constexpr std::string_view kDirectionSend = "send";
inline constexpr std::string_view kDirectionRecv = "recv";

struct DataKind {
    FileRec file;
    AppIniPair app;

    friend bool operator==(const DataKind&, const DataKind&) = default;
};

// A service number as a log field holds it: an optional "-" and decimal
// digits, nothing else. Out-of-range numbers saturate, so they match no
// 32-bit ServiceNo; anything else is nullopt.
std::optional<std::int64_t> parseServiceNo(std::string_view text);

class DataKindTable {
public:
    DataKindTable() = default;
    // The service's definitions, each with an empty pair.
    explicit DataKindTable(std::vector<FileRec> kinds);

    void add(FileRec file, AppIniPair app = {});
    void clear() { kinds_.clear(); }
    std::size_t size() const { return kinds_.size(); }
    bool empty() const { return kinds_.empty(); }
    // Unchecked, as for std::vector.
    const DataKind& operator[](std::size_t i) const { return kinds_[i]; }
    DataKind& operator[](std::size_t i) { return kinds_[i]; }
    std::vector<DataKind>::const_iterator begin() const { return kinds_.begin(); }
    std::vector<DataKind>::const_iterator end() const { return kinds_.end(); }
    std::vector<DataKind>::iterator begin() { return kinds_.begin(); }
    std::vector<DataKind>::iterator end() { return kinds_.end(); }

    // The first kind, in table order, whose ServiceNo equals the number in
    // serviceNo (the text of a log field, see parseServiceNo) and whose
    // ProtocolFilename equals protocolFilename exactly.
    std::optional<std::size_t> indexOfService(std::string_view serviceNo, std::string_view protocolFilename) const;
    // Its FileType; "" when no kind matches.
    std::string findFileType(std::string_view serviceNo, std::string_view protocolFilename) const;
    // The kind a logged session moved: as indexOfService, but for a session
    // whose transfer kind tells its direction (sessionSends) only a kind of
    // that direction will do; nullopt when none matches.
    std::optional<std::size_t> indexOfSession(std::string_view serviceNo, std::string_view protocolFilename,
                                              std::string_view transferKind) const;

    // The first kind whose FileType, or DataName, equals the text exactly.
    std::optional<std::size_t> indexOfFileType(std::string_view fileType) const;
    std::optional<std::size_t> indexOfDataName(std::string_view dataName) const;

    friend bool operator==(const DataKindTable&, const DataKindTable&) = default;

private:
    template <typename Match>
    std::optional<std::size_t> firstIndex(Match match) const;

    std::vector<DataKind> kinds_;
};

// Whether a logged session sent its file, from its transfer kind (a log
// field): send 20 and 40, receive 10 and 30; nullopt for any other.
std::optional<bool> sessionSends(std::string_view transferKind);

// "送信" when the kind's direction is "send", else "受信"; a direction
// that is not "send" counts as receiving wherever a kind is run.
std::string directionLabel(bool send);
std::string directionLabel(const DataKind& kind);

// A client file name split at its last "/": the folder before it and the file
// name after it. Without a "/" both are empty.
struct ClientFilePath {
    std::string folder;
    std::string fileName;

    friend bool operator==(const ClientFilePath&, const ClientFilePath&) = default;
};
ClientFilePath splitClientFileName(std::string_view clientFileName);

} // namespace plx
