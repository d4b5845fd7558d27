// show, get and export: fields read from the board.
#include "Backup.h"
#include "BoardSession.h"
#include "Commands.h"
#include "CtlStatus.h"
#include "FieldReads.h"
#include "FieldValues.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace {

[[noreturn]] void fileError(const std::string &path, int error)
{
    throw CtlError{CtlFileError, path + ": " + std::generic_category().message(error)};
}

bool writeAll(int fd, const std::string &content)
{
    for (size_t done = 0; done < content.size();) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno != EINTR)
            return false;
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

// Writes the file through a temporary file beside it, renamed over it once
// complete, so that the file is never left half written.
void writeFileWhole(const std::string &path, const std::string &content)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        fileError(path, errno);
    const mode_t mask = umask(0);
    umask(mask);
    const bool written = fchmod(fd, 0666 & ~mask) == 0 && writeAll(fd, content) && fsync(fd) == 0;
    const int error = errno;
    if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
        const int reason = written ? errno : error;
        unlink(temporary.c_str());
        fileError(path, reason);
    }
}

} // namespace

int showCommand(const CtlOptions &options)
{
    const BoardHandle board = openBoard(options.device);
    const std::vector<FieldReading> readings = readAllFields(board.get(), options.charset);
    if (options.json) {
        const int status = reportFailures(readings);
        if (status == CtlOk)
            std::puts(fields::fieldsToJson(shownFields(readings)).dump(2).c_str());
        return status;
    }
    for (const FieldReading &reading : readings)
        if (reading.status == CtlOk)
            std::printf("%-15s %s\n", reading.field->Name,
                        fields::quotedValue(*reading.field, reading.shown).c_str());
    return reportFailures(readings);
}

int getCommand(const CtlOptions &options)
{
    std::vector<const T_R_FieldDef *> fields;
    for (const std::string &name : options.operands) {
        const T_R_FieldDef *field = RdsUsbFindField(name.c_str());
        if (!field)
            throw CtlError{CtlUsage, "unknown field \"" + name + "\""};
        fields.push_back(field);
    }
    const BoardHandle board = openBoard(options.device);
    const std::vector<FieldReading> readings = readFields(board.get(), fields, options.charset);
    const int status = reportFailures(readings);
    if (status == CtlOk)
        for (const FieldReading &reading : readings)
            std::puts(reading.shown.c_str());
    return status;
}

int exportCommand(const CtlOptions &options)
{
    const std::string path = options.operands.empty() ? "-" : options.operands[0];
    const BoardHandle board = openBoard(options.device);
    const std::vector<FieldReading> readings = readAllFields(board.get(), options.charset);
    const int status = reportFailures(readings, "nothing exported: every field must be read");
    if (status != CtlOk)
        return status;
    const std::string document = backupDocument(shownFields(readings), options.charset);
    if (path == "-") {
        std::fputs(document.c_str(), stdout);
    } else {
        writeFileWhole(path, document);
        std::printf("exported %zu fields to %s\n", readings.size(), path.c_str());
    }
    return CtlOk;
}
