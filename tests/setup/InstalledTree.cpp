#include "tests/setup/InstalledTree.h"

#include <stdexcept>

namespace plx::test {

namespace fs = std::filesystem;

fs::path installedTree() {
    fs::path tree = PLX_INSTALLED_TREE;
    if (!fs::is_directory(tree / "bin"))
        throw std::runtime_error("no installed tree at " + tree.string() + ": run the tests through ctest");
    return tree;
}

CopiedTree::CopiedTree(const std::vector<std::string>& programs) : root_(dir_ / "製品 PLX") {
    if (programs.empty()) {
        fs::copy(installedTree(), root_, fs::copy_options::recursive);
        return;
    }
    fs::create_directories(bin());
    for (const std::string& program : programs) fs::copy(installedTree() / "bin" / program, bin() / program);
}

ProgramRun CopiedTree::run(const std::string& program, const std::vector<std::string>& args) const {
    ScopedEnv home("PLX_HOME", "");
    std::vector<std::string> argv{(bin() / program).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCaptured(argv);
}

} // namespace plx::test
