// rt --follow: the RadioText follows a "now playing" file.
#ifndef CTL_RT_FOLLOW_H
#define CTL_RT_FOLLOW_H

#include "CtlOptions.h"
#include "RdsUsbFields.h"

// Writes the RadioText `field` from options.follow at start and whenever the
// file changes (closed after writing, or renamed into place) to a text other
// than the one last written; a missing file is waited for. Watches the file's
// directory with inotify (without it, looks at the file every second). Ends
// with CtlOk on SIGINT or SIGTERM, after the write in progress.
int followRadioText(const CtlOptions &options, const T_R_FieldDef &field);

#endif
