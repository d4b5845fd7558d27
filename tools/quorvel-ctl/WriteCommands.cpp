// set, import, reset and rt: fields written to the board. Every value is
// checked before anything is written; set and rt check before the board is
// opened, so that a refused value sends nothing at all.
#include "Backup.h"
#include "BoardSession.h"
#include "Commands.h"
#include "CtlStatus.h"
#include "FieldReads.h"
#include "FieldValues.h"
#include "RtFollow.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <system_error>

namespace {

struct Write {
    const T_R_FieldDef *field;
    fields::CheckedValue value; // when refused: only shown, the value as given
    std::string refusal;
    std::optional<std::string> before; // the board's value before the write
};

// Checks every value.
std::vector<Write> checkAll(const fields::FieldList &values, fields::Charset charset, bool force)
{
    std::vector<Write> writes;
    for (const auto &[field, value] : values) {
        try {
            writes.push_back({field, fields::checkValue(*field, value, charset, force), {}, {}});
        } catch (const fields::Error &e) {
            writes.push_back(
                {field, {{}, fields::givenValue(*field, value), {}, {}}, refusalMessage(e), {}});
        }
    }
    return writes;
}

// Reports each refusal and warning; refuses the whole command (CtlRefused)
// when a value is refused.
void refuseOrWarn(const std::vector<Write> &writes)
{
    bool refused = false;
    for (const Write &w : writes) {
        if (!w.refusal.empty())
            printError(w.refusal);
        else if (!w.value.warning.empty())
            printError("warning: " + w.value.warning);
        refused = refused || !w.refusal.empty();
    }
    if (refused)
        throw CtlError{CtlRefused, "nothing written"};
}

// Writes in order, reporting each write; stops at the first failed one.
int writeAll(usb_dev_handle *board, const std::vector<Write> &writes)
{
    for (size_t i = 0; i < writes.size(); ++i) {
        const Write &w = writes[i];
        if (!writeField(board, *w.field, w.value.boardText)) {
            std::string message = std::string(w.field->Name) + ": write failed";
            for (size_t rest = i + 1; rest < writes.size(); ++rest)
                message += (rest == i + 1 ? "; not written: " : ", ") +
                           std::string(writes[rest].field->Name);
            printError(message);
            return CtlRequestFailed;
        }
        std::printf("wrote %s %s", w.field->Name,
                    fields::quotedValue(*w.field, w.value.shown).c_str());
        if (w.before)
            std::printf(" (was %s)", fields::quotedValue(*w.field, *w.before).c_str());
        std::putchar('\n');
    }
    return CtlOk;
}

std::string readWholeFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    if (!(file && content << file.rdbuf()))
        throw CtlError{CtlFileError, path + ": " + std::generic_category().message(errno)};
    return content.str();
}

// The writes that make the board hold the backup's values, EEPROM fields
// first: the board copies an EEPROM PS name or RadioText into RAM, and the RAM
// fields written after it set them as the backup has them. A refused value
// matters only where it differs from the board's (an AF not in use reads as
// 87.5 MHz, which cannot be written).
std::vector<Write> importPlan(const std::vector<Write> &checked,
                              const std::vector<FieldReading> &readings)
{
    std::vector<std::string> predicted; // the board's value of each field, by table row
    predicted.reserve(readings.size());
    for (const FieldReading &reading : readings)
        predicted.push_back(reading.shown);
    std::vector<Write> plan;
    for (const bool ram : {false, true}) {
        for (const Write &w : checked) {
            const size_t row = static_cast<size_t>(w.field - RdsUsbFields);
            if (fields::isRamField(*w.field) != ram || predicted[row] == w.value.shown)
                continue;
            plan.push_back({w.field, w.value, w.refusal, predicted[row]});
            predicted[row] = w.value.shown;
            if (const T_R_FieldDef *copy = fields::ramCopyOf(*w.field))
                predicted[static_cast<size_t>(copy - RdsUsbFields)] = w.value.shown;
        }
    }
    return plan;
}

void confirmReset()
{
    if (!isatty(STDIN_FILENO))
        throw CtlError{CtlNotConfirmed,
                       "reset: standard input is not a terminal; give --yes to reset the EEPROM"};
    std::fputs("Reset the board's EEPROM data to their defaults? [y/N] ", stderr);
    std::string answer;
    std::getline(std::cin, answer);
    if (answer != "y" && answer != "Y" && answer != "yes")
        throw CtlError{CtlNotConfirmed, "reset cancelled"};
}

} // namespace

int setCommand(const CtlOptions &options)
{
    fields::FieldList values;
    for (const std::string &assignment : options.operands) {
        const size_t equals = assignment.find('=');
        if (equals == std::string::npos)
            throw CtlError{CtlUsage, "set takes NAME=VALUE, not \"" + assignment + "\""};
        const std::string name = assignment.substr(0, equals);
        const T_R_FieldDef *field = RdsUsbFindField(name.c_str());
        if (!field)
            throw CtlError{CtlUsage, "unknown field \"" + name + "\""};
        for (const auto &given : values)
            if (given.first == field)
                throw CtlError{CtlUsage, name + " given twice"};
        values.emplace_back(field, assignment.substr(equals + 1));
    }
    std::sort(values.begin(), values.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    const std::vector<Write> writes = checkAll(values, options.charset, options.force);
    refuseOrWarn(writes);
    const BoardHandle board = openBoard(options.device);
    return writeAll(board.get(), writes);
}

int importCommand(const CtlOptions &options)
{
    const std::string &path = options.operands[0];
    const BackupFile backup = parseBackup(readWholeFile(path), path);
    if (options.charsetGiven && options.charset != backup.charset)
        throw CtlError{CtlUsage, path + " holds " + fields::charsetName(backup.charset) +
                                     " texts; --charset " + fields::charsetName(options.charset) +
                                     " does not apply"};
    const std::vector<Write> checked = checkAll(backup.values, backup.charset, options.force);
    const BoardHandle board = openBoard(options.device);
    const std::vector<FieldReading> readings = readAllFields(board.get(), backup.charset);
    const int status = reportFailures(readings, "nothing imported: every field must be read first");
    if (status != CtlOk)
        return status;
    const std::vector<Write> plan = importPlan(checked, readings);
    refuseOrWarn(plan);
    if (plan.empty()) {
        std::printf("the board already holds %s\n", path.c_str());
        return CtlOk;
    }
    if (!options.dryRun)
        return writeAll(board.get(), plan);
    for (const Write &w : plan)
        std::printf("would write %s %s (board: %s)\n", w.field->Name,
                    fields::quotedValue(*w.field, w.value.shown).c_str(),
                    fields::quotedValue(*w.field, *w.before).c_str());
    return CtlOk;
}

int resetCommand(const CtlOptions &options)
{
    if (!options.yes)
        confirmReset();
    const BoardHandle board = openBoard(options.device);
    if (!resetEeprom(board.get())) {
        printError("reset failed");
        return CtlRequestFailed;
    }
    std::puts("EEPROM data reset to the board's defaults");
    return CtlOk;
}

int rtCommand(const CtlOptions &options)
{
    const T_R_FieldDef &field = *RdsUsbFindField(options.eeprom ? "eeprom.rt" : "ram.rt");
    if (!options.follow.empty())
        return followRadioText(options, field);
    const std::vector<Write> writes =
        checkAll({{&field, options.operands[0]}}, options.charset, options.force);
    refuseOrWarn(writes);
    const BoardHandle board = openBoard(options.device);
    return writeAll(board.get(), writes);
}
