#pragma once
// The service on the bus: its name, objects and interfaces, and TerminalRec
// and FileRec as they travel: one struct each, fields in declared order.
// A failed PL method answers with the error kErrorName whose body is
// LastErrorMsg, LastErrorCd and LastErrorCdDetail (s, i, i): the triple of
// that call.

#include <sdbus-c++/Types.h>

#include "api/ApiRecords.h"

namespace plx {

inline constexpr const char* kBusName = "com.korvane.PelorinIO";
// On the system bus, root and the members of this group alone may call the service.
inline constexpr const char* kOperatorsGroup = "plx";
inline constexpr const char* kFactoryPath = "/com/korvane/PelorinIO";
inline constexpr const char* kClientPath = "/com/korvane/PelorinIO/Client";
inline constexpr const char* kServicePath = "/com/korvane/PelorinIO/Service";
inline constexpr const char* kErrorName = "com.korvane.PelorinIO.Error.Exception";
inline constexpr const char* kFactoryInterface = "com.korvane.PelorinIO.Factory";
inline constexpr const char* kClientInterface = "com.korvane.PelorinIO.Client";
inline constexpr const char* kTransportInterface = "com.korvane.PelorinIO.Transport";
inline constexpr const char* kRetrieveInterface = "com.korvane.PelorinIO.Retrieve";
inline constexpr const char* kServiceInterface = "com.korvane.PelorinIO.Service";

using BusTerminalRec = sdbus::Struct<std::string, std::string, std::string, std::string, std::string, std::string,
                                     std::string, std::string, std::string>;
using BusFileRec = sdbus::Struct<std::string, std::string, std::int32_t, std::string, std::string, std::int32_t,
                                 std::int32_t, std::string, std::string, std::string, std::string, std::int32_t,
                                 std::string, std::string, std::string, std::int32_t>;

inline BusTerminalRec toBus(const TerminalRec& r) {
    return BusTerminalRec{r.TerminalID,      r.CenterID,    r.CenterHost, r.CenterURL,    r.Password,
                          r.ProtocolVersion, r.ProxyServer, r.ProxyUser,  r.ProxyPassword};
}

inline TerminalRec fromBus(const BusTerminalRec& b) {
    TerminalRec r;
    std::tie(r.TerminalID, r.CenterID, r.CenterHost, r.CenterURL, r.Password, r.ProtocolVersion, r.ProxyServer,
             r.ProxyUser, r.ProxyPassword) = b;
    return r;
}

inline BusFileRec toBus(const FileRec& r) {
    return BusFileRec{r.FileType,        r.DataName,       r.ServiceNo,   r.ProtocolFilename,
                      r.AccessKey,       r.RecordLength,   r.CompressID,  r.UserData,
                      r.SvDataFilename,  r.ClTempFilename, r.SetDateTime, r.FileSize,
                      r.ClDataDirectory, r.ClDataFilename, r.LimitDate,   r.Status};
}

inline FileRec fromBus(const BusFileRec& b) {
    FileRec r;
    std::tie(r.FileType, r.DataName, r.ServiceNo, r.ProtocolFilename, r.AccessKey, r.RecordLength, r.CompressID,
             r.UserData, r.SvDataFilename, r.ClTempFilename, r.SetDateTime, r.FileSize, r.ClDataDirectory,
             r.ClDataFilename, r.LimitDate, r.Status) = b;
    return r;
}

} // namespace plx
