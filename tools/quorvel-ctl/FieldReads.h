// Fields read from the board and shown as quorvel-ctl shows them, each with
// its failure when its read or its decoding failed.
#ifndef CTL_FIELD_READS_H
#define CTL_FIELD_READS_H

#include "FieldJson.h"
#include "RdsUsbFields.h"
#include "TextCodec.h"

#include <usb.h>

#include <string>
#include <vector>

struct FieldReading {
    const T_R_FieldDef *field;
    std::string shown;
    int status;        // CtlOk, CtlRequestFailed or CtlRefused (a byte without a character)
    std::string error; // when status is not CtlOk
};

// Reads the fields in the order given, every one of them whatever the others did.
std::vector<FieldReading> readFields(usb_dev_handle *board,
                                     const std::vector<const T_R_FieldDef *> &fields,
                                     fields::Charset charset);
// Every field of the table.
std::vector<FieldReading> readAllFields(usb_dev_handle *board, fields::Charset charset);

// Reports each failed reading on standard error, then `nothingDone` when
// there was one and it is given; the status of the first, or CtlOk.
int reportFailures(const std::vector<FieldReading> &readings, const std::string &nothingDone = {});

// The readings as fields with their shown values (all of them read).
fields::FieldList shownFields(const std::vector<FieldReading> &readings);

#endif
