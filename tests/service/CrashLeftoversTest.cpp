// The real service killed in the middle of its work, and started again:
// what it leaves in the callers' folders, in its own folders, and what the
// center gets afterwards.
#include <algorithm>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/CenterRegister.h"
#include "common/FileControl.h"
#include "platform/FdIo.h"
#include "platform/LinkJournal.h"
#include "platform/PendingFile.h"
#include "platform/UniqueFd.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using namespace plx::test;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBigFile = 256u << 20;

// A terminal whose service can be killed and started again on the same
// folders and bus.
class Terminal {
public:
    Terminal() {
        writeServiceConfig(home_.path());
        fs::create_directory(home_ / "tmp");
        fs::create_directory(user());
    }
    void start() {
        service_ = std::make_unique<PeerProcess>(std::vector<std::string>{PLX_SERVICE_PROGRAM});
        if (!waitForService(15)) throw std::runtime_error("the service did not come up");
        connection_ = openClientBus();
        connection_->enterEventLoopAsync();
    }
    void kill() {
        ::kill(service_->pid(), SIGKILL);
        service_->waitExit(10);
        service_.reset();
    }
    int pid() const { return service_->pid(); }
    sdbus::IConnection& connection() { return *connection_; }
    fs::path temp() const { return home_ / "temp"; }
    fs::path user() const { return home_ / "user"; }
    const fs::path& home() const { return home_.path(); }

    // Waits until the service has a file of folder open.
    bool holdsFileIn(const fs::path& folder) const {
        return waitFor([&] {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid()) + "/fd", ec)) {
                fs::path target = fs::read_symlink(e.path(), ec);
                if (!ec && target.string().rfind(folder.string() + "/", 0) == 0) return true;
            }
            return false;
        });
    }

    ~Terminal() {
        connection_.reset();
        service_.reset();
    }

private:
    ScopedHome home_;
    PrivateBus bus_;
    ScopedEnv busEnv_{"PLX_BUS", bus_.address()};
    ScopedEnv tmpEnv_{"TMPDIR", (home_ / "tmp").string()};
    std::unique_ptr<PeerProcess> service_;
    std::unique_ptr<sdbus::IConnection> connection_;
};

void bigFile(const fs::path& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    ASSERT_TRUE(fd);
    ASSERT_EQ(::ftruncate(fd.get(), static_cast<off_t>(kBigFile)), 0);
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// A call made on a thread of its own; it ends with the service.
class Call {
public:
    explicit Call(std::function<void()> call)
        : thread_([call = std::move(call)] {
              try {
                  call();
              } catch (const sdbus::Error&) {
              }
          }) {}
    ~Call() { thread_.join(); }

private:
    std::thread thread_;
};

// From now on this process is killed at its first rename.
bool killedAtRename() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
    };
    sock_fprog program{sizeof filter / sizeof filter[0], filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

} // namespace

// Partial copies stayed in the callers' folders for ever (".plx...tmp").
TEST(KilledService, LeavesNothingInTheCallersFolder) {
    Terminal t;
    t.start();
    fs::path data = test::makeTempFile(t.temp());
    bigFile(data);
    CenterRecord r;
    r.sectionName = makeSectionName("K001", data.string());
    r.svDataFilename = "big.dat";
    r.status = kStatusDone;
    r.sendRecvFlag = kDirectionRecv;
    writeCenterRecord(r);

    TransportProxy transport(t.connection(), FactoryProxy(t.connection()).CreateTransport());
    {
        Call pickUp([&] { transport.PLGetDataA("K001", data.filename().string(), t.user().string(), "", 0); });
        ASSERT_TRUE(t.holdsFileIn(t.user())) << "the copy was never seen under way";
        t.kill();
    }
    EXPECT_EQ(namesIn(t.user()), std::vector<std::string>{});
}

