#pragma once
// The macros of the install-information file: ":NAME:" texts in its paths
// that stand for folders of the machine it is removed from. The table is
// ordered; expansion applies each macro once, in table order, so a value
// holding a macro name is expanded further only by later macros.

#include <string>
#include <string_view>
#include <vector>

namespace plx::uninst {

struct Macro {
    std::string name; // with its colons: ":FONTS:"
    std::string value;
};

// The fixed macros first in the table: this platform's folders for the
// shell's folders (the table is also in uninstaller/README.md).
std::vector<Macro> platformMacros();
// The value of one of them (empty for a name that is not one).
std::string platformFolder(std::string_view macro);

class MacroTable {
public:
    void clear() { entries_.clear(); }
    void add(std::string name, std::string value);
    const std::vector<Macro>& entries() const { return entries_; }
    // Each macro name, compared without regard to ASCII case, replaced by its
    // value; stops early once no ":" is left.
    std::string expand(std::string_view text) const;

private:
    std::vector<Macro> entries_;
};

} // namespace plx::uninst
