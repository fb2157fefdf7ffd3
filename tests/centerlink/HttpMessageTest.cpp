#include "centerlink/HttpMessage.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

using namespace plx;
using test::ScopedHome;
using test::writeFile;

namespace {

std::string requestFor(const ScopedHome& home, const std::string& term, const std::string& body = "<x/>") {
    writeFile(home / "plterm.ini", "[terminfo]\n" + term);
    HttpMessage m;
    m.addHeader("Cookie", "ZORVANTIKE=2024/03/01 09:05.07");
    m.setMethod("POST");
    m.setRequestTarget("/putfile", readCenterRoute().value());
    OutgoingMessage content;
    content.append(body);
    std::string text;
    EXPECT_TRUE(m.request(std::move(content)).toText(text));
    return text;
}

} // namespace

TEST(HttpMessageWrite, DirectRequest) {
    ScopedHome home;
    EXPECT_EQ(requestFor(home, "centerurl=https://center.example:8443/\n"), "POST /putfile HTTP/1.1\r\n"
                                                                            "Cookie: ZORVANTIKE=2024/03/01 09:05.07\r\n"
                                                                            "Host: CENTER.EXAMPLE\r\n"
                                                                            "port: 8443\r\n"
                                                                            "Connection: keep-alive\r\n"
                                                                            "Pragma: no-cache\r\n"
                                                                            "Content-Length: 4\r\n\r\n<x/>");
}

TEST(HttpMessageWrite, ProxyWithoutUserIsNoProxy) {
    ScopedHome home;
    EXPECT_EQ(requestFor(home, "centerurl=http://center.example/\nproxyserver=proxy:3128\nproxypassword=pw\n"),
              "POST /putfile HTTP/1.1\r\nCookie: ZORVANTIKE=2024/03/01 09:05.07\r\nHost: CENTER.EXAMPLE\r\n"
              "port: 80\r\nConnection: keep-alive\r\nPragma: no-cache\r\nContent-Length: 4\r\n\r\n<x/>");
}

TEST(HttpMessageWrite, PlainHttpThroughAProxyUsesTheAbsoluteTarget) {
    ScopedHome home;
    std::string proxy = "proxyserver=proxy:3128\nproxyuser=user\nproxypassword=secret\n";
    EXPECT_EQ(requestFor(home, "centerurl=http://center.example/\n" + proxy),
              "POST http://center.example/putfile HTTP/1.0\r\n"
              "Cookie: ZORVANTIKE=2024/03/01 09:05.07\r\n"
              "Host: CENTER.EXAMPLE\r\n"
              "port: 80\r\n"
              "Proxy-Connection: close\r\n"
              "Pragma: no-cache\r\n"
              "Proxy-Authorization:Basic dXNlcjpzZWNyZXQ=\r\n"
              "Content-Length: 4\r\n\r\n<x/>");
    std::string kept = requestFor(home, "centerurl=http://center.example/\nproxykeepalive=yes\n" + proxy);
    EXPECT_EQ(kept.substr(0, kept.find("\r\n")), "POST http://center.example/putfile HTTP/1.1");
    EXPECT_NE(kept.find("Proxy-Connection: keep-alive\r\n"), std::string::npos);
    // Without a center URL the built-in default stands in the absolute target only.
    std::string fallback = requestFor(home, proxy);
    EXPECT_EQ(fallback.substr(0, fallback.find("\r\n")), "POST http://localhost/putfile HTTP/1.0");
    EXPECT_NE(fallback.find("Host: \r\nport: 80\r\n"), std::string::npos);
}

TEST(HttpMessageWrite, HttpsThroughAProxyTravelsInTheTunnel) {
    ScopedHome home;
    std::string text = requestFor(home, "centerurl=HTTPS://center.example/\nproxyserver=proxy:3128\nproxyuser=u\n"
                                        "proxypassword=p\nproxykeepalive=yes\n");
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "POST /putfile HTTP/1.1");
    EXPECT_NE(text.find("port: 443\r\nConnection: keep-alive\r\n"), std::string::npos);
    EXPECT_NE(text.find("Proxy-Authorization:Basic dTpw\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Proxy-Connection"), std::string::npos);
}

