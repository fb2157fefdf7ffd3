#include "pllog/SessionRecord.h"

#include <vector>

#include "api/LogLayout.h"
#include "platform/Utf8.h"
#include "pllog/FieldText.h"

namespace plx {

namespace {

constexpr std::int32_t kVariableLength = -1;

std::string recordText(const char* text) { return valueField(utf8Truncate(utf8Sanitize(textOf(text)), kTextLimit)); }

std::string number(std::int64_t value) { return std::to_string(value); }

// "%02ld": a leading zero for 0..9, a sign counts towards the width.
std::string twoDigits(std::int32_t value) {
    std::string text = std::to_string(value);
    return text.size() < 2 ? "0" + text : text;
}

// FileSize / length rounded towards +infinity, in 64 bits: neither a
// length near INT32_MIN nor a size near INT32_MAX can overflow.
std::int64_t ceilDiv(std::int64_t size, std::int64_t length) {
    std::int64_t q = size / length;
    if (size % length != 0 && (size > 0) == (length > 0)) ++q;
    return q;
}

void addFileFields(std::vector<std::string>& f, const PLlogFileRec* file, std::string_view centerFileName) {
    if (!file) {
        f.resize(f.size() + 9);
        return;
    }
    f.push_back(number(file->ServiceNo));
    f.push_back(recordText(file->ProtocolFilename));
    f.push_back(recordText(file->AccessKey));
    f.push_back(valueField(centerFileName));
    // The caller's record keeps its -1; only the written length becomes 1.
    if (file->FileSize >= 1 && file->RecordLength != 0) {
        std::int32_t length = file->RecordLength == kVariableLength ? 1 : file->RecordLength;
        f.push_back(number(length));
        f.push_back(number(ceilDiv(file->FileSize, length)));
        f.push_back(number(file->FileSize));
    } else {
        f.resize(f.size() + 3);
    }
    f.push_back(file->CompressID == 0 || file->CompressID == 1 ? number(file->CompressID) : std::string());
    f.push_back(file->RecordLength > 0 ? "0" : file->RecordLength == kVariableLength ? "1" : "");
}

} // namespace

std::string formatSessionRecord(const SessionSummary& s) {
    std::vector<std::string> f;
    f.reserve(SessionLog::kFieldCount);
    f.push_back(number(s.level));
    f.push_back(valueField(s.start));
    f.push_back(valueField(s.end));
    f.push_back(number(s.transferKind));
    f.push_back(number(s.phase));
    f.push_back(twoDigits(s.resultCode));
    f.push_back(number(s.detail));
    f.push_back(s.term ? recordText(s.term->CenterHost) : std::string());
    f.push_back(s.term ? recordText(s.term->CenterID) : std::string());
    f.push_back(valueField(s.sessionId));
    f.push_back(s.term ? recordText(s.term->Password) : std::string());
    f.push_back(s.term ? recordText(s.term->ProtocolVersion) : std::string());
    addFileFields(f, s.file, s.centerFileName);
    f.push_back(valueField(s.loadNo));
    f.push_back(valueField(s.recordKey));

    std::string line;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (i) line += ',';
        line += f[i];
    }
    return line;
}

} // namespace plx
