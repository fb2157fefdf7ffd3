#include "client/FollowUpProgram.h"

#include <cerrno>
#include <system_error>

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

bool startProgram(std::string_view commandLine, int& error) {
    std::vector<std::string> words = splitCommandLine(commandLine);
    if (words.empty()) {
        error = ENOENT;
        return false;
    }
    try {
        // Nobody waits for the program: it is reaped when it ends.
        ChildProcess(words, ChildOptions{.searchPath = true}).detach();
    } catch (const std::system_error& e) {
        error = e.code().value();
        return false;
    }
    error = 0;
    return true;
}

} // namespace plx
