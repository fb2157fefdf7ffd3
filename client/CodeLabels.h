#pragma once
// Labels the log viewer shows for the codes stored in the log records. Each
// takes the code as the text of its log field and compares it whole and
// exactly; any other text, an empty one included, gives "Unknown(<text>)".

#include <string>
#include <string_view>

namespace plx {

std::string logLevelLabel(std::string_view code);     // session field 0
std::string transferKindLabel(std::string_view code); // session field 3
std::string messageKindLabel(std::string_view code);  // session field 4: where the exchange ended
std::string resultCodeLabel(std::string_view code);   // two-digit center result code
std::string compressLabel(std::string_view code);     // compression flag
std::string recordFormatLabel(std::string_view code); // record flag

} // namespace plx
