#include "uninstaller/CommaText.h"

namespace plx::uninst {

namespace {

bool isBlank(char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; }

} // namespace

std::vector<std::string> splitCommaText(std::string_view text) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && isBlank(text[i])) ++i;
    };
    skipBlanks();
    while (i < text.size()) {
        std::string field;
        if (text[i] == '"') {
            ++i;
            while (i < text.size()) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
        } else {
            while (i < text.size() && !isBlank(text[i]) && text[i] != ',') field += text[i++];
        }
        fields.push_back(std::move(field));
        skipBlanks();
        if (i < text.size() && text[i] == ',') {
            ++i;
            if (i == text.size()) fields.emplace_back();
            skipBlanks();
        }
    }
    return fields;
}

} // namespace plx::uninst
