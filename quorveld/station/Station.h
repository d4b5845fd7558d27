// The encoder as the protocols see it: checks what they ask for against the
// field model and hands it to the board worker, keeps the RadioText rotation
// and the scrolling PS name, counts commands, and answers queries in the
// fields' shown and JSON forms. Runs on the event loop's thread only.
#ifndef QUORVELD_STATION_H
#define QUORVELD_STATION_H

#include "BoardWorker.h"
#include "ChangeLog.h"
#include "FieldImage.h"
#include "Log.h"
#include "SongText.h"
#include "TextCodec.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qd {

enum class Protocol { Uecp, Ascii, Http, File };
inline constexpr std::array AllProtocols{Protocol::Uecp, Protocol::Ascii, Protocol::Http,
                                         Protocol::File};
// "uecp", "ascii", "http", "file"
const char *protocolName(Protocol protocol);

// Who asked: the door and, where known, the client's address and the HTTP
// user. A door alone converts to one.
struct Origin {
    Origin(Protocol door, std::string client = {}, std::string user = {})
        : protocol(door), client(std::move(client)), user(std::move(user))
    {
    }
    Protocol protocol;
    std::string client, user;
};

// A field whose value is not what a client last saw: what it is now, and
// the last ask that set it (door empty when no door has).
struct Conflict {
    std::string field;
    nlohmann::ordered_json value;
    Change setBy;
};

// A value the checks refused: the field's name and the field model's message.
// A value the EEPROM budget refused says when to try again.
struct Refusal {
    Refusal(std::string field, std::string message,
            std::optional<std::chrono::seconds> retryAfter = std::nullopt)
        : field(std::move(field)), message(std::move(message)), retryAfter(retryAfter)
    {
    }
    std::string field;
    std::string message;
    std::optional<std::chrono::seconds> retryAfter; // the budget's refusal
};

struct StationOptions {
    fields::Charset charset = fields::Charset::Rds; // of texts from ASCII, HTTP and the file
    int rtCycleSeconds = 10;                        // each buffered RadioText held this long
    int dpsStepSeconds = 2;                         // scrolling PS: one step this often
    std::string nowPlayingFormat = "ARTIST - TITLE";
    std::string changesFile;      // the change log across restarts; empty: kept in memory only
    std::string ptyNames = "rds"; // the PTY table pages show: "rds" (Europe) or "rbds"
};

// Each part in UTF-8, or Windows-1252 where it is not valid UTF-8.
struct NowPlaying {
    std::string text;          // used when not empty
    std::string artist, title; // otherwise, through the format
};

// What an encoder command came to.
struct CommandResult {
    std::vector<Refusal> refusals; // nothing was asked
    std::vector<Refusal> unstored; // the RAM part was asked, not the EEPROM copy
};

class Station {
public:
    Station(boost::asio::io_context &io, BoardWorker &worker, StationOptions options);

