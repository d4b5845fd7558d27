// The daemon's log: one line per event on standard error (the journal under
// systemd), from any thread.
#ifndef QUORVELD_LOG_H
#define QUORVELD_LOG_H

#include <string>

namespace qd {

void logLine(const std::string &line);
// Only with --verbose: every command.
void logVerbose(const std::string &line);
void setVerbose(bool verbose);

} // namespace qd

#endif