// An append cut off by a crash left a torn staged file that the repair
// offered to the center as waiting.
TEST(KilledService, AnAppendCutOffIsCutBackAtTheNextStart) {
    Terminal t;
    t.start();
    ClientProxy(t.connection()).PLSetFileInfo("K001", "kind", 7, "PF01", "AK0001", -1, 0, "");
    writeFile(t.user() / "first.dat", "first part");
    bigFile(t.user() / "big.dat");
    std::string staged;
    {
        TransportProxy transport(t.connection(), FactoryProxy(t.connection()).CreateTransport());
        staged = transport.PLSetData("K001", t.user().string(), "first.dat", 0, 3);
        Call append([&] { transport.PLSetData("K001", t.user().string(), "big.dat", 0, 2); });
        // Killed once the staged file has grown: the append is half done.
        bool appending = waitFor([&] {
            std::error_code ec;
            return readFile(centerIniPath()).find("status=3") != std::string::npos &&
                   fs::file_size(staged, ec) > std::string("first part").size();
        });
        ASSERT_TRUE(appending) << "the append was never seen under way";
        t.kill();
    }
    t.start();
    ASSERT_EQ(fs::file_size(staged), std::string("first part").size()) << "the append was not cut back";
    EXPECT_EQ(readFile(staged), "first part");
    auto records = loadCenterRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].tempFilePath, staged);
    EXPECT_EQ(records[0].status, kStatusWaiting);
    EXPECT_EQ(namesIn(t.temp()), std::vector<std::string>{fs::path(staged).filename().string()});
}

// Partial "@zv" copies in the temporary folder and ini temporaries stayed
// for ever: the next start removes what is the service's own and no longer
// in use, and nothing else.
TEST(ServiceStart, RemovesTheLeftoversOfACutOffRun) {
    Terminal t;
    writeFile(t.temp() / "@zv0000A1.tmp", "half a staged copy");
    writeFile(t.temp() / "@zv0000A2.tmp.dat", "a decoded body");
    writeFile(t.temp() / "keep.txt", "not ours");
    fs::path staged = test::makeTempFile(t.temp());
    writeFile(staged, "staged");
    CenterRecord r;
    r.sectionName = makeSectionName("K001", staged.string());
    r.status = kStatusWaiting;
    r.sendRecvFlag = kDirectionSend;
    writeCenterRecord(r);

    t.start();
    EXPECT_EQ(namesIn(t.temp()), (std::vector<std::string>{staged.filename().string(), "keep.txt"}));
    EXPECT_EQ(readFile(staged), "staged");
}

// A replace killed between linking the new file under its second name and
// renaming it left ".plx<HEX>.tmp" in the caller's folder for ever.
TEST(ServiceStart, RemovesTheSecondNameOfAReplaceCutOff) {
    Terminal t;
    writeFile(t.user() / "target.dat", "old");
    pid_t child = ::fork();
    if (child == 0) {
        LinkRecord::useFolder(t.home() / ".plxlinks"); // as the service does
        UniqueFd folder(::open(t.user().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        PendingFile file(folder.get(), 0644);
        (void)writeAll(file.fd(), "new", 3);
        if (killedAtRename()) file.replace("target.dat");
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    ASSERT_EQ(namesIn(t.user()).size(), 2u); // the second name is there

    t.start();
    EXPECT_EQ(namesIn(t.user()), std::vector<std::string>{"target.dat"});
    EXPECT_EQ(readFile(t.user() / "target.dat"), "old");
    EXPECT_FALSE(fs::exists(t.home() / ".plxlinks")); // nothing of it stays
}

// A link in place of the record folder made every start delete each plain
// file of the folder it leads to.
TEST(ServiceStart, LeavesTheFolderBehindALinkedRecordFolderAlone) {
    Terminal t;
    const std::string second = (t.user() / ".plx0000B1.tmp").string();
    writeFile(t.user() / "target.dat", "theirs");
    writeFile(t.user() / "link0000B2.tmp", second); // named and written as a record
    writeFile(second, "named as a second name");
    fs::create_directory_symlink(t.user(), t.home() / ".plxlinks");

    t.start();
    EXPECT_EQ(namesIn(t.user()), (std::vector<std::string>{".plx0000B1.tmp", "link0000B2.tmp", "target.dat"}));
    EXPECT_TRUE(fs::is_symlink(t.home() / ".plxlinks"));
}
