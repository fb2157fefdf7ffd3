#pragma once
// plterm.ini section "terminfo": the terminal information as the Client
// writes and reads it, by the keys of api/TermDefinitionRules.h.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "api/ApiRecords.h"
#include "api/TermDefinitionRules.h"
#include "common/TermInfo.h"
#include "platform/IniFile.h"

namespace plx {

// A stored value as the records carry it (valid UTF-8).
std::string termValue(const IniDocument& doc, std::string_view key);

// Writes the nine keys in one replace of plterm.ini, private to its owner
// whatever mode it had: it holds the passwords in clear text.
void saveTermInfo(const TerminalRec& rec);

// value as an ini line must carry it so that reading gives value back:
// quoted when the reader would otherwise trim blanks or drop quotes.
std::string iniValueText(std::string_view value);

} // namespace plx
