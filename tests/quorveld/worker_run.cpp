// A board worker in a program of its own, for quorvel-sim to run:
//   worker_run [--verify-ms N] [--search-ms N] [NAME=VALUE]...
// asks for the values (as quorvel-ctl's set takes them), works until standard
// input ends, and prints the board's state and the number of loads.
#include "BoardWorker.h"
#include "FieldValues.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    qd::WorkerOptions options;
    options.verifySeconds = 0;
    options.retryMs = 20;
    options.logger = [](const std::string &message) { std::fprintf(stderr, "%s\n", message.c_str()); };
    std::vector<std::pair<int, qd::Image>> asks;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--verify-ms" || arg == "--search-ms") && i + 1 < argc) {
            (arg == "--verify-ms" ? options.verifyMs : options.searchMs) = std::stoi(argv[++i]);
            continue;
        }
        const size_t equals = arg.find('=');
        const int field = qd::fieldIndex(arg.substr(0, equals));
        if (equals == std::string::npos || field < 0) {
            std::fprintf(stderr, "worker_run: not NAME=VALUE: %s\n", arg.c_str());
            return 2;
        }
        const T_R_FieldDef &f = RdsUsbFields[field];
        asks.emplace_back(field, qd::imageOf(f, checkValue(f, arg.substr(equals + 1), Charset::Cp1252, false).boardText));
    }
    qd::BoardWorker worker(options);
    worker.ask(asks);
    worker.start();
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    worker.stop();
    const qd::WorkerStatus status = worker.status();
    std::printf("%s loads=%llu\n", qd::boardStateName(status.board),
                static_cast<unsigned long long>(status.loads));
    return 0;
}
