// The gateway message handler driven as the server drives it: request files
// in, reply files out, the register and the events checked in between.
#include "service/gateway/CenterNetwork.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <optional>

#include "centerlink/SoapMessages.h"
#include "centerlink/SoapReader.h"
#include "common/Base64.h"
#include "common/CenterRegister.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/Gzip.h"
#include "platform/IniFile.h"
#include "platform/Utf8.h"
#include "service/classes/Retrieve.h"
#include "service/classes/Transport.h"
#include "tests/IniProfile.h"
#include "tests/TestSupport.h"
#include "tests/XmlText.h"
#include "tests/service/TransferFixture.h"

using namespace plx;
using namespace plx::test;
namespace fs = std::filesystem;

namespace {

using Codes = std::vector<std::int32_t>;

class RecordedEvents : public ClientEvents {
public:
    void PLSendStatus(std::int32_t, std::int32_t, std::int32_t) override {}
    void PLRecvStatus(std::int32_t, std::int32_t, std::int32_t) override {}
    void PLRecvRequest(std::int32_t code, const std::string& fileType) override {
        codes.push_back(code);
        types.push_back(fileType);
    }
    Codes codes;
    std::vector<std::string> types;
};

struct Reply {
    std::string head;
    std::string body;
    std::shared_ptr<SoapDocument> doc;
    std::optional<SoapElement> method(std::string_view name) const { return doc ? doc->method({name}) : std::nullopt; }
    std::string code(std::string_view name) const {
        auto m = method(name);
        return m ? m->childText("ResultCode") : "<no " + std::string(name) + ">";
    }
    std::string header(const std::string& name) const {
        auto at = head.find("\r\n" + name + ": ");
        if (at == std::string::npos) return "<none>";
        auto start = at + name.size() + 4;
        return head.substr(start, head.find("\r\n", start) - start);
    }
};

std::string md5Of(const std::string& data, const fs::path& scratch) {
    writeFile(scratch, data);
    return getFileMD5(scratch);
}

std::vector<std::string> zvFiles(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind("@zv", 0) == 0) names.push_back(e.path().string());
    return names;
}

AuthenticationRequest goodAuth() {
    return {{"2024/01/01 10:00.00", "9001", "1001", "S-1", true},
            "pw",
            "1.0",
            "7",
            "PF01",
            "AK0001",
            "0",
            "center.dat",
            "L1",
            "K1"};
}

class CenterNetworkTest : public ::testing::Test {
protected:
    CenterNetworkTest() : pllog_("PLX_PLLOG_LIBRARY", PLX_PLLOG_PATH) {
        for (const fs::path& f : {temp(), home_ / "apilog", home_ / "sessionlog"}) fs::create_directory(f);
        writeFile(home_ / "plconfig.ini", "[tempfile]\nlocation=" + temp().string() +
                                              "\n[apilog]\nlocation=" + (home_ / "apilog").string() +
                                              "\n[sessionlog]\nlocation=" + (home_ / "sessionlog").string() +
                                              "\n[duplication]\npermission=no\n");
        client_->PLSetTermInfo("1001", "9001", "center", "http://127.0.0.1:1/", "pw", "1.0", "", "", "");
        defineKind(-1, 0);
        client_->setEventSink(&events_);
        client_->setSubscriberCounter([this] { return subscribers_; });
        handler_.beginConnection();
        tmpdir_ = std::make_unique<ScopedEnv>("TMPDIR", scratch_.path().string());
    }
    ~CenterNetworkTest() override { client_->setEventSink(nullptr); }

