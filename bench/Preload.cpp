#include "Preload.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

void reexecWithPreload(char **argv)
{
    const char *preload = "libumockdev-preload.so.0";
    const char *current = getenv("LD_PRELOAD");
    if (current && strstr(current, preload))
        return;
    std::string value = preload;
    if (current && *current)
        value = std::string(current) + ":" + value;
    setenv("LD_PRELOAD", value.c_str(), 1);
    execv("/proc/self/exe", argv);
    perror(program_invocation_short_name);
    exit(2);
}
