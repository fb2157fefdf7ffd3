#pragma once
// The journal catalog that makes the library's events readable: one entry
// per category of EventLog.h, titled with the category's text, whose body is
// the event's one string. Installing it registers the event source.

#include <string>
#include <string_view>

namespace plx {

inline constexpr const char* kEventCatalogFileName = "korvane-plx.catalog";
// Error, warning and information.
inline constexpr int kEventTypesSupported = 7;

// The catalog text, recording messageFile as the source's message file.
// Throws std::invalid_argument when messageFile holds a line break, which a
// catalog line cannot carry.
std::string eventCatalog(std::string_view messageFile);

} // namespace plx