    fs::path temp() const { return home_ / "temp"; }
    void defineKind(std::int32_t recordLength, std::int32_t compress) {
        ASSERT_TRUE(client_->PLSetFileInfo("K001", "テスト", 7, "PF01", "AK0001", recordLength, compress, ""));
    }
    static CenterRecord record(const fs::path& file, std::int32_t direction, std::int32_t status) {
        CenterRecord r;
        r.sectionName = makeSectionName("K001", file.string());
        r.tempFilePath = file.string();
        r.sendRecvFlag = direction;
        r.status = status;
        return r;
    }
    CenterRecord stage(const std::string& content, std::int32_t limitDays = 0) {
        fs::path file = test::makeTempFile(temp());
        writeFile(file, content);
        CenterRecord r = record(file, kDirectionSend, kStatusWaiting);
        r.limitDays = limitDays;
        writeCenterRecord(r);
        return r;
    }
    std::int32_t status(const CenterRecord& staged) {
        for (const auto& r : loadCenterRecords())
            if (r.sectionName == staged.sectionName) return r.status;
        return -1;
    }
    std::vector<CenterRecord> received() {
        std::vector<CenterRecord> out;
        for (const auto& r : loadCenterRecords())
            if (r.sendRecvFlag == kDirectionRecv) out.push_back(r);
        return out;
    }
    std::vector<std::vector<std::string>> sessions(const std::string& kind) {
        std::vector<std::vector<std::string>> out;
        std::string name = "plsession" + formatDate(localNow().value_or(LocalDateTime{})) + ".log";
        std::ifstream in(home_ / "sessionlog" / name);
        for (std::string line; std::getline(in, line);)
            if (auto f = splitFields(line); f.size() > 3 && f[3] == kind) out.push_back(f);
        return out;
    }

    // As the server hands a request over: a "@zv" body file and the header text.
    Reply post(const std::string& target, const std::string& body, std::optional<std::string> cookie = {}) {
        fs::path file = test::makeTempFile();
        writeFile(file, body);
        std::string header = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (cookie.value_or(cookie_) != "") header += "Cookie: " + cookie.value_or(cookie_) + "\r\n";
        header += "Content-Length: " + std::to_string(body.size()) + "\n\n";
        GatewayRequest request{.socket = -1, .body = &file, .header = header, .settings = loadSettings()};
        std::string text;
        EXPECT_TRUE(handler_.respond(request).toText(text));
        EXPECT_FALSE(fs::exists(file)) << "request file left behind";
        Reply reply;
        if (text.empty()) return reply;
        auto split = text.find("\r\n\r\n");
        reply.head = text.substr(0, split);
        reply.body = text.substr(split + 4);
        writeFile(work_ / "reply.xml", reply.body);
        reply.doc = std::make_shared<SoapDocument>(SoapDocument::parseFile(work_ / "reply.xml"));
        return reply;
    }
    std::string message(const std::function<void(XmlWriter&)>& write) { return test::xmlText(write); }
    void end() {
        GatewayRequest last{.socket = -1, .body = nullptr, .header = "", .level = 2};
        handler_.endConnection(last);
    }

    Reply authenticate(const std::string& target, const AuthenticationRequest& a = goodAuth()) {
        Reply r = post(target, message([&](XmlWriter& w) { writeRequestAuthentication(w, a); }), "");
        cookie_ = r.header("Set-Cookie");
        return r;
    }
    SoapHeader header() const { return {getNowTimeText(), "9001", "1001", "", true}; }
    Reply getFile() {
        return post("/getfile", message([&](XmlWriter& w) { writeGetFile(w, "0", header()); }));
    }
    FileElement delivery(const std::string& data, bool gzip = false) {
        writeFile(work_ / "raw", data);
        if (gzip) gzipFile(work_ / "raw", work_ / "raw.gz");
        encodeFileBase64(gzip ? work_ / "raw.gz" : work_ / "raw", work_ / "entity");
        auto text = std::make_shared<std::string>(readFile(work_ / "entity"));
        std::string size = std::to_string(data.size());
        return {size,
                "1",
                size,
                "1",
                gzip ? "1" : "0",
                getFileMD5(work_ / "raw"),
                {text->size(), [text](const ByteSink& sink) { return sink(text->data(), text->size()); }}};
    }
    Reply putFile(const FileElement& f) {
        return post("/putfile", message([&](XmlWriter& w) { writePutFile(w, "0", header(), f); }));
    }
    std::string fields(const SoapElement& file, std::initializer_list<const char*> names) {
        std::string out;
        for (const char* name : names) out += (out.empty() ? "" : ",") + file.childText(name);
        return out;
    }
    std::string entity(const SoapElement& file) {
        writeFile(work_ / "entity.b64", file.childText("Entity"));
        EXPECT_TRUE(decodeFileBase64(work_ / "entity.b64", work_ / "entity.bin"));
        EXPECT_TRUE(gunzipFile(work_ / "entity.bin", work_ / "plain.bin")); // plain data is copied as is
        return readFile(work_ / "plain.bin");
    }
    Reply report(const std::string& target, const std::string& code = "0") {
        return post(target, message([&](XmlWriter& w) { writeReportStatus(w, code, header()); }));
    }

