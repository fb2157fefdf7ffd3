#pragma once
// The length rules of the names the API methods take (a data kind, a
// folder, a file name) with the texts of their refusals: one table, so that
// the service's methods and the client programs mean the same by them.
// Limits count characters.

#include <cstddef>
#include <optional>
#include <string_view>

namespace plx {

inline constexpr std::size_t kFileTypeLimit = 4;
inline constexpr std::size_t kDirectoryLimit = 128;
inline constexpr std::size_t kFileNameLimit = 64; // a client's, a temporary or a center's file name

struct LengthRule {
    std::size_t limit;
    std::string_view tooLongText;
    std::string_view missingText; // an empty value; empty: the value may be empty
};

inline constexpr LengthRule kFileTypeRule{kFileTypeLimit, "ファイル種別が4桁を超えました", "ファイル種別が未入力です"};
// The folder a file is sent or staged from.
inline constexpr LengthRule kSourceDirectoryRule{kDirectoryLimit, "ディレクトリ指定が128桁を超えました",
                                                 "ディレクトリが未入力です"};
// The folder a file is received or picked up into.
inline constexpr LengthRule kTargetDirectoryRule{kDirectoryLimit, "ディレクトリが128桁を超えました",
                                                 "ディレクトリが未入力です"};
inline constexpr LengthRule kFileNameRule{kFileNameLimit, "ファイル名が64桁を超えました", "ファイル名が未入力です"};

// The text of what value breaks: longer than the limit first, then empty
// when the rule has a missing text. nullopt when it keeps the rule.
std::optional<std::string_view> lengthFault(std::string_view value, const LengthRule& rule);

} // namespace plx
