#pragma once
// How a client program shows a message box: a dialog in the desktop client,
// a line on standard error in the command tools.

#include <string>

namespace plx {

class UserNotifier {
public:
    enum class Icon { Information, Warning, Error };
    virtual ~UserNotifier() = default;
    // May be called from any thread; returns when the user has seen it.
    virtual void show(const std::string& title, const std::string& text, Icon icon) = 0;
};

// "title: text" on one line of stderr, line breaks of the text as blanks.
class StderrNotifier final : public UserNotifier {
public:
    void show(const std::string& title, const std::string& text, Icon icon) override;
};

} // namespace plx
