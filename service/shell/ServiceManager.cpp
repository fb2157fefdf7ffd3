#include "service/shell/ServiceManager.h"

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

#include "platform/ChildProcess.h"
#include "service/shell/SystemFiles.h"

namespace plx {

namespace {

constexpr const char* kSystemctl = "/usr/bin/systemctl";
constexpr const char* kSysusers = "/usr/bin/systemd-sysusers";

bool executable(const char* path) { return ::access(path, X_OK) == 0; }

} // namespace

ServiceManager::ServiceManager(bool installedHere)
    : installedHere_(installedHere),
      systemdRuns_(installedHere && executable(kSystemctl) && ::access("/run/systemd/system", F_OK) == 0) {}

void ServiceManager::stop(bool disable) const {
    if (!systemdRuns_) return;
    if (disable)
        (void)runProgram({kSystemctl, "disable", "--now", "--quiet", kUnitName});
    else
        (void)runProgram({kSystemctl, "stop", "--quiet", kUnitName});
}

void ServiceManager::createAccount(const std::filesystem::path& sysusersEntry) const {
    if (!installedHere_) return;
    if (!executable(kSysusers)) {
        std::fprintf(stderr, "plserv: %s not found: create the account %s yourself\n", kSysusers, kServiceAccount);
        return;
    }
    if (runProgram({kSysusers, sysusersEntry.string()}) != 0)
        throw std::runtime_error(std::string("systemd-sysusers could not create the account ") + kServiceAccount);
}

void ServiceManager::reload() const {
    if (systemdRuns_) (void)runProgram({kSystemctl, "daemon-reload"});
}

} // namespace plx
