#include "pllog/FieldText.h"

#include <algorithm>

#include "platform/Utf8.h"

namespace plx {

namespace {

std::string replaced(std::string_view text, std::string_view breakers) {
    // U+FFFD never contains a CR, LF or comma byte, so sanitising first is safe.
    std::string field = utf8Sanitize(text);
    std::replace_if(
        field.begin(), field.end(), [&](char c) { return breakers.find(c) != std::string_view::npos; }, ' ');
    return field;
}

} // namespace

std::string_view textOf(const char* text) { return text ? std::string_view(text) : std::string_view(); }

std::string listField(std::string_view text) { return replaced(text, "\r\n"); }

std::string valueField(std::string_view text) { return replaced(text, "\r\n,"); }

} // namespace plx
