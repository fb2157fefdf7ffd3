#pragma once
// Unattended runs: PLX_UNINST_SCRIPT holds the answers, comma-separated, in
// the order they are asked. First the main dialog's: "ok" starts the removal
// and closes the dialog when it is done; "cancel" closes it. Then one per
// shared-file question: "yes", "yes-to-all", "no", "no-to-all" ("no" once
// they run out). Any other word is refused before the run starts.
// Messages go to standard error as "CVUnInstaller: <text>", and so, after a
// removal, does what it left and why (uninstaller/RemovalReport.h);
// questions about web pages are answered no.

#include <deque>
#include <optional>
#include <string>

#include "uninstaller/UserPrompts.h"

namespace plx::uninst {

inline constexpr const char* kScriptVariable = "PLX_UNINST_SCRIPT";

// The first answer of script the program does not know (the whole script
// when it holds none); nullopt when it knows them all.
std::optional<std::string> unknownScriptAnswer(const std::string& script);

class ScriptedPrompts : public UserPrompts {
public:
    explicit ScriptedPrompts(const std::string& script);
    void inform(QWidget* owner, const std::string& text, const std::string& caption) override;
    bool confirm(QWidget* owner, const std::string& text) override;
    void openUrl(const std::string& url) override;
    SharedFileAnswer askSharedFile(QWidget* owner, const std::filesystem::path& file) override;
    void attend(MainDialog& dialog) override;

private:
    std::string next(const char* fallback);

    std::deque<std::string> answers_;
};

} // namespace plx::uninst