    ScopedHome home_;
    TempDir work_;
    TempDir scratch_;
    ScopedEnv pllog_;
    std::shared_ptr<Client> client_ = std::make_shared<Client>();
    RecordedEvents events_;
    std::int32_t subscribers_ = 1;
    CenterNetwork handler_{client_};
    std::string cookie_;
    std::unique_ptr<ScopedEnv> tmpdir_; // last: the fixture's own folders stay elsewhere
};

} // namespace

TEST_F(CenterNetworkTest, FetchSendsTheStagedFileAndMarksItSent) {
    std::string data = sampleData(250);
    CenterRecord staged = stage(data);
    Reply auth = authenticate("/getfile");
    EXPECT_EQ(auth.code("RequestAuthenticationResponse"), "0");
    EXPECT_EQ(cookie_.rfind("ZORVANTIKE=", 0), 0u);
    EXPECT_EQ(status(staged), kStatusInProgress);

    Reply got = getFile();
    ASSERT_EQ(got.code("GetFileResponse"), "0");
    EXPECT_EQ(got.header("Cookie"), cookie_);
    auto file = got.method("GetFileResponse")->child("File");
    ASSERT_TRUE(file);
    EXPECT_EQ(fields(*file, {"Length", "RecordLength", "RecordNumber", "RecordFlag", "CompressFlag"}), "250,1,250,1,0");
    EXPECT_EQ(file->childText("MD5"), md5Of(data, work_ / "expected"));
    EXPECT_EQ(entity(*file), data);
    EXPECT_EQ(status(staged), kStatusInProgress); // until the center reports

    EXPECT_EQ(report("/getfile").code("ReportStatusResponse"), "0");
    EXPECT_EQ(status(staged), kStatusDone);
    end();
    EXPECT_EQ(events_.codes, (Codes{1, 2}));
    EXPECT_EQ(events_.types, (std::vector<std::string>(2, "K001")));
    auto records = sessions("40");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0][0] + "/" + records[0][4] + "/" + records[0][5], "0/0/00");
    EXPECT_TRUE(zvFiles(scratch_.path()).empty());
    EXPECT_EQ(zvFiles(temp()), std::vector<std::string>{staged.tempFilePath});
}

TEST_F(CenterNetworkTest, FetchDescribesRecordsAndCompressionOfTheDataKind) {
    struct Case {
        std::int32_t recordLength, compress;
        std::string expected;
    };
    // Shares the protocol file name and access key; defined first.
    ASSERT_TRUE(client_->PLSetFileInfo("K002", "他", 8, "PF01", "AK0001", 7, 1, ""));
    for (const Case& c : {Case{100, 0, "100,3,0,0"}, Case{0, 0, "0,250,0,0"}, Case{100, 1, "100,3,0,1"}}) {
        defineKind(c.recordLength, c.compress);
        handler_.beginConnection();
        std::string data = sampleData(250, c.recordLength + c.compress);
        stage(data);
        authenticate("/getfile");
        Reply got = getFile();
        auto file = got.method("GetFileResponse")->child("File");
        ASSERT_TRUE(file);
        EXPECT_EQ(fields(*file, {"RecordLength", "RecordNumber", "RecordFlag", "CompressFlag"}), c.expected);
        EXPECT_EQ(entity(*file), data);
        EXPECT_EQ(file->childText("MD5"), md5Of(data, work_ / "expected")); // of the uncompressed data
        report("/getfile");
        end();
    }
    EXPECT_TRUE(zvFiles(scratch_.path()).empty());
}

