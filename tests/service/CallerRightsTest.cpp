// The real service running as an account of its own, and callers of other
// uids: a caller sends, stages, receives and picks up only what it could
// read and write itself, and never through the service's own rights. Needs
// root (to take other uids).
#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/CenterRegister.h"
#include "common/FileControl.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using namespace plx::test;
namespace fs = std::filesystem;

namespace {

// The service's account and its operators' group, two operators, and the
// groups of their own (the service is in Alice's).
const Identity kService{60501, 60520, {60520, 60512}};
const Identity kAlice{60502, 60512, {60520}};
const Identity kBob{60503, 60513, {60520}};
constexpr unsigned kOperators = 60520;
constexpr const char* kUnshare = "/usr/bin/unshare";

// A bus every uid may use (the policy is another test's matter), whose
// daemon knows the test's users.
class OpenBus {
public:
    OpenBus() {
        ::chmod(dir_.path().c_str(), 0755);
        fs::path etc = dir_ / "etc";
        fs::create_directory(etc);
        writeFile(etc / "passwd", readFile("/etc/passwd") + "plxsvc:x:60501:60520::/:/usr/sbin/nologin\n"
                                                            "plxalice:x:60502:60512::/:/usr/sbin/nologin\n"
                                                            "plxbob:x:60503:60513::/:/usr/sbin/nologin\n");
        writeFile(etc / "group",
                  readFile("/etc/group") + "plxops:x:60520:plxalice,plxbob\nplxalice:x:60512:\nplxbob:x:60513:\n");
        writeFile(dir_ / "bus.conf",
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
                  "  <type>session</type>\n  <listen>unix:path=" +
                      (dir_ / "bus").string() +
                      "</listen>\n  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n"
                      "    <allow user=\"*\"/>\n    <allow own=\"*\"/>\n"
                      "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n    <allow eavesdrop=\"true\"/>\n"
                      "  </policy>\n</busconfig>\n");
        daemon_ = startDaemonSeeing(dir_ / "bus.conf", etc);
        address_ = daemon_->readLine(10);
        if (address_.empty()) throw std::runtime_error("dbus-daemon did not start");
    }
    const std::string& address() const { return address_; }

private:
    TempDir dir_;
    std::unique_ptr<PeerProcess> daemon_;
    std::string address_;
};

// The test process with the effective ids of who, for the life of this.
class ActingAs {
public:
    explicit ActingAs(const Identity& who) {
        if (::setegid(who.gid) != 0 || ::seteuid(who.uid) != 0) throw std::runtime_error("cannot act as another user");
    }
    ~ActingAs() {
        if (::seteuid(0) != 0 || ::setegid(0) != 0) std::abort();
    }
    ActingAs(const ActingAs&) = delete;
    ActingAs& operator=(const ActingAs&) = delete;
};

struct Answer {
    int code = -1;
    int detail = -1;
    std::string text; // the result, or LastErrorMsg
};

class CallerRights : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "other uids need root";
        ::chmod(base_.path().c_str(), 0755);
        writeServiceConfig(home_.path());
        for (const char* f : {"tmp", ".run"}) fs::create_directory(home_ / f);
        own(home_.path(), kService, 0755);
        for (const auto& e : fs::recursive_directory_iterator(home_.path())) own(e.path(), kService, 0700);
        own(home_.path(), kService, 0755);

        shared_ = folder("shared", kAlice.uid, kOperators, 02770);
        aliceHome_ = folder("alice", kAlice.uid, kAlice.gid, 0700);
        serviceOut_ = folder("svc-out", kService.uid, kService.gid, 0755);
        file(shared_ / "private.dat", "alice's own", kAlice.uid, kAlice.gid, 0640);
        file(shared_ / "team.dat", "for the team", kAlice.uid, kOperators, 0640);
        file(aliceHome_ / "own.dat", "beyond the service", kAlice.uid, kAlice.gid, 0600);