TEST(HttpMessageWrite, BodiesAndRepeatedWrites) {
    ScopedHome home;
    EXPECT_NE(requestFor(home, "centerurl=http://c/\n", "").find("Content-Length: 0\r\n\r\n"), std::string::npos);

    HttpMessage reply;
    reply.addHeader("Set-Cookie", "ZORVANTIKE=x");
    std::string r1;
    std::string r2;
    ASSERT_TRUE(reply.response({}).toText(r1));
    ASSERT_TRUE(reply.response({}).toText(r2)); // no header is doubled by a second write
    std::string expected = "HTTP/1.1 200 OK\r\nSet-Cookie: ZORVANTIKE=x\r\nPragma: no-cache\r\nConnection: "
                           "Keep-Alive\r\nContent-Length: 0\r\n\r\n";
    EXPECT_EQ(r1, expected);
    EXPECT_EQ(r2, expected);
}

TEST(HttpMessageRead, HeadersCookiesAndTheRequestLine) {
    HttpMessage received("POST /center/getfile HTTP/1.1\r\nHost: T\r\nset-COOKIE:  ZORVANTIKE=2024/03/01 09:05.07\r\n"
                         "Cookie: second\r\nContent-Length: 9\r\n\r\nbody\n\nmore");
    EXPECT_EQ(received.receivedTarget(), "/center/getfile");
    auto cookie = received.getCookie();
    ASSERT_TRUE(cookie);
    EXPECT_EQ(*cookie, " ZORVANTIKE=2024/03/01 09:05.07"); // one of the two blanks is kept
    EXPECT_EQ(cookieSessionValue(*cookie), "2024/03/01 09:05.07");
    EXPECT_EQ(cookieSessionValue("A=b;path=/"), "b");
    // A ";" right after the "=" begins the value, it ends none.
    EXPECT_EQ(cookieSessionValue("A=;b"), ";b");
    EXPECT_EQ(cookieSessionValue("no value"), "");
    // The body's blank line is not part of the header.
    EXPECT_EQ(received.parseHeaders().size(), 4u);

    HttpMessage noBlankLine("HTTP/1.1 200 OK\r\nSet-Cookie: ZORVANTIKE=x\r\n");
    EXPECT_TRUE(noBlankLine.parseHeaders().empty());
    EXPECT_FALSE(noBlankLine.getCookie());
}

TEST(HttpMessageRead, ConnectTargets) {
    ScopedHome home;
    auto routeFor = [&](const std::string& term) {
        writeFile(home / "plterm.ini", "[terminfo]\n" + term);
        return readCenterRoute().value();
    };
    EXPECT_EQ(routeFor("centerurl=https://center.example:8443/x\n").connectHost(), "CENTER.EXAMPLE");
    EXPECT_EQ(routeFor("centerurl=https://center.example:8443/x\n").connectPort(), 8443);
    EXPECT_EQ(routeFor("centerurl=https://center.example/x\n").connectPort(), 443);
    EXPECT_EQ(routeFor("centerurl=http://center.example/x\n").connectPort(), 80);
    // No center URL names no host: nothing is connected to.
    EXPECT_EQ(routeFor("").connectHost(), "");
    EXPECT_EQ(routeFor("").connectPort(), 80);
    std::string proxy = "proxyserver=proxy.example:3128\nproxyuser=u\nproxypassword=p\n";
    EXPECT_EQ(routeFor("centerurl=https://center.example:8443/x\n" + proxy).connectHost(), "proxy.example");
    EXPECT_EQ(routeFor("centerurl=https://center.example:8443/x\n" + proxy).connectPort(), 3128);
}
