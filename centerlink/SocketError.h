#pragma once
// How a socket operation ended, with the error taken where it failed, in the
// Winsock numbering that the logs, the session records and the clients use.

#include <sys/types.h>

namespace plx {

inline constexpr int kSocketTimeoutMarker = 10000; // an expired wait
inline constexpr int kSessionStopped = -100;       // stopped through the session event

// A byte count (a read's 0: the peer closed), or a failure and its code:
// a Winsock number, kSocketTimeoutMarker, kSessionStopped, or 0 when no
// socket call failed (a TLS protocol error).
struct [[nodiscard]] SocketResult {
    ssize_t count = -1;
    int error = 0;

    static SocketResult done(ssize_t bytes) { return {bytes, 0}; }
    static SocketResult failed(int code) { return {-1, code}; }
    static SocketResult failedWithErrno(int err);
    bool ok() const { return count >= 0; }
    // Bytes arrived: neither a failure nor the peer's close.
    bool gotBytes() const { return count > 0; }
};

// errno value -> Winsock number (ECONNREFUSED -> 10061, ...); 0 stays 0.
int winsockFromErrno(int err);
// What the center link records: errors below the Winsock range count as none.
inline int recordedSocketError(int code) { return code < kSocketTimeoutMarker ? 0 : code; }

} // namespace plx
