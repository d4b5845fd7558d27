// bench_exec COMMAND [ARG...]: runs COMMAND with the first-paint hook
// preloaded ahead of whatever LD_PRELOAD holds (umockdev's library, under
// quorvel-sim), and the time of the exec in QUORVEL_BENCH_T0 (nanoseconds of
// CLOCK_MONOTONIC), from which the hook tells COMMAND's time to its first
// paint. The hook goes into COMMAND only, not into the programs that start
// this one.
#include <unistd.h>

#include <ctime>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_exec COMMAND [ARG...]\n");
        return 2;
    }
    std::string preload = FIRST_PAINT_HOOK;
    if (const char *current = getenv("LD_PRELOAD"); current && *current)
        preload += std::string(":") + current;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    setenv("QUORVEL_BENCH_T0", std::to_string(now.tv_sec * 1000000000LL + now.tv_nsec).c_str(), 1);
    execvp(argv[1], argv + 1);
    fprintf(stderr, "bench_exec: %s: %s\n", argv[1], strerror(errno));
    return errno == ENOENT ? 127 : 126;
}