    // Values as quorvel-ctl's set takes them (UTF-8), by quorvel-ctl's field
    // names, and "af": a comma-separated list of MHz (empty: none) that sets
    // the AFs and their number. All or nothing: with one refusal nothing is
    // asked. A RAM PS name ends the scrolling; a RAM RadioText the rotation.
    // `drops` names fields no longer asked for ("af": the AFs and their
    // number): the board keeps what it holds, and a replug no longer writes
    // them; dropping the RAM PS or RadioText also ends its scrolling or rotation.
    // EEPROM values need the EEPROM budget (the operator's share for
    // Asker::Operator); its refusals carry retryAfter.
    std::vector<Refusal> set(const std::vector<std::pair<std::string, std::string>> &values,
                             const Origin &from, const std::vector<std::string> &drops = {},
                             Asker asker = Asker::Client);
    // An encoder's command (ASCII): the field `name` set to `value`, and with
    // `store` its EEPROM copy of that name as well ("set and store"). A PS name
    // or RadioText takes song text (bytes in UTF-8, or Windows-1252 where they
    // are not): transliterated and cut, never refused. Other values are
    // checked as by set(). When the EEPROM copy cannot be stored (a bad value,
    // or the EEPROM budget spent), the RAM part still goes.
    CommandResult command(const std::string &name, const std::string &value,
                          const std::string &store, const Origin &from);
    // Images as received, in the board's bytes (UECP), asked as they are;
    // nothing when the EEPROM budget refuses one.
    std::vector<Refusal> setImages(const std::vector<std::pair<int, fields::Image>> &images,
                                   const Origin &from);
    // The RadioText buffer: flush then store `text`, or append it to the texts
    // sent in turn, each for rtCycleSeconds, `transmissions` rounds (0:
    // without end) when more than one is buffered. An empty text empties the
    // buffer and blanks the RadioText. false: the buffer is full, the text
    // was not appended.
    static constexpr size_t maxBufferedTexts = 8;
    bool storeRadioText(const fields::Image &text, bool append, int transmissions,
                        const Origin &from);
    // Scrolls song text through the RAM PS name, 8 characters a step; a text
    // of at most 8 is the PS name. Transliterated and cut to 128 characters.
    void scrollPs(std::string_view text, const Origin &from);
    // The RAM RadioText from a now-playing text, or from artist and title
    // through the format: the first line, transliterated and cut.
    void nowPlaying(const NowPlaying &song, const Origin &from);
    // A command refused before it reached the station (a bad UECP element, an
    // unknown ASCII command, a refused HTTP body): counted.
    void countRefused(const Origin &from);

    // The fields of `seen` (names -> the values a client last saw, as
    // fieldsJson shows them; "af": the list) whose value is now another:
    // what was asked, else what the board holds, else its last-known value.
    // A null seen value is never a conflict. Unknown names: a refusal each.
    std::vector<Conflict> conflicts(const nlohmann::ordered_json &seen,
                                    std::vector<Refusal> &refusals) const;
    // The last asks, newest first (ChangeLog::json()).
    nlohmann::ordered_json changesJson() const { return changes_.json(); }
    // Writes the change log's file now if it has unsaved changes; a failure is logged.
    void saveChanges();

    Snapshot fields() const;
    WorkerStatus status() const;
    // A field's value as quorvel-ctl shows it: what was asked for when it is
    // kept, or what the board holds; empty when neither is known.
    std::string effective(int field) const;
    enum class Values {
        Held,      // what the board holds (unknown fields left out)
        Pending,   // asked for and not yet on the board
        Asked,     // asked for and kept: written again after a replug or restart
        LastKnown, // fields the board's value is unknown of: the last it held
    };
    // {"ram.ps": "RADIO1  ", "ram.pty": 10, ...} as quorvel-ctl shows them.
    nlohmann::ordered_json fieldsJson(Values which) const;
    // {"board": "present", "device": "001/007", "pending_writes": 0,
    //  "eeprom_writes": 3, "eeprom_budget": {"interval_s": 10, "per_day": 24,
    //  "kept_for_operator": 3, "used": {"eeprom.pi": 2}, "refused": 0},
    //  "requests_sent": ..., "requests_failed": ..., "state_unsaved": false,
    //  "clients": {"ascii-tcp 127.0.0.1:4001": 1}, "uptime_s": 12,
    //  "last_change": "2026-12-07T05:40:00Z", "version": 42, "quorveld": "1.4.0",
    //  "board_since": "2026-12-07T05:38:00Z", "last_device": "001/007"}
    // last_change and version: the last change of a field's held, asked or
    // pending value; board_since: when the board's state last changed.
    nlohmann::ordered_json statusJson() const;
    // The counters in the Prometheus text format.
    std::string metricsText() const;

    // Listeners report their client counts under their own names; -1: closed.
    void setClients(const std::string &listener, int count);
    // Called on the event loop's thread after a change of a field's held,
    // asked or pending value (version() counts them) or of the board's state;
    // never for counters or clients.
    void subscribe(std::function<void()> observer);
    uint64_t version() const { return version_; }
    BoardState board() const { return board_; }

