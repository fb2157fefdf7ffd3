#include "uninstaller/Flow.h"

#include <QApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "platform/ChildProcess.h"
#include "platform/ProgramFolder.h"
#include "platform/TempFile.h"
#include "uninstaller/MainDialog.h"
#include "uninstaller/ScriptedPrompts.h"
#include "uninstaller/ShutdownBlock.h"
#include "uninstaller/SystemTools.h"
#include "uninstaller/Texts.h"
#include "uninstaller/TwoStage.h"
#include "uninstaller/UnInstall.h"
#include "uninstaller/UserPrompts.h"

namespace plx::uninst {

namespace fs = std::filesystem;

namespace {

// The request to end that the second stage sends the first.
constexpr int kQuitSignal = SIGTERM;

int runFirstStage(const fs::path& program, const fs::path& infoFile, UserPrompts& prompts) {
    auto fail = [&](const std::string& text) {
        prompts.inform(nullptr, text, kMessageCaption);
        return 1;
    };
    ScopedFileRemoval removeCopy;
    TCVInstData data;
    try {
        removeCopy = ScopedFileRemoval(makeStageCopy());
        data.load(infoFile);
    } catch (const InstDataError& e) {
        return fail(e.what());
    } catch (const std::exception& e) {
        return fail(formatText(kStartFailed, {e.what()}));
    }

    std::string windowTitle = data.header.title + kHiddenWindowSuffix;
    std::optional<InstanceLock> instance;
    try {
        instance = InstanceLock::take(data.header.title, windowTitle);
    } catch (const std::exception& e) {
        return fail(formatText(kStartFailed, {e.what()}));
    }
    if (!instance) {
        std::string holder = InstanceLock::holderWindowTitle(data.header.title);
        return fail(formatText(kAlreadyRunning, {holder.empty() ? windowTitle : holder}));
    }

    ShutdownBlock shutdownBlock;
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, kQuitSignal);
    UniqueFd quitFd(::signalfd(-1, &quit, SFD_CLOEXEC));
    try {
        ChildProcess stage(secondStageCommand(removeCopy.path(), infoFile, program, ::getpid()));
        removeCopy.release(); // from here the copy deletes itself
        pollfd fds[2] = {{stage.pidfd(), POLLIN, 0}, {quitFd.get(), POLLIN, 0}};
        while (::poll(fds, quitFd ? 2 : 1, -1) < 0 && errno == EINTR) {
        }
        if (fds[0].revents != 0) {
            auto status = stage.waitFor(std::chrono::milliseconds(0));
            return status ? exitCodeOf(*status) : 1;
        }
        // Asked to end: the second stage finishes by itself, and its request
        // carries the removal's result for whoever started this one.
        signalfd_siginfo request{};
        bool read = ::read(quitFd.get(), &request, sizeof request) == static_cast<ssize_t>(sizeof request);
        pid_t stagePid = stage.pid();
        stage.detach();
        return read ? firstStageExitCode(request, stagePid) : 1;
    } catch (const std::exception& e) {
        return fail(formatText(kStartFailed, {e.what()}));
    }
}

int runSecondStage(const fs::path& infoFile, const std::vector<std::string>& args, UserPrompts& prompts) {
    fs::path started = args.size() > 1 ? fs::path(args[1]) : fs::path();
    // The copy runs from the temporary folder but acts for the program the user started.
    TCVUnInstall engine(RegistryStore(registryStorePath(started.empty() ? programFolder() : programFolder(started))));
    try {
        engine.load(infoFile);
    } catch (const InstDataError& e) {
        prompts.inform(nullptr, e.what(), kMessageCaption);
        return 1;
    }
    MainDialog dialog(engine, prompts, infoFile, started);
    prompts.attend(dialog);
    dialog.exec();
    if (!engine.ran()) return 0;

    refreshMenuCache(engine.shortcutFolders());
    if (args.size() > 2)
        if (auto firstStage = parseStageHandle(args[2]))
            closeFirstStage(*firstStage, kChildWaitLimit, dialog.removalResult());
    if (!started.empty()) {
        deleteWithRetries(started);
        engine.folderGuard().removeEmptyParents(started);
    }
    return dialog.removalResult();
}

// Unattended runs draw nowhere; an attended run needs a screen to ask on.
// False when there is none to ask on.
bool prepareScreen() {
    if (std::getenv(kScriptVariable)) return ::setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0;
    for (const char* variable : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"})
        if (const char* value = std::getenv(variable); value && *value) return true;
    return false;
}

} // namespace

int runUninstaller(int argc, char** argv) {
    if (!prepareScreen()) {
        std::fprintf(stderr, "%s: %s\n", kMessageCaption, kNoScreen);
        return 1;
    }
    fs::path program = ownProgramPath();
    bool secondStage = isSecondStage(program);
    // The second stage is the temporary copy: it goes when the stage ends,
    // whichever way it ends.
    ScopedFileRemoval removeSelf(secondStage ? program : fs::path());
    if (secondStage) deleteOnEndingSignal(program);
    if (!secondStage) {
        // Read through a signalfd while the first stage waits; blocked before
        // any thread starts, so that no thread takes it instead.
        sigset_t quit;
        sigemptyset(&quit);
        sigaddset(&quit, kQuitSignal);
        ::pthread_sigmask(SIG_BLOCK, &quit, nullptr);
    }
    // Qt sees no argument of ours.
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    auto prompts = makeUserPrompts();

    std::vector<std::string> args(argv + 1, argv + argc);
    std::error_code ec;
    fs::path infoFile = args.empty() || args[0].empty() ? defaultInfoFile(program) : fs::absolute(args[0], ec);
    // A system folder as the current one: no folder of the installation stays in use.
    if (::chdir(platformFolder(":WINDIR:").c_str()) != 0) (void)::chdir("/");
    if (!fs::exists(infoFile, ec)) {
        prompts->inform(nullptr, kInfoFileMissing, kMessageCaption);
        return 1;
    }
    return secondStage ? runSecondStage(infoFile, args, *prompts) : runFirstStage(program, infoFile, *prompts);
}

} // namespace plx::uninst
