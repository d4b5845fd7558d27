// quorvel-ctl: the board from scripts. Parses the command line and runs the
// command.
#include "Commands.h"
#include "CtlOptions.h"
#include "CtlStatus.h"

#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char *name;
    int (*run)(const CtlOptions &);
};

constexpr Command Commands[] = {
    {"probe", probeCommand}, {"show", showCommand},     {"get", getCommand},
    {"set", setCommand},     {"export", exportCommand}, {"import", importCommand},
    {"reset", resetCommand}, {"rt", rtCommand},
};

} // namespace

int main(int argc, char **argv)
{
    try {
        const CtlOptions options = parseCommandLine(argc, argv);
        if (options.help) {
            std::fputs(usageText, stdout);
            return CtlOk;
        }
        if (options.version) {
            std::puts("quorvel-ctl " QUORVEL_VERSION);
            return CtlOk;
        }
        for (const Command &command : Commands)
            if (options.command == command.name)
                return command.run(options);
        return CtlUsage; // parseCommandLine knows the same commands
    } catch (const CtlError &e) {
        printError(e.message);
        if (e.status == CtlUsage)
            std::fputs("Try 'quorvel-ctl --help'.\n", stderr);
        return e.status;
    }
}
