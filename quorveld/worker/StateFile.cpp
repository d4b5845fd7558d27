#include "StateFile.h"

#include "FieldRows.h"
#include "RdsUsbNumber.h"

#include <nlohmann/json.hpp>

#include "FieldValues.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace qd {

namespace {

constexpr const char *format = "quorveld state";
constexpr int version = 1;

[[noreturn]] void fail(const std::string &path, const std::string &why)
{
    throw std::runtime_error("state file " + path + ": " + why);
}

[[noreturn]] void failErrno(const std::string &path, const std::string &what)
{
    fail(path, what + ": " + std::generic_category().message(errno));
}

std::string hexOf(const fields::Image &image)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char byte : image) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

std::optional<fields::Image> imageOfHex(const std::string &hex)
{
    if (hex.size() % 2)
        return std::nullopt;
    fields::Image image;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = RdsUsbHexDigit(hex[i]), low = RdsUsbHexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        image += static_cast<char>(high << 4 | low);
    }
    return image;
}

StateContents imagesOf(const std::string &path, const nlohmann::json &state)
{
    if (!state.is_object() || state.value("format", "") != format)
        fail(path, std::string("not a \"") + format + "\" file");
    if (state.value("version", 0) != version)
        fail(path, "version " + state.value("version", nlohmann::json()).dump() + " is not " +
                       std::to_string(version));
    const nlohmann::json &asked = state.value("asked", nlohmann::json());
    if (!asked.is_object())
        fail(path, "no \"asked\" object");
    StateContents contents;
    for (const auto &[name, value] : asked.items()) {
        const int field = fields::fieldIndex(name);
        if (field < 0)
            fail(path, "unknown field \"" + name + "\"");
        const std::optional<fields::Image> image =
            value.is_string() ? imageOfHex(value.get<std::string>()) : std::nullopt;
        if (!image || image->size() != fields::imageSize(RdsUsbFields[field]))
            fail(path, name + ": not " + std::to_string(fields::imageSize(RdsUsbFields[field])) +
                           " bytes in hexadecimal");
        try {
            fields::checkImage(RdsUsbFields[field], *image);
            contents.asked.emplace_back(field, *image);
        } catch (const fields::Error &e) {
            contents.refused.push_back(e.message);
        }
    }
    return contents;
}

std::map<int, BudgetRecord> budgetOf(const std::string &path, const nlohmann::json &state)
{
    std::map<int, BudgetRecord> records;
    const nlohmann::json &budget = state.value("eeprom_budget", nlohmann::json::object());
    if (!budget.is_object())
        fail(path, "\"eeprom_budget\" is not an object");
    for (const auto &[name, value] : budget.items()) {
        const int field = fields::fieldIndex(name);
        if (field < 0 || !value.is_object())
            fail(path, "eeprom_budget: unknown field \"" + name + "\"");
        BudgetRecord record;
        const nlohmann::json &hours = value.value("hours", nlohmann::json::object());
        if (!hours.is_object() || hours.size() > EepromBudget::windowHours)
            fail(path, "eeprom_budget: " + name + ": \"hours\" is not an object of hours");
        for (const auto &[hour, writes] : hours.items()) {
            char *end = nullptr;
            const long long at = std::strtoll(hour.c_str(), &end, 10);
            if (hour.empty() || *end || !writes.is_number_integer() || writes.get<int64_t>() < 0 ||
                writes.get<int64_t>() > 1000000) {
                std::string why = "eeprom_budget: ";
                fail(path, why.append(name).append(": an hour that is not a count: ").append(hour));
            }
            record.hours[at] = writes.get<int>();
        }
        record.lastMs = value.value("last_ms", int64_t{0});
        record.reserved = value.value("reserved", false);
        records[field] = record;
    }
    return records;
}

void writeAll(int fd, const std::string &text, const std::string &path)
{
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR)
            failErrno(path, "writing");
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

// The rename is on the disk once the directory is.
void syncDirectory(const std::string &path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const int fd = open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        failErrno(path, "opening its directory");
    const int synced = fsync(fd);
    close(fd);
    if (synced != 0)
        failErrno(path, "flushing its directory");
}

} // namespace

StateContents readStateFile(const std::string &path, std::map<int, BudgetRecord> *budget)
{
    // Opening a FIFO would wait for a writer: never for a regular file.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return {};
        failErrno(path, "reading");
    }
    std::string text;
    struct stat info {};
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    char buffer[4096];
    ssize_t n = 0;
    while (regular && text.size() <= maxStateBytes &&
           ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
        text.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    const int error = errno;
    close(fd);
    if (!regular)
        fail(path, "not a regular file");
    if (text.size() > maxStateBytes)
        fail(path, "larger than " + std::to_string(maxStateBytes) + " bytes");
    if (n < 0) {
        errno = error;
        failErrno(path, "reading");
    }
    try {
        const nlohmann::json state = nlohmann::json::parse(text);
        StateContents contents = imagesOf(path, state);
        if (budget)
            *budget = budgetOf(path, state);
        return contents;
    } catch (const nlohmann::json::exception &e) {
        fail(path, e.what());
    }
}

void writeStateFile(const std::string &path, const FieldImages &asked,
                    const std::map<int, BudgetRecord> &budget)
{
    nlohmann::ordered_json images = nlohmann::ordered_json::object();
    for (const auto &[field, image] : asked)
        images[RdsUsbFields[field].Name] = hexOf(image);
    nlohmann::ordered_json state = {{"format", format}, {"version", version}, {"asked", images}};
    for (const auto &[field, record] : budget) {
        nlohmann::ordered_json hours = nlohmann::ordered_json::object();
        for (const auto &[hour, writes] : record.hours)
            hours[std::to_string(hour)] = writes;
        state["eeprom_budget"][RdsUsbFields[field].Name] = {
            {"hours", hours}, {"last_ms", record.lastMs}, {"reserved", record.reserved}};
    }
    writeFileAtomically(path, state.dump(2) + "\n");
}

void writeFileAtomically(const std::string &path, const std::string &text)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        failErrno(path, "creating " + temporary);
    try {
        writeAll(fd, text, path);
        if (fsync(fd) != 0)
            failErrno(path, "flushing");
    } catch (...) {
        close(fd);
        unlink(temporary.c_str());
        throw;
    }
    if (close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        errno = error;
        failErrno(path, "replacing");
    }
    syncDirectory(path);
}

} // namespace qd
