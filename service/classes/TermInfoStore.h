#pragma once
// plterm.ini section "terminfo": the terminal information as the Client
// writes and reads it. Limits count characters on both sides, so whatever
// PLSetTermInfo accepts PLGetTermInfo reads back.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "api/ApiRecords.h"
#include "platform/IniFile.h"

namespace plx {

inline constexpr const char* kTermSection = "terminfo";

// One key of the section with its field, limit and the Client's texts.
struct TermKey {
    std::string_view name;
    std::string TerminalRec::*field;
    std::size_t limit;              // characters
    std::string_view missingText;   // argument empty; empty for optional keys
    std::string_view tooLongText;   // argument over the limit
    std::string_view notDigitsText; // empty unless digits only
    std::string_view storedTooLongText;
    std::string_view storedEmptyText; // empty for optional keys
};

// The nine keys in the order they are written and read.
const std::array<TermKey, 9>& termKeys();

// plterm.ini in the program folder; nullopt when it is not there.
std::optional<IniDocument> loadTermIni();

// A stored value as the records carry it (valid UTF-8).
std::string termValue(const IniDocument& doc, std::string_view key);

// Writes the nine keys in one replace of plterm.ini, private to its owner
// whatever mode it had: it holds the passwords in clear text.
void saveTermInfo(const TerminalRec& rec);

// value as an ini line must carry it so that reading gives value back:
// quoted when the reader would otherwise trim blanks or drop quotes.
std::string iniValueText(std::string_view value);

} // namespace plx
