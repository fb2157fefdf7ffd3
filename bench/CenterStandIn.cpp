// center_standin: the center's side of the terminal-started conversations,
// fast enough that a benchmark measures the terminal and not the center.
//
// Plain HTTP on 127.0.0.1, a thread per connection, any number of requests
// per connection. RequestAuthentication opens a session (Set-Cookie);
// PutFile is read through once without decoding: only the File values and
// the length of the Entity text are noted; GetFile is answered from Base64
// text prepared ahead (sent with sendfile); ReportStatus closes the session.
//
// Usage:
//   center_standin [--port N] [--log FILE] [--keep DIR]
//                  [--entity FILE --length N --md5 HEX [--compress 0|1]
//                   [--data-file-name NAME]]
// --entity names the Base64 text (already gzip-compressed for
// --compress 1) that every GetFile delivers; --length and --md5 describe
// the plain data. --log appends one line per PutFile: "put <session>
// Length=.. CompressFlag=.. MD5=.. entity=<characters> kept=<path or ->". --keep writes the
// Entity text of every PutFile to DIR/put-<n>.b64 (named in the log line as
// kept=PATH), for a check afterwards.
// Prints {"port": N, "pid": P} on one line once it listens.

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "platform/FdIo.h"
#include "platform/UniqueFd.h"

namespace {

using plx::UniqueFd;

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxMessageHead = 1024 * 1024; // XML before Entity, or a whole small message
constexpr std::size_t kReadBlock = 1024 * 1024;
constexpr int kIdleSeconds = 600;
constexpr const char* kCookieName = "ZORVANTIKE";
constexpr const char* kEnvelopeNs = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kMessageNs = "http://pelorin.korvane.example/2001/DRAFT";

struct Delivery {
    std::string entityPath;
    std::uint64_t entitySize = 0;
    std::uint64_t length = 0;
    std::string md5;
    int compress = 0;
    std::string dataFileName = "delivery.dat";
};

struct Config {
    int port = 0;
    std::string logPath;
    std::string keepDir;
    std::optional<Delivery> delivery;
};

Config g_config;
std::mutex g_mutex;                                      // guards the sessions, the counter and the log
std::unordered_map<std::string, std::string> g_sessions; // cookie value -> conversation kind
std::uint64_t g_counter = 0;
std::FILE* g_log = nullptr;
std::string g_runStamp;

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "center_standin: %s\n", why);
    std::exit(2);
}

std::string nowText(const char* format) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool containsIgnoreCase(std::string_view text, std::string_view part) {
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
        if (startsWithIgnoreCase(text.substr(i), part)) return true;
    return false;
}

// Text of the first <name>...</name> in xml; empty when absent.
std::string element(std::string_view xml, std::string_view name) {
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const std::size_t begin = xml.find(open);
    if (begin == std::string_view::npos) return {};
    const std::size_t from = begin + open.size();
    const std::size_t end = xml.find(close, from);
    if (end == std::string_view::npos) return {};
    return std::string(xml.substr(from, end - from));
}

// The method element's name: the first element inside SOAP-ENV:Body.
std::string methodOf(std::string_view xml) {
    const std::size_t body = xml.find("<SOAP-ENV:Body>");
    if (body == std::string_view::npos) return {};
    const std::size_t lt = xml.find('<', body + 15);
    if (lt == std::string_view::npos) return {};
    std::size_t end = lt + 1;
    while (end < xml.size() && xml[end] != ' ' && xml[end] != '>' && xml[end] != '/') ++end;
    return std::string(xml.substr(lt + 1, end - lt - 1));
}

// One request as read: the HTTP head and what the body scan kept.
struct Request {
    std::string target;
    std::uint64_t contentLength = 0;
    std::optional<std::string> cookieHeader;
    bool close = false;
    std::string head; // the message up to and including "<Entity>", or all of a small one
    std::uint64_t entityChars = 0;
    bool sawEntity = false;
    std::string keptPath; // where the Entity text went, with --keep
};

std::uint64_t nextNumber() {
    std::lock_guard lock(g_mutex);
    return ++g_counter;
}

// Reads the body without keeping it: the XML before Entity is kept, the
// Entity text only counted (and, with --keep, written out for a PutFile).
class BodyScanner {
public:
    explicit BodyScanner(Request& request) : r_(request) {}

