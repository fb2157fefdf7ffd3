#pragma once
// The error triple every object of the API carries: LastErrorCd (one of the
// classes below), LastErrorCdDetail and LastErrorMsg.

#include <cstdint>

namespace plx {

// Error classes of LastErrorCd.
enum ApiErrorCode : std::int32_t {
    kApiOk = 0,
    kApiNotReady = 1,    // no session count, object not initialised, service unreachable
    kApiSystemError = 2, // store, file or system error
    kApiNoTempFile = 3,
    kApiBadArgument = 4,
    kApiCenterError = 5, // certificate registration or a failure code from the center
};

// LastErrorCdDetail of a failed initialisation.
inline constexpr std::int32_t kInitFailureDetail = 99;

// LastErrorMsg of PLDeleteFileInfo (code kApiSystemError) for a FileType
// that is not registered: a client that only wants the kind gone may take
// it as done.
inline constexpr const char* kFileTypeNotFoundText = "指定したファイル種別が存在しません";

} // namespace plx