TEST_F(CenterNetworkTest, DeliveryStoresTheBodyByteExact_PlainAndGzip) {
    for (bool gzip : {false, true}) {
        handler_.beginConnection();
        events_.codes.clear();
        AuthenticationRequest a = goodAuth();
        a.fileLoadNo = gzip ? "L2" : "L1";
        EXPECT_EQ(authenticate("/putfile", a).code("RequestAuthenticationResponse"), "0");
        auto entries = received();
        ASSERT_EQ(entries.size(), gzip ? 2u : 1u);
        const CenterRecord& entry = entries.back();
        EXPECT_EQ(entry.status, kStatusInProgress);
        EXPECT_EQ(entry.svDataFilename, "center.dat");
        EXPECT_EQ(fs::path(entry.tempFilePath).parent_path(), temp());
        EXPECT_EQ(events_.codes, Codes{4});

        std::string data = sampleData(70000, gzip);
        Reply put = putFile(delivery(data, gzip));
        EXPECT_EQ(put.code("PutFileResponse"), "0");
        EXPECT_EQ(put.header("Cookie"), cookie_);
        EXPECT_EQ(readFile(entry.tempFilePath), data);
        EXPECT_EQ(received().back().status, kStatusDone);
        EXPECT_EQ(report("/putfile").code("ReportStatusResponse"), "0");
        end();
        EXPECT_EQ(events_.codes, (Codes{4, 5}));
        EXPECT_EQ(received().back().status, kStatusDone);
    }
    EXPECT_TRUE(zvFiles(scratch_.path()).empty());
    EXPECT_EQ(zvFiles(temp()).size(), 2u); // the two delivered files only
}

