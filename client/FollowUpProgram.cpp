#include "client/FollowUpProgram.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/ChildProcess.h"

namespace plx {

std::vector<std::string> splitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

namespace {

// The file execvp runs for name: name itself when it holds a "/", else the
// first executable file of that name in PATH; empty when there is none.
std::string programFile(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "/bin:/usr/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = std::min(folders.find(':', start), folders.size());
        std::string folder(folders.substr(start, end - start));
        std::string file = (folder.empty() ? std::string(".") : folder) + "/" + name;
        struct stat st {};
        if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0) return file;
        start = end + 1;
    }
    return {};
}

// Nobody waits for the program: it is reaped when it ends.
void startDetached(const std::vector<std::string>& words) {
    try {
        ChildProcess(words, ChildOptions{.searchPath = true}).detach();
    } catch (const std::system_error& e) {
        // A script without a "#!" line runs under the shell, as execvp runs it.
        std::string file = e.code().value() == ENOEXEC ? programFile(words.front()) : std::string();
        if (file.empty()) throw;
        std::vector<std::string> shell{"/bin/sh", file};
        shell.insert(shell.end(), words.begin() + 1, words.end());
        ChildProcess(shell).detach();
    }
}

} // namespace

bool startProgram(std::string_view commandLine, int& error) {
    std::vector<std::string> words = splitCommandLine(commandLine);
    if (words.empty()) {
        error = ENOENT;
        return false;
    }
    try {
        startDetached(words);
    } catch (const std::system_error& e) {
        error = e.code().value();
        return false;
    }
    error = 0;
    return true;
}

} // namespace plx
