#pragma once
// The text a SOAP writer produces, for checking messages in tests.

#include <gtest/gtest.h>
#include <string>

#include "common/OutgoingMessage.h"
#include "common/XmlWriter.h"

namespace plx::test {

template <typename Write>
std::string xmlText(Write write) {
    OutgoingMessage message;
    XmlWriter w;
    w.open(message);
    write(w);
    w.close();
    std::string text;
    EXPECT_TRUE(message.toText(text));
    return text;
}

} // namespace plx::test