TEST_F(CenterNetworkTest, DeliveryWithAWrongDigestIsDiscarded) {
    for (bool upperCase : {false, true}) {
        handler_.beginConnection();
        authenticate("/putfile");
        std::string path = received().at(0).tempFilePath;
        FileElement f = delivery(sampleData(5000), true);
        f.md5 = upperCase ? toUpperAscii(f.md5) : getFileMD5(work_ / "raw.gz"); // not of the uncompressed data
        EXPECT_EQ(putFile(f).code("PutFileResponse"), "51");
        EXPECT_TRUE(received().empty());
        EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(events_.codes, (Codes{4, 6, 4, 6}));
    EXPECT_TRUE(zvFiles(scratch_.path()).empty());
    EXPECT_TRUE(zvFiles(temp()).empty());
}

// With its File values after the data the body waits in a scratch file and
// is expanded from there: by the same bound as when they come ahead of it.
TEST_F(CenterNetworkTest, ADeliveryIsNeverExpandedPastItsLength_ValuesAheadOrAfter) {
    const std::string data = sampleData(70000, true);
    for (bool after : {false, true}) {
        for (std::size_t length : {data.size(), data.size() - 1}) {
            SCOPED_TRACE(std::to_string(after) + "/" + std::to_string(length));
            handler_.beginConnection();
            AuthenticationRequest a = goodAuth();
            a.fileLoadNo = "L" + std::to_string(after) + std::to_string(length);
            authenticate("/putfile", a);
            std::string path = received().back().tempFilePath;
            FileElement f = delivery(data, true);
            f.length = std::to_string(length);
            std::string body = message([&](XmlWriter& w) { writePutFile(w, "0", header(), f); });
            if (after) { // the Entity first in File
                std::size_t begin = body.find("<Entity>"), end = body.find("</Entity>") + 9;
                body.insert(body.find("<File>") + 6, body.substr(begin, end - begin));
                body.erase(begin + (end - begin), end - begin);
            }
            bool whole = length == data.size();
            EXPECT_EQ(post("/putfile", body).code("PutFileResponse"), whole ? "0" : "51");
            EXPECT_EQ(fs::exists(path) ? readFile(path) == data : false, whole);
            EXPECT_TRUE(zvFiles(scratch_.path()).empty());
        }
    }
}

TEST_F(CenterNetworkTest, AuthenticationChecksComeInOrder) {
    CenterRecord staged = stage("x");
    AuthenticationRequest a = goodAuth();
    a.protocolFileName = "PF99";
    a.accessKey = "AK9999";
    a.serviceNo = "8";
    a.password = "PW";
    a.header.terminalId = "1";
    a.header.targetTerminalId = "2";
    auto answer = [&] {
        handler_.beginConnection();
        Reply r = authenticate("/getfile", a);
        EXPECT_NE(r.header("Set-Cookie"), "<none>");
        return r.code("RequestAuthenticationResponse");
    };
    EXPECT_EQ(answer(), "30");
    a.protocolFileName = "PF01";
    EXPECT_EQ(answer(), "31");
    a.accessKey = "AK0001";
    EXPECT_EQ(answer(), "11");
    a.serviceNo = "7";
    EXPECT_EQ(answer(), "15");
    a.password = "pw";
    EXPECT_EQ(answer(), "13");
    a.header.terminalId = "9001";
    Reply r = authenticate("/getfile", a);
    EXPECT_EQ(r.code("RequestAuthenticationResponse"), "12");
    EXPECT_EQ(r.method("RequestAuthenticationResponse")->child("Header")->childText("TargetTerminalID"), "2");
    a.header.targetTerminalId = "1001";
    EXPECT_EQ(answer(), "0");
    EXPECT_EQ(events_.codes, (Codes{1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1}));
    EXPECT_EQ(status(staged), kStatusInProgress);

    handler_.beginConnection();
    EXPECT_EQ(authenticate("/other").code("RequestAuthenticationResponse"), "10");
    EXPECT_EQ(status(staged), kStatusWaiting);
}

TEST_F(CenterNetworkTest, ATargetNamingBothKindsIsADelivery) {
    CenterRecord staged = stage("x");
    EXPECT_EQ(authenticate("/getfile/putfile").code("RequestAuthenticationResponse"), "0");
    EXPECT_EQ(events_.codes, Codes{4}); // the later match: no fetch is announced
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(status(staged), kStatusWaiting);
    EXPECT_EQ(putFile(delivery("both")).code("PutFileResponse"), "0");
    EXPECT_EQ(report("/getfile/putfile").code("ReportStatusResponse"), "0");
    end();
    EXPECT_EQ(events_.codes, (Codes{4, 5}));
    EXPECT_EQ(readFile(received().at(0).tempFilePath), "both");
    EXPECT_EQ(sessions("30").size(), 1u);
}

TEST_F(CenterNetworkTest, NothingToFetchIsRefusedWith32_ExpiredEntriesIncluded) {
    CenterRecord old = stage("old", 1);
    fs::last_write_time(old.tempFilePath, fs::file_time_type::clock::now() - std::chrono::hours(72));
    EXPECT_EQ(authenticate("/getfile").code("RequestAuthenticationResponse"), "32");
    end();
    EXPECT_EQ(events_.codes, (Codes{1, 2})); // nothing to send is no failure by default
    EXPECT_EQ(sessions("40").size(), 1u);
    EXPECT_EQ(status(old), kStatusWaiting);
}

TEST_F(CenterNetworkTest, WithoutAnApplicationEveryRequestGets35) {
    CenterRecord staged = stage("x");
    subscribers_ = 0;
    EXPECT_EQ(getFile().code("RequestAuthenticationResponse"), "35");
    subscribers_ = 1;
    authenticate("/getfile");
    subscribers_ = 0;
    EXPECT_EQ(getFile().code("RequestAuthenticationResponse"), "35");
    EXPECT_EQ(status(staged), kStatusWaiting);
    EXPECT_EQ(events_.codes, (Codes{1, 3}));
}

TEST_F(CenterNetworkTest, DoubleDeliveryIs33UnlessResent) {
    CenterRecord earlier = record(temp() / "@zvOLD.tmp", kDirectionRecv, kStatusDone);
    earlier.fileLoadNo = "L1";
    earlier.fileRecordKey = "K1";
    writeCenterRecord(earlier);
    Reply r = authenticate("/putfile");
    EXPECT_EQ(r.code("RequestAuthenticationResponse"), "33");
    EXPECT_EQ(r.header("Set-Cookie"), "<none>");
    EXPECT_EQ(events_.codes, (Codes{4, 6}));
    AuthenticationRequest resend = goodAuth();
    resend.resendFlag = "1";
    EXPECT_EQ(authenticate("/putfile", resend).code("RequestAuthenticationResponse"), "0");
    EXPECT_EQ(received().size(), 2u);
}

TEST_F(CenterNetworkTest, RequestsOutsideTheirConversationAreRefusedWith10) {
    CenterRecord staged = stage("x");
    cookie_ = "ZORVANTIKE="; // fresh connection: no session value given out yet
    EXPECT_EQ(putFile(delivery("abc")).code("PutFileResponse"), "10");
    EXPECT_EQ(getFile().code("GetFileResponse"), "99"); // a cookie of no session here: the cookie check's code
    EXPECT_EQ(report("/getfile").code("ReportStatusResponse"), "10");
    EXPECT_TRUE(events_.codes.empty());

    authenticate("/getfile");
    EXPECT_EQ(putFile(delivery("abc")).code("PutFileResponse"), "10");
    EXPECT_EQ(status(staged), kStatusWaiting);
    EXPECT_EQ(readFile(staged.tempFilePath), "x");
    authenticate("/getfile");
    EXPECT_EQ(report("/getfile").code("ReportStatusResponse"), "10");
    EXPECT_EQ(status(staged), kStatusWaiting);
    authenticate("/putfile");
    EXPECT_EQ(getFile().code("GetFileResponse"), "10");
    EXPECT_TRUE(received().empty());
    EXPECT_EQ(status(staged), kStatusWaiting);
    EXPECT_EQ(events_.codes, (Codes{1, 3, 1, 3, 4, 6}));
    EXPECT_TRUE(zvFiles(scratch_.path()).empty());
}

TEST_F(CenterNetworkTest, AStaleCookieOnANewConnectionIs99ForGetFile) {
    CenterRecord staged = stage("x");
    authenticate("/getfile");
    std::string earlier = cookie_;
    handler_.beginConnection();
    EXPECT_EQ(getFile().code("GetFileResponse"), "99"); // the cookie of the closed connection
    cookie_ = "ZORVANTIKE=1999/01/01 00:00.00";
    EXPECT_EQ(getFile().code("GetFileResponse"), "99");
    cookie_ = "ZORVANTIKE";
    EXPECT_EQ(getFile().code("GetFileResponse"), "10"); // no "=": no value to compare
    EXPECT_EQ(status(staged), kStatusWaiting);
    EXPECT_EQ(events_.codes, (Codes{1, 3}));
    EXPECT_FALSE(earlier.empty());
}

// Centers answer a refused file message with a ReportStatus carrying its
// code: it is echoed, and it leaves one warning record.
TEST_F(CenterNetworkTest, TheReportOfARefusedFileMessageIsEchoedWithOneWarning) {
    authenticate("/putfile");
    std::string path = received().at(0).tempFilePath;
    FileElement bad = delivery("payload");
    bad.md5 = std::string(32, '0');
    EXPECT_EQ(putFile(bad).code("PutFileResponse"), "51");
    Reply echoed = report("/putfile", "51");
    EXPECT_EQ(echoed.code("ReportStatusResponse"), "51");
    EXPECT_EQ(echoed.header("Cookie"), cookie_);
    EXPECT_EQ(report("/putfile", "51").code("ReportStatusResponse"), "10"); // only one report per conversation
    end();
    EXPECT_TRUE(received().empty());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(events_.codes, (Codes{4, 6}));

    CenterRecord staged = stage("x");
    handler_.beginConnection();
    authenticate("/getfile");
    Reply refused = post("/getfile", message([&](XmlWriter& w) { writeGetFile(w, "43", header()); }));
    EXPECT_EQ(refused.code("GetFileResponse"), "43");
    EXPECT_EQ(report("/getfile", "43").code("ReportStatusResponse"), "43");
    end();
    EXPECT_EQ(status(staged), kStatusWaiting);
    EXPECT_EQ(events_.codes, (Codes{4, 6, 1, 3}));

    // Each conversation: its refusal (abnormal, at the file message), then
    // the report's warning; the per-request reset has cleared the kind.
    auto refusals = sessions("30");
    auto fetchRefusals = sessions("40");
    auto afterReset = sessions("0");
    ASSERT_EQ(refusals.size(), 1u);
    ASSERT_EQ(fetchRefusals.size(), 1u);
    ASSERT_EQ(afterReset.size(), 3u); // warning, the refused second report, warning
    EXPECT_EQ(refusals[0][0] + "/" + refusals[0][4] + "/" + refusals[0][5], "2/20/51");
    EXPECT_EQ(fetchRefusals[0][0] + "/" + fetchRefusals[0][4] + "/" + fetchRefusals[0][5], "2/20/43");
    EXPECT_EQ(afterReset[0][0] + "/" + afterReset[0][4] + "/" + afterReset[0][5], "1/30/51");
    EXPECT_EQ(afterReset[1][0] + "/" + afterReset[1][4] + "/" + afterReset[1][5], "2/30/10");
    EXPECT_EQ(afterReset[2][0] + "/" + afterReset[2][4] + "/" + afterReset[2][5], "1/30/43");
}

// One unit, characters, from the check to the name the application's file gets.
TEST_F(CenterNetworkTest, CenterFileNamesAreKeptToSixtyFourCharacters) {
    auto deliver = [&](const std::string& name, const std::string& loadNo, const std::string& data) {
        handler_.beginConnection();
        AuthenticationRequest a = goodAuth();
        a.dataFileName = name;
        a.fileLoadNo = loadNo;
        EXPECT_EQ(authenticate("/putfile", a).code("RequestAuthenticationResponse"), "0") << name;
        EXPECT_EQ(putFile(delivery(data)).code("PutFileResponse"), "0");
        report("/putfile");
        end();
    };
    std::string kanji;
    for (int i = 0; i < 30; ++i) kanji += "受";
    kanji += ".dat"; // 34 characters, 94 bytes
    std::string longName;
    for (int i = 0; i < 66; ++i) longName += "長";
    longName += ".dat"; // 70 characters
    std::string cut;
    for (int i = 0; i < 64; ++i) cut += "長";
    deliver(kanji, "L1", "kanji");
    deliver(longName, "L2", "long");
    auto entries = received();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].svDataFilename, kanji);
    EXPECT_EQ(entries[1].svDataFilename, cut);
    EXPECT_EQ(getProfileString(centerIniPath(), entries[1].sectionName, "svdatafilename"), cut);
    EXPECT_EQ(events_.codes, (Codes{4, 5, 4, 5}));

    Retrieve retrieve(client_);
    std::int32_t count = 0;
    ASSERT_TRUE(retrieve.PLSearchReceived("K001", kanji, "", "", 0, 0, 3, count));
    ASSERT_EQ(count, 1);
    FileRec found;
    ASSERT_TRUE(retrieve.PLSearchReceivedAt(0, found));
    EXPECT_EQ(found.SvDataFilename, kanji);
    ASSERT_TRUE(retrieve.PLSearchReceived("K001", cut, "", "", 0, 0, 3, count));
    EXPECT_EQ(count, 1);

    fs::create_directory(home_ / "inbox");
    Transport transport(client_);
    ASSERT_TRUE(transport.PLGetData("K001", "", "", "", 0, 0, 3, (home_ / "inbox").string(), "", count));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(readFile(home_ / "inbox" / kanji), "kanji");
    EXPECT_EQ(readFile(home_ / "inbox" / cut), "long");
}

