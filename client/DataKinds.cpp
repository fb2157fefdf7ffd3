#include "client/DataKinds.h"

#include <algorithm>
#include <span>

#include "api/LogLayout.h"
#include "platform/Numbers.h"

namespace plx {

std::optional<std::int64_t> parseServiceNo(std::string_view text) {
    bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    auto value = parseDigits(text);
    if (!value) return std::nullopt;
    return negative ? -*value : *value;
}

DataKindTable::DataKindTable(std::vector<FileRec> kinds) {
    kinds_.reserve(kinds.size());
    for (FileRec& file : kinds) kinds_.push_back(DataKind{std::move(file), {}});
}

template <typename Match>
std::optional<std::size_t> DataKindTable::firstIndex(Match match) const {
    auto it = std::find_if(kinds_.begin(), kinds_.end(), match);
    if (it == kinds_.end()) return std::nullopt;
    return static_cast<std::size_t>(it - kinds_.begin());
}

void DataKindTable::add(FileRec file, AppIniPair app) { kinds_.push_back(DataKind{std::move(file), std::move(app)}); }

std::optional<std::size_t> DataKindTable::indexOfService(std::string_view serviceNo,
                                                         std::string_view protocolFilename) const {
    auto number = parseServiceNo(serviceNo);
    if (!number) return std::nullopt;
    return firstIndex([&](const DataKind& kind) {
        return kind.file.ServiceNo == *number && kind.file.ProtocolFilename == protocolFilename;
    });
}

std::string DataKindTable::findFileType(std::string_view serviceNo, std::string_view protocolFilename) const {
    auto i = indexOfService(serviceNo, protocolFilename);
    return i ? kinds_[*i].file.FileType : std::string();
}

std::optional<std::size_t> DataKindTable::indexOfSession(std::string_view serviceNo, std::string_view protocolFilename,
                                                         std::string_view transferKind) const {
    auto send = sessionSends(transferKind);
    auto number = parseServiceNo(serviceNo);
    if (!send || !number) return indexOfService(serviceNo, protocolFilename);
    return firstIndex([&](const DataKind& k) {
        return k.file.ServiceNo == *number && k.file.ProtocolFilename == protocolFilename &&
               (k.app.direction == kDirectionSend) == *send;
    });
}

std::optional<bool> sessionSends(std::string_view transferKind) {
    auto kind = parseDigits(transferKind);
    if (!kind) return std::nullopt;
    auto among = [&](std::span<const SessionLog::TransferKind> kinds) { return std::ranges::count(kinds, *kind) > 0; };
    if (among(SessionLog::kSendKinds)) return true;
    if (among(SessionLog::kReceiveKinds)) return false;
    return std::nullopt;
}

std::string directionLabel(bool send) { return send ? "送信" : "受信"; }

std::string directionLabel(const DataKind& kind) { return directionLabel(kind.app.direction == kDirectionSend); }

std::optional<std::size_t> DataKindTable::indexOfFileType(std::string_view fileType) const {
    return firstIndex([&](const DataKind& kind) { return kind.file.FileType == fileType; });
}

std::optional<std::size_t> DataKindTable::indexOfDataName(std::string_view dataName) const {
    return firstIndex([&](const DataKind& kind) { return kind.file.DataName == dataName; });
}

ClientFilePath splitClientFileName(std::string_view clientFileName) {
    std::size_t slash = clientFileName.rfind('/');
    if (slash == std::string_view::npos) return {};
    return {std::string(clientFileName.substr(0, slash)), std::string(clientFileName.substr(slash + 1))};
}

} // namespace plx
