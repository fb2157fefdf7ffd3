#pragma once
// Opening the folder of a listed path so that what it names cannot be
// redirected: below the folder the path is anchored in (the installation's
// base folder or a macro folder), each component is opened without
// following a symbolic link. The anchor itself, and paths anchored nowhere,
// are resolved as the system resolves them.

#include <filesystem>
#include <string>

#include "platform/UniqueFd.h"

namespace plx::uninst {

class ParentFolder {
public:
    // path: absolute and lexically normal. anchor: empty, or a normal folder
    // path equals or lies below.
    static ParentFolder open(const std::filesystem::path& path, const std::string& anchor);

    bool opened() const { return static_cast<bool>(fd_); }
    // Why it did not open: ELOOP when a component below the anchor is a
    // symbolic link, ENOENT when one is missing, else what the system said.
    int error() const { return error_; }
    int fd() const { return fd_.get(); }
    // The last component of the path, to be used with fd().
    const std::string& name() const { return name_; }

private:
    UniqueFd fd_;
    int error_ = 0;
    std::string name_;
};

} // namespace plx::uninst
