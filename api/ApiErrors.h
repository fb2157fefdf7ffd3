#pragma once
// The error triple every object of the API carries: LastErrorCd (one of the
// classes below), LastErrorCdDetail and LastErrorMsg.

#include <cerrno>
#include <cstdint>

namespace plx {

// Error classes of LastErrorCd.
enum ApiErrorCode : std::int32_t {
    kApiOk = 0,
    kApiNotReady = 1,        // no session count, object not initialised, service unreachable
    kApiSystemError = 2,     // store, file or system error
    kApiTransferFailure = 3, // no temporary file, the file to move missing, or a reply out of order
    kApiBadArgument = 4,
    kApiCenterError = 5, // certificate registration or a failure code from the center
};

// LastErrorCdDetail of a failed initialisation.
inline constexpr std::int32_t kInitFailureDetail = 99;

// LastErrorMsg of PLDeleteFileInfo (code kApiSystemError) for a FileType
// that is not registered: a client that only wants the kind gone may take
// it as done.
inline constexpr const char* kFileTypeNotFoundText = "指定したファイル種別が存在しません";

// PLGetTermInfo before any terminal information is stored (no plterm.ini):
// code kApiSystemError with this detail, the system's error for the missing
// file. A client's first run may take it as "nothing set up yet".
inline constexpr std::int32_t kNoTermInfoDetail = ENOENT;

} // namespace plx
