#include "client/UserNotifier.h"

#include <cstdio>
#include <mutex>

namespace plx {

void StderrNotifier::show(const std::string& title, const std::string& text, Icon) {
    std::string line = title + ": ";
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        line += text[i] == '\r' || text[i] == '\n' ? ' ' : text[i];
    }
    line += '\n';
    static std::mutex serial;
    std::lock_guard lock(serial);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace plx
