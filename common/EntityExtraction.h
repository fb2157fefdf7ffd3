#pragma once
// Moving the Base64 body of a received SOAP message out of the message.

#include <filesystem>
#include <optional>

namespace plx {

// Decodes the text of the `Entity` element of message file F into F + ".dat"
// and rewrites F with that path in its place, so F can be parsed as a small
// document. Returns the decoded file's path; nullopt (F unchanged, no
// companion files left) when the tags are not within reach or the text is
// not Base64. Callers must take the body only from the returned path.
std::optional<std::filesystem::path> extractEntity(const std::filesystem::path& messageFile);

} // namespace plx