    const StationOptions &options() const { return options_; }
    void setOptions(StationOptions options) { options_ = std::move(options); }

private:
    using Images = std::vector<std::pair<int, fields::Image>>;

    // Counters and clients change the status only; fields and the board's
    // state tell the observers.
    void changed();
    // The counts of the lines the log limiters held back, written once due.
    void flushLogsLater();
    nlohmann::ordered_json budgetJson(const WorkerStatus &status) const;
    // The asks of fields `asked` made since `before` into the change log and the journal; a
    // text that its ask does not show (a scrolling PS name, a RadioText added
    // to the rotation) as `text` of `textField`.
    void record(const Snapshot &before, const Origin &from, const std::vector<int> &asked,
                int textField = -1, const std::string &text = {});
    // A value checked as set() checks it: its images, or its refusal.
    void check(const std::string &name, const std::string &value, Images &images,
               std::vector<Refusal> &refusals) const;
    // Song text for a text field: counted when cut, its changes logged.
    fields::SongText song(int field, std::u32string_view text, fields::SongField as,
                          const Origin &from);
    // RAM asks go to the worker with the turn's others; EEPROM ones at once,
    // after them, through the budget: its refusals, and then nothing is asked.
    std::vector<Refusal> ask(const std::vector<std::pair<int, fields::Image>> &images,
                             const Origin &from, Asker asker = Asker::Client);
    void flushUnsent();
    void unask(const std::vector<int> &fields, const Origin &from);
    // The current value shown (asked, held, last known), or null.
    nlohmann::ordered_json currentJson(const Snapshot &snapshot, int field) const;
    nlohmann::ordered_json afJson(const Snapshot &snapshot) const;
    void takeOver(int field);
    void toWorker(const std::vector<std::pair<int, fields::Image>> &images);
    void stopRotation();
    void stopScroll();
    void rotate();
    // The next text's turn in rtCycleSeconds.
    void scheduleRotation();
    void scrollStep();

    boost::asio::io_context &io_;
    BoardWorker &worker_;
    StationOptions options_;
    std::chrono::steady_clock::time_point started_;
    std::string lastChange_;
    uint64_t version_ = 0;
    std::array<std::optional<fields::Image>, RDS_USB_FIELD_COUNT> seenHeld_, seenAsked_;
    std::array<std::optional<fields::Image>, RDS_USB_FIELD_COUNT> lastKnown_;
    BoardState board_ = BoardState::Absent;
    std::string boardSince_, lastDevice_;
    std::map<int, Change> setBy_; // the last ask of each field asked
    ChangeLog changes_;
    LogLimiter changeLog_{std::chrono::seconds(10)}; // a journal line per ask, by door and field
    // The change log is saved 2 s after an ask, at most that often.
    boost::asio::steady_timer saveTimer_;
    bool saveArmed_ = false;
    std::map<Protocol, uint64_t> commands_;
    std::map<Protocol, uint64_t> refused_;
    std::map<Protocol, uint64_t> cut_;        // song texts cut to their field
    std::map<Protocol, uint64_t> overBudget_; // EEPROM values the budget refused
    LogLimiter textLog_;                      // what song texts lost, by door and field
    LogLimiter budgetLog_;                    // the budget's refusals, by door and field
    boost::asio::steady_timer logFlush_;      // their counts, once due
    bool logFlushArmed_ = false;
    std::map<std::string, int> clients_;
    std::vector<std::function<void()>> observers_;
    Images unsent_; // asked this turn, not yet handed to the worker, in order
    bool flushPosted_ = false;

    struct BufferedText {
        fields::Image text;
        int transmissions;
    };
    std::vector<BufferedText> rotation_;
    size_t rotationAt_ = 0;
    boost::asio::steady_timer rotationTimer_;

    std::string scrollText_; // in the board's codes
    size_t scrollAt_ = 0;
    boost::asio::steady_timer scrollTimer_;
};

} // namespace qd

#endif
