#pragma once
// The socket layer's last error, per thread, in the Winsock numbering that
// the logs, the session records and the clients use.

namespace plx {

inline constexpr int kSocketTimeoutMarker = 10000; // an expired wait
inline constexpr int kSessionStopped = -100;       // stopped through the session event

int socketError();
void setSocketError(int code);
// errno value -> Winsock number (ECONNREFUSED -> 10061, ...); 0 stays 0.
int winsockFromErrno(int err);
void setSocketErrorFromErrno(int err);
// What the center link records: errors below the Winsock range count as none.
inline int recordedSocketError(int code) { return code < kSocketTimeoutMarker ? 0 : code; }

} // namespace plx
