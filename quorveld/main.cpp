// quorveld: the Quorvel board as a networked RDS encoder.
#include "Daemon.h"
#include "DaemonOptions.h"
#include "HttpAuth.h"
#include "Log.h"

#include <iostream>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    qd::DaemonOptions options;
    try {
        options = qd::parseOptions(args);
    } catch (const qd::OptionError &e) {
        std::fprintf(stderr, "quorveld: %s\nTry 'quorveld --help'.\n", e.what());
        return 2;
    }
    if (options.help) {
        std::fputs(qd::usageText, stdout);
        return 0;
    }
    if (options.version) {
        std::puts("quorveld " QUORVEL_VERSION);
        return 0;
    }
    try {
        if (!options.hashPasswordUser.empty()) {
            std::string password;
            std::getline(std::cin, password);
            std::puts(qd::hashPasswordLine(options.hashPasswordUser, password).c_str());
            return 0;
        }
        qd::Daemon daemon(args, options);
        daemon.run();
    } catch (const std::exception &e) {
        qd::logLine(e.what());
        return 1;
    }
    return 0;
}
