#include "uninstaller/FileTrust.h"

#include <unistd.h>

namespace plx::uninst {

bool writableByOthers(const struct stat& st) {
    return st.st_uid != 0 || (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0);
}

bool untrustedForThisProcess(const struct stat& st) { return ::geteuid() == 0 && writableByOthers(st); }

} // namespace plx::uninst
