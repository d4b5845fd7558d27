// What the field model refuses, in its own terms: the field at fault and a
// message for people. Each front end adds its own words to it: an exit
// status, a reply code, a hint at how to send the value all the same.
#ifndef FIELDS_FIELD_ERROR_H
#define FIELDS_FIELD_ERROR_H

#include <string>

namespace fields {

struct Error {
    std::string field;   // the field's name when one field is at fault, else empty
    std::string message; // names the field or file: "ram.pty (RAM PTY): 40 is outside 0-31"
    // Only off the RDS ranges (too long, out of range, not in 0.1 MHz steps,
    // not four hex digits): the board takes the value all the same.
    bool overridable = false;
};

} // namespace fields

#endif