    bool feed(const char* p, std::size_t n) {
        if (state_ == State::Head) {
            const std::size_t before = r_.head.size();
            const std::size_t room = kMaxMessageHead > before ? kMaxMessageHead - before : 0;
            r_.head.append(p, std::min(n, room));
            const std::size_t at = r_.head.find("<Entity>", before >= 8 ? before - 8 : 0);
            if (at == std::string::npos) return true; // beyond the cap: ignored
            const std::size_t consumed = at + 8 - before;
            r_.head.resize(at + 8);
            r_.sawEntity = true;
            state_ = State::Entity;
            p += consumed;
            n -= consumed;
            if (!g_config.keepDir.empty() && methodOf(r_.head) == "PutFile") {
                const std::string path = g_config.keepDir + "/put-" + std::to_string(nextNumber()) + ".b64";
                keep_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
                if (!keep_) return false;
                r_.keptPath = path;
            }
        }
        if (state_ == State::Entity && n > 0) {
            // Base64 text never holds "<": the next one closes the element.
            const void* lt = std::memchr(p, '<', n);
            const std::size_t text = lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - p) : n;
            r_.entityChars += text;
            if (keep_ && !plx::writeAll(keep_.get(), p, text)) return false;
            if (lt) state_ = State::Tail;
        }
        return true;
    }

private:
    enum class State { Head, Entity, Tail };
    Request& r_;
    UniqueFd keep_;
    State state_ = State::Head;
};

class Connection {
public:
    explicit Connection(UniqueFd fd) : fd_(std::move(fd)), buffer_(kReadBlock) {}

    void serve() {
        for (;;) {
            Request request;
            if (!readHead(request)) return;
            if (!answer(request) || request.close) return;
        }
    }

private:
    // Fills the buffer once more; false at the end of the stream or on error.
    bool fill() {
        if (begin_ == end_) begin_ = end_ = 0;
        if (end_ == buffer_.size()) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        const ssize_t n = plx::readSome(fd_.get(), buffer_.data() + end_, buffer_.size() - end_);
        if (n <= 0) return false;
        end_ += static_cast<std::size_t>(n);
        return true;
    }

