// quorvel-ctl's import of a backup file: any text is either refused with the
// file error or gives values, each of which is refused or checked; a checked
// value (with or without --force) is one the board layer sends whole, in
// well-formed requests, to the simulated board.
#include "Backup.h"
#include "CtlStatus.h"
#include "FieldValues.h"
#include "FuzzUsb.h"
#include "RdsUsbFields.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    BackupFile backup;
    try {
        backup = parseBackup(std::string(reinterpret_cast<const char *>(data), size), "fuzz.json");
    } catch (const CtlError &e) {
        fuzzusb::check(e.status == CtlFileError);
        return 0;
    }
    sim::Board board;
    fuzzusb::setHandler([&](int request, int value, int index, uint8_t *reply) {
        return board.handle(static_cast<uint8_t>(request), static_cast<uint16_t>(value),
                            static_cast<uint16_t>(index), reply, 8);
    });
    for (const auto &[field, value] : backup.values) {
        for (const bool force : {false, true}) {
            fields::CheckedValue checked;
            try {
                checked = fields::checkValue(*field, value, backup.charset, force);
            } catch (const fields::Error &e) {
                fuzzusb::check(
                    !(force && e.overridable)); // --force sends what is only off the ranges
                continue;
            }
            board.clearLog();
            fuzzusb::check(RdsUsbWriteField(field, nullptr, checked.boardText.c_str()));
            for (const sim::Request &r : board.log())
                fuzzusb::check(fuzzusb::isWriteCode(r.code) && r.result == 8);
        }
    }
    return 0;
}
