#pragma once
// What the terminal information must satisfy before the service stores it
// (PLSetTermInfo): the nine plterm.ini keys with their limits and texts, in
// argument order, shared with the client programs, which check a record
// before they change anything. Limits count characters on both sides, so
// whatever PLSetTermInfo accepts PLGetTermInfo reads back.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "api/ApiRecords.h"
#include "api/FileDefinitionRules.h"

namespace plx {

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

// The key whose stored value PLGetTermInfo refused (empty or too long),
// from the code and message of its failure: its index in termKeys().
// nullopt for any other failure.
std::optional<std::size_t> storedTermFault(std::int32_t code, std::string_view message);

// The first check rec fails, as PLSetTermInfo makes them: every key's
// presence and length, then the digits, then what the file can carry;
// position is the key's argument (from 1).
std::optional<ArgumentFault> checkTermDefinition(const TerminalRec& rec);

} // namespace plx
