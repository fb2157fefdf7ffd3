// CVUninst: removes an installation described by its install-information file.

#include <cstdio>
#include <exception>

#include "uninstaller/Flow.h"

int main(int argc, char** argv) {
    try {
        return plx::uninst::runUninstaller(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "CVUninst: %s\n", e.what());
        return 1;
    }
}
