#include "pllog/EventCatalog.h"

#include <iterator>
#include <stdexcept>

#include "pllog/EventLog.h"

namespace plx {

std::string eventCatalog(std::string_view messageFile) {
    if (messageFile.find_first_of("\r\n") != std::string_view::npos)
        throw std::invalid_argument("the message file path holds a line break");
    std::string file(messageFile);
    std::string text = std::string("# Journal catalog of the events of ") + kSyslogIdentifier +
                       " (SYSLOG_IDENTIFIER), one entry per category.\n"
                       "# EventMessageFile=" +
                       file + "\n# TypeSupported=" + std::to_string(kEventTypesSupported) +
                       "\n# CategoryCount=" + std::to_string(std::size(kEventCategories)) +
                       "\n# CategoryMessageFile=" + file + "\n";
    for (const EventCategory& category : kEventCategories) {
        text += std::string("\n-- ") + category.messageId + "\nSubject: " + category.text +
                "\nDefined-By: " + kSyslogIdentifier + "\n\n@MESSAGE@\n";
    }
    return text;
}

} // namespace plx
