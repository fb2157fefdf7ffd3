#pragma once
// What registration asks of the machine's systemd. Only a registration into
// the machine itself (install root "/") touches it; one into another root
// (tests, staged installs) writes files and nothing more.

#include <filesystem>

namespace plx {

class ServiceManager {
public:
    // installedHere: the files go to this machine's own folders.
    explicit ServiceManager(bool installedHere);

    // Stops the running service (the result is not examined); with
    // disable, the unit is also no longer started at boot.
    void stop(bool disable) const;
    // Creates the service account and its group from the sysusers.d entry
    // at path. Throws std::runtime_error when systemd-sysusers fails.
    void createAccount(const std::filesystem::path& sysusersEntry) const;
    // Makes systemd read the units again.
    void reload() const;

private:
    bool installedHere_;
    bool systemdRuns_;
};

} // namespace plx
