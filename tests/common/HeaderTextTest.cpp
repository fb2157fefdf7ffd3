#include "common/HeaderText.h"

#include <gtest/gtest.h>

using namespace plx;

TEST(HeaderText, PairsLoseOneEdgeCharacterEach) {
    auto pairs = parseHeaders("HTTP/1.1 200 OK\r\nSet-Cookie:  ZORVANTIKE=abc\r\nX: a:b\r\nnocolon\r\n");
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].first, "Set-Cookie");
    EXPECT_EQ(pairs[0].second, " ZORVANTIKE=abc"); // only one blank dropped
    EXPECT_EQ(pairs[1].first, "X");
    EXPECT_EQ(pairs[1].second, "a:b");
    // Text with CR but no LF is cut at CR.
    auto crOnly = parseHeaders("A: 1\rB: 2\r");
    ASSERT_EQ(crOnly.size(), 2u);
    EXPECT_EQ(crOnly[1].second, "2");
}

TEST(HeaderText, KeepAliveIsFoundInAnyCase) {
    EXPECT_TRUE(isKeepAlive("HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\n"));
    EXPECT_TRUE(isKeepAlive("HTTP/1.0 200 OK\r\nproxy-connection: keep-alive\r\n"));
    EXPECT_FALSE(isKeepAlive("HTTP/1.1 200 OK\r\nConnection: close\r\n"));
    EXPECT_FALSE(isKeepAlive("HTTP/1.1 200 OK\r\nX-Connection: keep-alive\r\n"));
    EXPECT_FALSE(isKeepAlive(""));
}

TEST(HeaderText, StatusLine) {
    StatusLine s;
    ASSERT_TRUE(parseStatusLine(s, "HTTP/1.1 200 Connection established\r\nVia: x\r\n"));
    EXPECT_EQ(s.statusCode, 200);
    EXPECT_EQ(s.reason, "Connection established");
    ASSERT_TRUE(parseStatusLine(s, "HTTP/1.0 407\r\n")); // no reason phrase is legal
    EXPECT_EQ(s.statusCode, 407);
    EXPECT_FALSE(parseStatusLine(s, "ICY 200 OK\r\n"));
    EXPECT_FALSE(parseStatusLine(s, "HTTP/1.1\r\n"));
    EXPECT_FALSE(parseStatusLine(s, "HTTP/1.1 abc OK\r\n"));
    EXPECT_FALSE(parseStatusLine(s, "HTTP/1.1 200x OK\r\n"));
    EXPECT_FALSE(parseStatusLine(s, "garbage\r\nHTTP/1.1 200 OK\r\n"));
}