TEST_F(CenterNetworkTest, FetchRefusalsPutTheEntryBack) {
    CenterRecord staged = stage("x");
    authenticate("/getfile");
    cookie_ = "ZORVANTIKE=1999/01/01 00:00.00";
    EXPECT_EQ(getFile().code("GetFileResponse"), "99");
    EXPECT_EQ(status(staged), kStatusWaiting);
    authenticate("/getfile");
    ASSERT_TRUE(client_->PLDeleteFileInfo("K001"));
    EXPECT_EQ(getFile().code("GetFileResponse"), "30");
    EXPECT_EQ(status(staged), kStatusWaiting);
    defineKind(-1, 0);
    authenticate("/getfile");
    getFile();
    EXPECT_EQ(report("/getfile", "51").code("ReportStatusResponse"), "51");
    EXPECT_EQ(status(staged), kStatusWaiting);
    EXPECT_EQ(events_.codes, (Codes{1, 3, 1, 3, 1, 3}));
    auto records = sessions("40");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2][0] + "/" + records[2][4] + "/" + records[2][5], "1/30/51"); // a warning
}

TEST_F(CenterNetworkTest, ADroppedConversationIsClosedOut) {
    CenterRecord staged = stage("x");
    authenticate("/getfile");
    end();
    EXPECT_EQ(status(staged), kStatusWaiting);
    authenticate("/putfile");
    std::string path = received().at(0).tempFilePath;
    end();
    EXPECT_TRUE(received().empty());
    EXPECT_FALSE(fs::exists(path));
    authenticate("/getfile");
    // A second authentication ends the first, whose entry is then free again.
    EXPECT_EQ(authenticate("/getfile").code("RequestAuthenticationResponse"), "0");
    handler_.beginConnection(); // a new connection closes the old one out
    EXPECT_EQ(status(staged), kStatusWaiting);
    EXPECT_EQ(events_.codes, (Codes{1, 3, 4, 6, 1, 3, 1, 3}));
    auto records = sessions("40");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0][0] + "/" + records[0][4] + "/" + records[0][5], "2/20/01");
}

