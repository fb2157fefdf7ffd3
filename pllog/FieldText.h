#pragma once
// Caller texts made into log fields. Records are comma-separated and one per
// line, with nothing quoted, so a value from a peer or a user must not be
// able to add a line or move the fields after it.

#include <string>
#include <string_view>

namespace plx {

// The text behind a C argument; a null pointer is an empty text.
std::string_view textOf(const char* text);

// A field that is itself a comma-separated list (the argument line): valid
// UTF-8, with CR and LF made blanks.
std::string listField(std::string_view text);

// A field that holds one value: as listField, and commas made blanks too.
std::string valueField(std::string_view text);

} // namespace plx
