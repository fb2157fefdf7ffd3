#pragma once
// Undoing a self-registering file's registration before it is deleted, by
// what the file is (its name's ending, in any case):
//   ".tlb", ".xml"     an interface file: nothing to undo, deleting it is all
//   ".so", ".so.N"     a shared library: its exported DllUnregisterServer
//                      (long(void), negative on failure), when it has one
//   anything else      a program: run as "<path> /unregserver" and waited
//                      for, at most limit (then it is killed); it fails
//                      unless it exits 0
// A process running as root loads or runs no file that another user can
// write.

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace plx::uninst {

// Unregistration failed; what() says how (the message is never shown).
class UnregisterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class RegistrationKind { InterfaceFile, SharedLibrary, Program };

RegistrationKind registrationKind(const std::filesystem::path& path);

// The longest the uninstaller waits for another program to end.
inline constexpr std::chrono::milliseconds kChildWaitLimit = std::chrono::seconds(60);

// Throws UnregisterError.
void unregisterFile(const std::filesystem::path& path, std::chrono::milliseconds limit = kChildWaitLimit);

} // namespace plx::uninst
