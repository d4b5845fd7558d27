// Exit statuses of quorvel-ctl, and the error that carries one up to main.
#ifndef CTL_STATUS_H
#define CTL_STATUS_H

#include "FieldError.h"

#include <string>

enum CtlStatus {
    CtlOk = 0,
    CtlRequestFailed = 1, // a board request failed
    CtlUsage = 2,         // bad command line
    CtlNotFound = 3,      // no board
    CtlUnreadable =
        4, // a device with the board's ids that cannot be opened or whose strings cannot be read
    CtlRefused = 5,      // a value out of range, or a character the chosen table lacks
    CtlFileError = 6,    // a file that cannot be read, parsed or written
    CtlNotConfirmed = 7, // a reset that was not confirmed
};

// Ends the command: main reports the message and exits with the status.
struct CtlError {
    int status;
    std::string message;
};

// "quorvel-ctl: " and the message on standard error, after what standard
// output holds so far.
void printError(const std::string &message);

// A refusal of the field model in quorvel-ctl's words: a value only off the
// RDS ranges is one that --force sends.
std::string refusalMessage(const fields::Error &error);

#endif
