#pragma once
// The rules of the names the API methods take (a data kind, a folder, a
// file name) with the texts of their refusals: one table, so that the
// service's methods and the client programs mean the same by them. Limits
// count characters.

#include <cstddef>
#include <optional>
#include <string_view>

#include "api/TextLimits.h"

namespace plx {

inline constexpr std::size_t kFileTypeLimit = 4;
inline constexpr std::size_t kDirectoryLimit = 128;

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

// Refusals of a folder or file name for its form rather than its length.
inline constexpr std::string_view kBadDirectoryText = "ディレクトリの指定が不正です";
inline constexpr std::string_view kBadFileNameText = "ファイル名の指定が不正です";

// A value the settings files cannot carry (a line break, a "]" in a name).
inline constexpr std::string_view kUnstorableText = "管理ファイルに書き込めない文字が含まれています";

// A folder argument names its folder from the root: a relative one would
// mean a folder of the service's own choosing.
bool isAbsoluteFolder(std::string_view folder);
// A file-name argument names one entry of its folder: no "/", and neither
// "." nor "..", so it never reaches outside.
bool isPlainName(std::string_view name);
// A value an ini file can carry on its line: no CR, LF or NUL.
bool fitsIniValue(std::string_view value);
// A value that becomes (part of) an ini section name: as fitsIniValue, and
// no "]", which would end the name.
bool fitsIniSection(std::string_view value);

// The text of what value breaks: longer than the limit first, then empty
// when the rule has a missing text. nullopt when it keeps the rule.
std::optional<std::string_view> lengthFault(std::string_view value, const LengthRule& rule);

} // namespace plx