TEST_F(CenterNetworkTest, StatusWritesLeaveTheRestOfTheRegisterAlone) {
    CenterRecord staged = stage("x");
    authenticate("/getfile");
    writeProfileString(centerIniPath(), staged.sectionName, "cldatafilename", "renamed.txt"); // by an application
    getFile();
    report("/getfile");
    EXPECT_EQ(getProfileString(centerIniPath(), staged.sectionName, "cldatafilename"), "renamed.txt");
    EXPECT_EQ(status(staged), kStatusDone);

    CenterRecord other = stage("y");
    handler_.beginConnection();
    authenticate("/getfile");
    deleteCenterRecord(other.sectionName); // withdrawn during the fetch
    end();
    EXPECT_EQ(status(other), -1);
}

TEST_F(CenterNetworkTest, HostileMessagesAreRefused) {
    writeFile(work_ / "secret.txt", "TOPSECRET");
    Reply xxe = post("/getfile", "<!DOCTYPE r [<!ENTITY e SYSTEM \"file://" + (work_ / "secret.txt").string() +
                                     "\">]><SOAP-ENV:Envelope><SOAP-ENV:Body><RequestAuthentication><Header>"
                                     "<SessionID>&e;</SessionID></Header></RequestAuthentication></SOAP-ENV:Body>"
                                     "</SOAP-ENV:Envelope>");
    EXPECT_EQ(xxe.code("RequestAuthenticationResponse"), "10");
    EXPECT_EQ(xxe.body.find("TOPSECRET"), std::string::npos);

    authenticate("/putfile");
    // A local path instead of Base64 text.
    std::string body = "<SOAP-ENV:Envelope><SOAP-ENV:Body><PutFile><ResultCode>0</ResultCode><File><Length>9</Length>"
                       "<MD5>" +
                       getFileMD5(work_ / "secret.txt") + "</MD5><Entity>" + (work_ / "secret.txt").string() +
                       "</Entity></File></PutFile></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    EXPECT_EQ(post("/putfile", body).code("PutFileResponse"), "41");
    EXPECT_EQ(readFile(work_ / "secret.txt"), "TOPSECRET");
    EXPECT_TRUE(received().empty());

    AuthenticationRequest a = goodAuth();
    a.dataFileName = "../x";
    EXPECT_EQ(authenticate("/putfile", a).code("RequestAuthenticationResponse"), "10");
    EXPECT_TRUE(received().empty());
    EXPECT_TRUE(zvFiles(scratch_.path()).empty());
    EXPECT_TRUE(zvFiles(temp()).empty());
}
