#include "CtlStatus.h"

#include <cstdio>

void printError(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "quorvel-ctl: %s\n", message.c_str());
}
