#pragma once
// Files a process running as root may act on: reading an install-information
// file or running a listed program that another user can change would run
// that user's choices with root's rights.

#include <sys/stat.h>

namespace plx::uninst {

// Owned by another user than root, or writable by a group other than root's
// or by everyone.
bool writableByOthers(const struct stat& st);
// This process runs as root and st is writable by others.
bool untrustedForThisProcess(const struct stat& st);

} // namespace plx::uninst
