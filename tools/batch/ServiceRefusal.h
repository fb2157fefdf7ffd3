#pragma once
// Why the service turned a command tool away, in words an operator acts on,
// for the tool's standard error beside the triple it reports anyway.

#include <string>

#include "client/CallStatus.h"

namespace plx {

// "サービスが起動していません" when nothing serves the bus name, the
// operators' group when the bus refused this caller; empty for any other
// status.
std::string serviceRefusal(const CallStatus& status);

// "program: " and that reason as a line on standard error, when there is one.
void tellServiceRefusal(const char* program, const CallStatus& status);

} // namespace plx
