#include "FieldReads.h"

#include "BoardSession.h"
#include "CtlStatus.h"
#include "FieldValues.h"

std::vector<FieldReading> readFields(usb_dev_handle *board,
                                     const std::vector<const T_R_FieldDef *> &fields,
                                     fields::Charset charset)
{
    std::vector<FieldReading> readings;
    for (const T_R_FieldDef *field : fields) {
        FieldReading reading{field, {}, CtlOk, {}};
        const std::optional<std::string> display = readField(board, *field);
        if (!display) {
            reading.status = CtlRequestFailed;
            reading.error = std::string(field->Name) + ": read failed";
        } else {
            try {
                reading.shown = fields::shownValue(*field, *display, charset);
            } catch (const fields::Error &e) {
                reading.status = CtlRefused;
                reading.error = refusalMessage(e);
            }
        }
        readings.push_back(reading);
    }
    return readings;
}

std::vector<FieldReading> readAllFields(usb_dev_handle *board, fields::Charset charset)
{
    std::vector<const T_R_FieldDef *> fields;
    for (const T_R_FieldDef &field : RdsUsbFields)
        fields.push_back(&field);
    return readFields(board, fields, charset);
}

int reportFailures(const std::vector<FieldReading> &readings, const std::string &nothingDone)
{
    int status = CtlOk;
    for (const FieldReading &reading : readings) {
        if (reading.status == CtlOk)
            continue;
        printError(reading.error);
        if (status == CtlOk)
            status = reading.status;
    }
    if (status != CtlOk && !nothingDone.empty())
        printError(nothingDone);
    return status;
}

fields::FieldList shownFields(const std::vector<FieldReading> &readings)
{
    fields::FieldList fields;
    for (const FieldReading &reading : readings)
        fields.emplace_back(reading.field, reading.shown);
    return fields;
}