        center_ = std::make_unique<CenterSimulator>(std::vector<std::string>{
            "--terminal-id", "1001", "--center-id", "9001", "--password", "pw", "--kind", "PF01,AK0001,7"});
        service_ = std::make_unique<PeerProcess>(as(kService, {PLX_SERVICE_PROGRAM}), true, true);
        ASSERT_TRUE(waitForService(15)) << "the service did not come up as its account: " << service_->readAll(1);
        auto connection = openClientBus();
        ClientProxy client(*connection);
        client.PLSetTermInfo("1001", "9001", "center", "http://127.0.0.1:" + std::to_string(center_->port()) + "/",
                             "pw", "1.0", "", "", "");
        client.PLSetFileInfo("K001", "kind", 7, "PF01", "AK0001", -1, 0, "");
    }

    static void own(const fs::path& p, const Identity& who, mode_t mode) {
        ASSERT_EQ(::chown(p.c_str(), who.uid, who.gid), 0) << p;
        ASSERT_EQ(::chmod(p.c_str(), mode), 0) << p;
    }
    fs::path folder(const std::string& name, unsigned uid, unsigned gid, mode_t mode) {
        fs::path p = base_ / name;
        fs::create_directory(p);
        EXPECT_EQ(::chown(p.c_str(), uid, gid), 0);
        EXPECT_EQ(::chmod(p.c_str(), mode), 0);
        return p;
    }
    static void file(const fs::path& p, const std::string& content, unsigned uid, unsigned gid, mode_t mode) {
        writeFile(p, content);
        EXPECT_EQ(::chown(p.c_str(), uid, gid), 0);
        EXPECT_EQ(::chmod(p.c_str(), mode), 0);
    }

    Answer call(const Identity& who, std::vector<std::string> args) { return calls(as(who, args)).front(); }
    // Every answer of one caller run (argv through as()), a line each.
    std::vector<Answer> calls(std::vector<std::string> argv) {
        auto program = std::find(argv.begin(), argv.end(), "/usr/bin/setpriv") + 1;
        while (program != argv.end() && (program->rfind("-", 0) == 0 || *program == kUnshare)) ++program;
        argv.insert(program, PLX_TEST_CALLER);
        ProgramRun run = runCaptured(argv);
        std::vector<Answer> answers;
        for (std::size_t start = 0; start < run.out.size();) {
            std::size_t end = run.out.find('\n', start);
            if (end == std::string::npos) end = run.out.size();
            std::string line = run.out.substr(start, end - start);
            start = end + 1;
            std::size_t first = line.find(' '), second = line.find(' ', first + 1);
            if (second == std::string::npos) break;
            Answer a;
            a.code = std::stoi(line.substr(0, first));
            a.detail = std::stoi(line.substr(first + 1, second - first - 1));
            a.text = line.substr(second + 1);
            answers.push_back(a);
        }
        if (run.exitCode != 0 || answers.empty()) {
            ADD_FAILURE() << "the caller failed: " << run.out << run.err;
            answers.assign(1, Answer{});
        }
        return answers;
    }
    std::vector<std::string> receivedByCenter() const {
        std::vector<std::string> out;
        fs::path received = center_->store() / "received";
        if (fs::exists(received))
            for (const auto& e : fs::directory_iterator(received)) out.push_back(readFile(e.path()));
        return out;
    }
    void offer(const std::string& name, const std::string& data) {
        fs::create_directories(center_->store() / "outbox");
        writeFile(center_->store() / "outbox" / name, data);
    }

    TempDir base_;
    ScopedHome home_;
    OpenBus bus_;
    ScopedEnv busEnv_{"PLX_BUS", bus_.address()};
    ScopedEnv tmpEnv_{"TMPDIR", (home_ / "tmp").string()};
    std::unique_ptr<CenterSimulator> center_;
    std::unique_ptr<PeerProcess> service_;
    fs::path shared_, aliceHome_, serviceOut_;
};

void expectAnswer(const Answer& a, int code, int detail, const std::string& text) {
    EXPECT_EQ(a.code, code);
    EXPECT_EQ(a.detail, detail);
    EXPECT_EQ(a.text, text);
}

constexpr const char* kNotYours = "ファイル名の指定が不正です";
constexpr const char* kNoFolder = "受信データ保存ディレクトリが存在しないか、読み取り専用属性です";

} // namespace

// A caller that could not read plterm.ini had the service send it to the
// center of the caller's choice.
TEST_F(CallerRights, ACallerSendsOnlyWhatItCouldReadItself) {
    expectAnswer(call(kAlice, {"send", "K001", home_.path().string(), "plterm.ini"}), 3, 2, kNotYours);
    expectAnswer(call(kBob, {"send", "K001", shared_.string(), "private.dat"}), 3, 2, kNotYours);
    EXPECT_TRUE(receivedByCenter().empty());
    // What the caller may read but the service may not is the service's failure, not a wider right.
    expectAnswer(call(kAlice, {"send", "K001", aliceHome_.string(), "own.dat"}), 2, EACCES,
                 "ファイルから送信データを取得できません(指定ファイルを確認してください)");
    expectAnswer(call(kAlice, {"send", "K001", shared_.string(), "private.dat"}), 0, 0, "");
    expectAnswer(call(kBob, {"send", "K001", shared_.string(), "team.dat"}), 0, 0, "");
    std::vector<std::string> sent = receivedByCenter();
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, (std::vector<std::string>{"alice's own", "for the team"}));
}

// Rights a caller gave up after its first call are not lent back to it.
TEST_F(CallerRights, GroupsACallerDroppedCountNoLonger) {
    std::vector<std::string> argv = as(kBob, {"send-dropping-groups", "K001", shared_.string(), "team.dat"});
    // Keeps the right to drop its groups, and only that.
    argv.insert(argv.begin() + 1, {"--inh-caps=+setgid", "--ambient-caps=+setgid"});
    std::vector<Answer> answers = calls(argv);
    ASSERT_EQ(answers.size(), 2u);
    expectAnswer(answers[0], 0, 0, "");
    expectAnswer(answers[1], 3, 2, kNotYours);
    EXPECT_EQ(receivedByCenter(), std::vector<std::string>{"for the team"});
}

