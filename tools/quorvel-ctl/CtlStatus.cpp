#include "CtlStatus.h"

#include <cstdio>

void printError(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "quorvel-ctl: %s\n", message.c_str());
}

std::string refusalMessage(const fields::Error &error)
{
    return error.overridable ? error.message + " (--force sends it all the same)" : error.message;
}
