// The commands of quorvel-ctl. Each returns the exit status, or throws
// CtlError.
#ifndef CTL_COMMANDS_H
#define CTL_COMMANDS_H

#include "CtlOptions.h"

int probeCommand(const CtlOptions &options);
int showCommand(const CtlOptions &options);
int getCommand(const CtlOptions &options);
int exportCommand(const CtlOptions &options);
int setCommand(const CtlOptions &options);
int importCommand(const CtlOptions &options);
int resetCommand(const CtlOptions &options);
int rtCommand(const CtlOptions &options);

#endif
