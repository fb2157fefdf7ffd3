#include "uninstaller/Flow.h"

#include <QApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
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

sigset_t endingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kEndingSignals) sigaddset(&set, signal);
    return set;
}

// A load that failed, or a file that is not an install-information file:
// told, and the exit code; nullopt when data is loaded and usable.
std::optional<int> loadInfo(TCVInstData& data, const fs::path& infoFile, UserPrompts& prompts) {
    try {
        data.load(infoFile);
    } catch (const InstDataError& e) {
        prompts.inform(nullptr, e.what(), kMessageCaption);
        return 1;
    }
    if (data.isInstallInfo()) return std::nullopt;
    prompts.inform(nullptr, formatText(kNotInstallInfo, {infoFile.string()}), kMessageCaption);
    return kExitNotInstallInfo;
}

int runFirstStage(const fs::path& program, const fs::path& infoFile, UserPrompts& prompts) {
    auto fail = [&](const std::string& text) {
        prompts.inform(nullptr, text, kMessageCaption);
        return 1;
    };
    TCVInstData data;
    if (auto failed = loadInfo(data, infoFile, prompts)) return *failed;
    ScopedFileRemoval removeCopy;
    try {
        removeCopy = ScopedFileRemoval(makeStageCopy());
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
    sigset_t ending = endingSignals();
    UniqueFd endingFd(::signalfd(-1, &ending, SFD_CLOEXEC));
    try {
        ChildProcess stage(secondStageCommand(removeCopy.path(), infoFile, program, ::getpid()));
        removeCopy.release(); // from here the copy deletes itself
        // The caller learns the result once the removal is over: a signal
        // meant for this stage goes to the second, which ends the run.
        pollfd fds[2] = {{stage.pidfd(), POLLIN, 0}, {endingFd.get(), POLLIN, 0}};
        for (;;) {
            if (::poll(fds, endingFd ? 2 : 1, -1) < 0) {
                if (errno == EINTR) continue;
                break; // waits below all the same
            }
            if (fds[0].revents != 0) break;
            signalfd_siginfo received{};
            if (::read(endingFd.get(), &received, sizeof received) == static_cast<ssize_t>(sizeof received))
                signalPidfd(stage.pidfd(), static_cast<int>(received.ssi_signo));
        }
        auto status = stage.wait();
        return status ? exitCodeOf(*status) : 1;
    } catch (const std::exception& e) {
        return fail(formatText(kStartFailed, {e.what()}));
    }
}

int runSecondStage(const fs::path& infoFile, const std::vector<std::string>& args, UserPrompts& prompts) {
    fs::path started = args.size() > 1 ? fs::path(args[1]) : fs::path();
    // The copy runs from the temporary folder but acts for the program the user started.
    TCVUnInstall engine(RegistryStore(registryStorePath(started.empty() ? programFolder() : programFolder(started))));
    if (auto failed = loadInfo(engine, infoFile, prompts)) return *failed;
    MainDialog dialog(engine, prompts, infoFile, started);
    prompts.attend(dialog);
    dialog.exec();
    if (!engine.ran()) return kExitCancelled;

    refreshMenuCache(engine.shortcutFolders());
    // Whatever stayed, the uninstaller stays beside it, to run again.
    if (dialog.removalResult() == TCVUnInstall::kRemoved && !started.empty() && deleteWithRetries(started))
        engine.folderGuard().removeEmptyParents(started, {engine.baseDir()});
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

// A screen named but not answering ends the platform's start-up fatally:
// the program ends with its own text instead of a core dump.
void endWithoutScreen(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        return;
    }
    deleteMarkedFileNow();
    std::fprintf(stderr, "%s: %s\n", kMessageCaption, kNoScreen);
    std::_Exit(1);
}

} // namespace

int runUninstaller(int argc, char** argv) {
    if (const char* script = std::getenv(kScriptVariable))
        if (auto unknown = unknownScriptAnswer(script)) {
            std::fputs(formatText(kScriptUsage, {kScriptVariable, *unknown}).c_str(), stderr);
            return kExitUsage;
        }
    if (!prepareScreen()) {
        std::fprintf(stderr, "%s: %s\n", kMessageCaption, kNoScreen);
        return 1;
    }
    fs::path program = ownProgramPath();
    bool secondStage = isSecondStage(program);
    // The second stage is the temporary copy: it goes when the stage ends,
    // whichever way it ends.
    ScopedFileRemoval removeSelf(secondStage ? program : fs::path());
    if (secondStage) {
        deleteOnEndingSignal(program);
    } else {
        // Read through a signalfd while the first stage waits; blocked before
        // any thread starts, so that no thread takes them instead.
        sigset_t ending = endingSignals();
        ::pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    }
    // Qt sees no argument of ours.
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QtMessageHandler previous = qInstallMessageHandler(endWithoutScreen);
    QApplication application(qtArgc, qtArgv);
    qInstallMessageHandler(previous);
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