    bool readHead(Request& request) {
        std::string_view seen;
        std::size_t at = std::string_view::npos;
        for (;;) {
            seen = std::string_view(buffer_.data() + begin_, end_ - begin_);
            at = seen.find("\r\n\r\n");
            if (at != std::string_view::npos) break;
            if (seen.size() > kMaxHead) return false;
            if (!fill()) return false;
        }
        const std::string head(seen.substr(0, at));
        begin_ += at + 4;
        std::size_t lineEnd = head.find("\r\n");
        const std::string startLine = head.substr(0, lineEnd);
        const std::size_t sp1 = startLine.find(' ');
        const std::size_t sp2 = startLine.find(' ', sp1 + 1);
        if (sp1 == std::string::npos) return false;
        request.target = startLine.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
        bool chunked = false;
        while (lineEnd != std::string::npos) {
            const std::size_t next = head.find("\r\n", lineEnd + 2);
            const std::string line =
                head.substr(lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
            lineEnd = next;
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            const std::string name = line.substr(0, colon);
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            if (startsWithIgnoreCase(name, "Content-Length") && name.size() == 14) {
                request.contentLength = std::strtoull(value.c_str(), nullptr, 10);
            } else if ((startsWithIgnoreCase(name, "Cookie") && name.size() == 6) ||
                       (startsWithIgnoreCase(name, "Set-Cookie") && name.size() == 10)) {
                if (!request.cookieHeader) request.cookieHeader = value;
            } else if (startsWithIgnoreCase(name, "Connection") && name.size() == 10) {
                request.close = startsWithIgnoreCase(value, "close");
            } else if (startsWithIgnoreCase(name, "Transfer-Encoding")) {
                chunked = true;
            }
        }
        if (chunked) {
            std::fprintf(stderr, "center_standin: chunked requests are not read\n");
            return false;
        }
        return readBody(request);
    }

    bool readBody(Request& request) {
        BodyScanner scanner(request);
        std::uint64_t left = request.contentLength;
        while (left > 0) {
            if (begin_ == end_ && !fill()) return false;
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, end_ - begin_));
            if (!scanner.feed(buffer_.data() + begin_, n)) return false;
            begin_ += n;
            left -= n;
        }
        return true;
    }

    bool answer(const Request& request) {
        const std::string method = methodOf(request.head);
        const std::string kind = containsIgnoreCase(request.target, "putfile")   ? "putfile"
                                 : containsIgnoreCase(request.target, "getfile") ? "getfile"
                                                                                 : "";
        std::string cookieValue;
        bool known = false;
        if (request.cookieHeader) {
            const std::size_t eq = request.cookieHeader->find('=');
            if (eq != std::string::npos) {
                cookieValue = request.cookieHeader->substr(eq + 1);
                cookieValue = cookieValue.substr(0, cookieValue.find(';'));
                std::lock_guard lock(g_mutex);
                known = g_sessions.count(cookieValue) > 0;
            }
        }
        const std::string terminal = element(request.head, "TerminalID");
        const std::string center = element(request.head, "TargetTerminalID");
        auto header = [&](const std::string& sessionId) {
            return "<Header><Time>" + nowText("%Y/%m/%d %H:%M.%S") + "</Time><TerminalID>" + center +
                   "</TerminalID><TargetTerminalID>" + terminal + "</TargetTerminalID><SessionID>" + sessionId +
                   "</SessionID></Header>";
        };
        auto code = [](int c) { return "<ResultCode>" + std::to_string(c) + "</ResultCode>"; };

        if (method == "RequestAuthentication") {
            if (kind.empty()) return reply("RequestAuthenticationResponse", code(10) + header(""), {}, request);
            const std::uint64_t n = nextNumber();
            const std::string value = "standin-" + g_runStamp + "-" + std::to_string(n);
            {
                std::lock_guard lock(g_mutex);
                g_sessions[value] = kind;
            }
            std::string name = element(request.head, "DataFileName");
            if (kind == "getfile" && g_config.delivery) name = g_config.delivery->dataFileName;
            const std::string number = g_runStamp + std::to_string(n);
            return reply("RequestAuthenticationResponse",
                         code(0) + header("SID" + number) + "<FileRecord><DataFileName>" + name +
                             "</DataFileName><FileLoadNo>" + number + "</FileLoadNo><FileRecordKey>RK" + number +
                             "</FileRecordKey></FileRecord>",
                         std::string(kCookieName) + "=" + value, request);
        }
        if (method == "PutFile") {
            if (!known) return reply("PutFileResponse", code(10) + header(""), {}, request);
            if (g_log) {
                std::lock_guard lock(g_mutex);
                std::fprintf(g_log, "put %s Length=%s CompressFlag=%s MD5=%s entity=%llu kept=%s\n",
                             cookieValue.c_str(), element(request.head, "Length").c_str(),
                             element(request.head, "CompressFlag").c_str(), element(request.head, "MD5").c_str(),
                             static_cast<unsigned long long>(request.entityChars),
                             request.keptPath.empty() ? "-" : request.keptPath.c_str());
                std::fflush(g_log);
            }
            return reply("PutFileResponse", code(0) + header(""), {}, request);
        }
        if (method == "GetFile") {
            if (!known) return reply("GetFileResponse", code(10) + header(""), {}, request);
            if (!g_config.delivery) return reply("GetFileResponse", code(32) + header(""), {}, request);
            return deliver(header(""), request);
        }
        if (method == "ReportStatus") {
            if (known) {
                std::lock_guard lock(g_mutex);
                g_sessions.erase(cookieValue);
            }
            return reply("ReportStatusResponse", code(known ? 0 : 10) + header(""), {}, request);
        }
        return reply((method.empty() ? std::string("RequestAuthentication") : method) + "Response",
                     code(10) + header(""), {}, request);
    }

    static std::string envelopeStart(const std::string& method) {
        return std::string("<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"") + kEnvelopeNs + "\"><SOAP-ENV:Body><" + method +
               " xmlns=\"" + kMessageNs + "\">";
    }

    static std::string envelopeEnd(const std::string& method) {
        return "</" + method + "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    }

    static std::string httpHead(std::uint64_t length, const std::string& setCookie, bool close) {
        std::string head = "HTTP/1.1 200 OK\r\n";
        if (!setCookie.empty()) head += "Set-Cookie: " + setCookie + "\r\n";
        head += "Content-Type: text/xml; charset=\"utf-8\"\r\nPragma: no-cache\r\nConnection: ";
        head += close ? "close" : "keep-alive";
        head += "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
        return head;
    }

    bool reply(const std::string& method, const std::string& items, const std::string& setCookie,
               const Request& request) {
        const std::string body = envelopeStart(method) + items + envelopeEnd(method);
        const std::string message = httpHead(body.size(), setCookie, request.close) + body;
        return plx::writeAll(fd_.get(), message.data(), message.size());
    }

    // GetFileResponse around the prepared Entity text, which goes out with
    // sendfile straight from the page cache.
    bool deliver(const std::string& header, const Request& request) {
        const Delivery& d = *g_config.delivery;
        UniqueFd entity(::open(d.entityPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (!entity) return false;
        const std::string method = "GetFileResponse";
        const std::string prefix = envelopeStart(method) + "<ResultCode>0</ResultCode>" + header + "<File><Length>" +
                                   std::to_string(d.length) + "</Length><RecordLength>1</RecordLength><RecordNumber>" +
                                   std::to_string(d.length) +
                                   "</RecordNumber><RecordFlag>1</RecordFlag><CompressFlag>" +
                                   std::to_string(d.compress) + "</CompressFlag><MD5>" + d.md5 + "</MD5><Entity>";
        const std::string suffix = "</Entity></File>" + envelopeEnd(method);
        const std::string head = httpHead(prefix.size() + d.entitySize + suffix.size(), {}, request.close) + prefix;
        if (!plx::writeAll(fd_.get(), head.data(), head.size())) return false;
        off_t offset = 0;
        while (static_cast<std::uint64_t>(offset) < d.entitySize) {
            const ssize_t n =
                ::sendfile(fd_.get(), entity.get(), &offset,
                           static_cast<std::size_t>(std::min<std::uint64_t>(d.entitySize - offset, 1u << 30)));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
        }
        return plx::writeAll(fd_.get(), suffix.data(), suffix.size());
    }

    UniqueFd fd_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

Config parseArguments(int argc, char** argv) {
    Config c;
    Delivery d;
    bool haveEntity = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(("missing value after " + a).c_str());
            return argv[++i];
        };
        if (a == "--port")
            c.port = std::atoi(value().c_str());
        else if (a == "--log")
            c.logPath = value();
        else if (a == "--keep")
            c.keepDir = value();
        else if (a == "--entity") {
            d.entityPath = value();
            haveEntity = true;
        } else if (a == "--length")
            d.length = std::strtoull(value().c_str(), nullptr, 10);
        else if (a == "--md5")
            d.md5 = value();
        else if (a == "--compress")
            d.compress = std::atoi(value().c_str());
        else if (a == "--data-file-name")
            d.dataFileName = value();
        else
            usage(("unknown argument " + a).c_str());
    }
    if (haveEntity) {
        struct stat st {};
        if (::stat(d.entityPath.c_str(), &st) != 0) usage("the entity file cannot be read");
        d.entitySize = static_cast<std::uint64_t>(st.st_size);
        if (d.md5.empty()) usage("--entity needs --md5 and --length");
        c.delivery = d;
    }
    return c;
}

} // namespace

int main(int argc, char** argv) {
    g_config = parseArguments(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    g_runStamp = nowText("%Y%m%d%H%M%S");
    if (!g_config.logPath.empty()) {
        g_log = std::fopen(g_config.logPath.c_str(), "a");
        if (!g_log) usage("the log cannot be opened");
    }

    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener) usage("no socket");
    const int one = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(g_config.port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) usage("cannot bind");
    if (::listen(listener.get(), 256) != 0) usage("cannot listen");
    socklen_t len = sizeof addr;
    ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("{\"port\": %d, \"pid\": %d}\n", ntohs(addr.sin_port), static_cast<int>(::getpid()));
    std::fflush(stdout);

    for (;;) {
        UniqueFd fd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!fd) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) continue;
            usage("accept failed");
        }
        timeval idle{kIdleSeconds, 0};
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([connection = Connection(std::move(fd))]() mutable { connection.serve(); }).detach();
    }
}
