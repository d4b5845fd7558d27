// quorvel-sim: runs a command against a simulated board (see --help).
#include "BoardTimeline.h"
#include "ControlFifo.h"
#include "RunnerOptions.h"
#include "SimTestbed.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

extern char **environ;

namespace {

constexpr const char *preload = "libumockdev-preload.so.0";

volatile sig_atomic_t childPid = 0;

void forwardSignal(int signal)
{
    if (childPid > 0)
        kill(childPid, signal);
}

// SIGINT and SIGTERM go to the command. Until it runs they are held back
// (blocked); returns the signal mask to restore then.
sigset_t forwardSignals()
{
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    sigset_t forwarded, previous;
    sigemptyset(&forwarded);
    sigaddset(&forwarded, SIGINT);
    sigaddset(&forwarded, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &forwarded, &previous);
    return previous;
}

// The environment with the testbed's root and umockdev's preload library.
// A command built with ASan would abort on finding the preload library ahead
// of its runtime; the option lets it run (other programs ignore it).
std::vector<std::string> childEnvironment(const std::string &root)
{
    std::string ldPreload = preload;
    std::string asanOptions = "verify_asan_link_order=0";
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string value = entry.substr(entry.find('=') + 1);
        if (entry.starts_with("LD_PRELOAD=")) {
            if (!value.empty())
                ldPreload = value + ":" + preload;
        } else if (entry.starts_with("ASAN_OPTIONS=")) {
            if (!value.empty())
                asanOptions += ":" + value; // the caller's own setting wins
        } else if (!entry.starts_with("UMOCKDEV_DIR=")) {
            env.push_back(entry);
        }
    }
    env.push_back("UMOCKDEV_DIR=" + root);
    env.push_back("LD_PRELOAD=" + ldPreload);
    env.push_back("ASAN_OPTIONS=" + asanOptions);
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> p;
    p.reserve(strings.size() + 1);
    for (std::string &s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

// Runs the command to its end with the signal mask `mask`; returns its exit
// status the way a shell does.
int runChild(std::vector<std::string> command, const std::string &root, const sigset_t &mask)
{
    std::vector<std::string> env = childEnvironment(root);
    const std::vector<char *> argv = pointers(command);
    const std::vector<char *> envp = pointers(env);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    if (error == 0)
        childPid = pid;
    pthread_sigmask(SIG_SETMASK, &mask, nullptr); // a signal held back goes to the command now
    if (error != 0) {
        std::fprintf(stderr, "quorvel-sim: %s: %s\n", argv[0],
                     std::generic_category().message(error).c_str());
        return error == ENOENT ? 127 : 126;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error(std::string("waitpid: ") +
                                     std::generic_category().message(errno));
    }
    childPid = 0;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

using File = std::unique_ptr<FILE, int (*)(FILE *)>;

File openLog(const std::string &path)
{
    if (path.empty())
        return {nullptr, std::fclose};
    File file(std::fopen(path.c_str(), "w"), std::fclose);
    if (!file)
        throw std::runtime_error(path + ": " + std::generic_category().message(errno));
    return file;
}

int run(const sim::RunnerOptions &options, const sigset_t &mask)
{
    const File log = openLog(options.logFile);
    // The testbed goes only after the command has ended: detaching a handler
    // from a node the command still holds open would abort it.
    sim::Testbed testbed;
    if (options.extraDevice) {
        sim::DeviceSetup other;
        other.manufacturer = "Other Maker";
        other.productName = "Gadget";
        testbed.addDevice(other);
    }
    std::unique_ptr<sim::BoardTimeline> timeline;
    if (options.board) {
        auto board = std::make_shared<sim::Board>();
        for (const sim::Fault &f : options.faults)
            board->addFault(f);
        sim::DeviceSetup setup;
        setup.stringError = options.stringError;
        const int device = testbed.addDevice(setup, board);
        timeline = std::make_unique<sim::BoardTimeline>(testbed, device, setup, options.timeline);
        board->setListener(
            [f = log.get(), &board = *board, &timeline = *timeline](const sim::Request &r) {
                if (f) {
                    std::fprintf(f, "0x%02X value=0x%04X index=0x%04X result=%d\n", r.code, r.value,
                                 r.index, r.result);
                    std::fflush(f);
                }
                if (board.unplugged())
                    timeline.unplugged();
            });
    }
    std::unique_ptr<sim::ControlFifo> control;
    if (!options.controlFifo.empty())
        control = std::make_unique<sim::ControlFifo>(
            options.controlFifo, [&timeline](const std::string &line) {
                using Command = sim::BoardTimeline::Command;
                const std::optional<Command> command =
                    line == "unplug"   ? std::optional(Command::Unplug)
                    : line == "replug" ? std::optional(Command::Replug)
                    : line == "glitch" ? std::optional(Command::Glitch)
                                       : std::nullopt;
                if (command && timeline)
                    timeline->command(*command);
                else
                    std::fprintf(stderr, "quorvel-sim: control: %s: %s\n", line.c_str(),
                                 timeline ? "unknown command" : "no board");
            });
    return runChild(options.command, testbed.root(), mask);
}

} // namespace

int main(int argc, char **argv)
{
    const sim::ParsedCommandLine parsed = sim::parseCommandLine(argc, argv);
    if (parsed.help) {
        std::fputs(sim::usageText, stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "quorvel-sim: %s\n%s", parsed.error.c_str(), sim::usageText);
        return 2;
    }
    const sigset_t mask = forwardSignals();
    try {
        return run(parsed.options, mask);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvel-sim: %s\n", e.what());
        return 125;
    }
}