// A connection opened by root kept root's overrides once its process had
// become an ordinary user.
TEST_F(CallerRights, RootsRightsGoWithTheUserItBecame) {
    const Identity root{0, 0, {}};
    expectAnswer(call(root, {"send-as", std::to_string(kBob.uid), std::to_string(kBob.gid), "K001",
                             home_.path().string(), "plterm.ini"}),
                 3, 2, kNotYours);
    EXPECT_TRUE(receivedByCenter().empty());
}

// A caller replaced plconfig.ini through a receive into the service's folder.
TEST_F(CallerRights, ACallerReceivesOnlyWhereItCouldWriteItself) {
    offer("1.dat", "first delivery");
    offer("2.dat", "second delivery");
    const std::string config = readFile(home_ / "plconfig.ini");
    expectAnswer(call(kAlice, {"recv", "K001", home_.path().string(), "plconfig.ini", "0"}), 4, 2, kNoFolder);
    expectAnswer(call(kAlice, {"recv", "K001", serviceOut_.string(), "x.dat", "0"}), 4, 2, kNoFolder);
    EXPECT_EQ(readFile(home_ / "plconfig.ini"), config);
    EXPECT_TRUE(fs::is_empty(serviceOut_));

    // Into a folder of hers, over a private file of hers: it stays hers to read, and nobody else's.
    expectAnswer(call(kAlice, {"recv", "K001", shared_.string(), "private.dat", "0"}), 0, 0, "private.dat");
    struct stat st {};
    ASSERT_EQ(::stat((shared_ / "private.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0707, 0600u); // the group bits show the mask of the ACL that keeps her rights
    ProgramRun byAlice = runCaptured(as(kAlice, {"/bin/cat", (shared_ / "private.dat").string()}));
    EXPECT_EQ(byAlice.out, "first delivery");
    EXPECT_NE(runCaptured(as(kBob, {"/bin/cat", (shared_ / "private.dat").string()})).exitCode, 0);
    // Bob may write the shared folder, which has no sticky bit: he could replace her file himself.
    expectAnswer(call(kBob, {"recv", "K001", shared_.string(), "team.dat", "0"}), 0, 0, "team.dat");
    EXPECT_EQ(readFile(shared_ / "team.dat"), "second delivery");
}

// A caller that took a user namespace of its own holds every capability
// there, and none over the service's files.
TEST_F(CallerRights, CapabilitiesOfACallersOwnUserNamespaceAreNoRights) {
    offer("1.dat", "delivery");
    auto inOwnNamespace = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {kUnshare, "--user", "--map-root-user"});
        return call(kAlice, args);
    };
    expectAnswer(inOwnNamespace({"send", "K001", home_.path().string(), "plterm.ini"}), 3, 2, kNotYours);
    expectAnswer(inOwnNamespace({"recv", "K001", serviceOut_.string(), "x.dat", "0"}), 4, 2, kNoFolder);
    EXPECT_TRUE(receivedByCenter().empty());
    EXPECT_TRUE(fs::is_empty(serviceOut_));
    expectAnswer(inOwnNamespace({"send", "K001", shared_.string(), "private.dat"}), 0, 0, "");
}

// Staging and picking up follow the same rights.
TEST_F(CallerRights, ACallerStagesAndPicksUpOnlyWhatIsItsToTouch) {
    expectAnswer(call(kBob, {"set", "K001", shared_.string(), "private.dat", "0", "3"}), 4, 3, kNotYours);
    {
        ActingAs service(kService);
        EXPECT_TRUE(loadCenterRecords().empty());
    }
    Answer staged = call(kAlice, {"set", "K001", shared_.string(), "private.dat", "0", "3"});
    EXPECT_EQ(staged.code, 0);

    // A delivery as the gateway leaves one: the service's file in its temporary folder.
    fs::path data = home_ / "temp" / "@zv00DE11.tmp";
    file(data, "delivered", kService.uid, kService.gid, 0600);
    CenterRecord r;
    r.sectionName = makeSectionName("K001", data.string());
    r.svDataFilename = "center.dat";
    r.status = kStatusDone;
    r.sendRecvFlag = kDirectionRecv;
    {
        ActingAs service(kService); // the register's lock folder is the service's
        writeCenterRecord(r);
    }

    expectAnswer(call(kBob, {"geta", "K001", data.filename().string(), serviceOut_.string(), "", "0"}), 4, 3,
                 kNoFolder);
    // The service's temporary folder stands for an empty folder: it is no caller's.
    expectAnswer(call(kBob, {"get", "K001", "", "mine.dat", "0"}), 4, 8, kNoFolder);
    EXPECT_TRUE(fs::is_empty(serviceOut_));
    EXPECT_FALSE(fs::exists(home_ / "temp" / "mine.dat"));
    expectAnswer(call(kBob, {"geta", "K001", data.filename().string(), shared_.string(), "", "0"}), 0, 0, "center.dat");
    EXPECT_EQ(readFile(shared_ / "center.dat"), "delivered");
}
