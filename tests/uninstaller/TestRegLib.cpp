// A self-registering library: DllUnregisterServer notes its call in the file
// PLX_TEST_UNREG_MARK names, and fails when PLX_TEST_UNREG_FAIL is set.

#include <cstdio>
#include <cstdlib>

extern "C" long DllUnregisterServer() {
    if (const char* mark = std::getenv("PLX_TEST_UNREG_MARK")) {
        if (FILE* f = std::fopen(mark, "w")) {
            std::fputs("unregistered\n", f);
            std::fclose(f);
        }
    }
    return std::getenv("PLX_TEST_UNREG_FAIL") ? -2147467259L : 0L;
}
