#include "Station.h"

#include "FieldError.h"
#include "FieldJson.h"
#include "FieldRows.h"
#include "FieldValues.h"
#include "NowPlaying.h"
#include "SongText.h"
#include "rds_usb.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <ctime>

namespace qd {

namespace {

using namespace fields::row; // RamPs, RamRt, Naf, Af00...

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// "af": the AFs in order, then their number.
void checkAfList(std::string_view list, fields::Charset charset,
                 std::vector<std::pair<int, fields::Image>> &images, std::vector<Refusal> &refusals)
{
    std::vector<std::string> items;
    if (!fields::trimmed(list).empty()) {
        size_t from = 0;
        for (size_t comma; (comma = list.find(',', from)) != std::string_view::npos;
             from = comma + 1)
            items.emplace_back(fields::trimmed(list.substr(from, comma - from)));
        items.emplace_back(fields::trimmed(list.substr(from)));
    }
    if (items.size() > RDS_USB_AF_COUNT) {
        refusals.push_back({"af", "af: " + std::to_string(items.size()) + " frequencies, at most " +
                                      std::to_string(RDS_USB_AF_COUNT)});
        return;
    }
    for (size_t i = 0; i < items.size(); i++) {
        const T_R_FieldDef &field = RdsUsbFields[Af00 + i];
        try {
            images.emplace_back(Af00 + i,
                                fields::checkValue(field, items[i], charset, false).image);
        } catch (const fields::Error &e) {
            refusals.push_back({field.Name, e.message});
        }
    }
    images.emplace_back(Naf, fields::numberImage(static_cast<int>(items.size())));
}

// "2 h 5 min", "40 s"
std::string duration(std::chrono::seconds wait)
{
    const auto s = wait.count();
    if (s >= 3600)
        return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
    if (s >= 60)
        return std::to_string(s / 60) + " min";
    return std::to_string(s) + " s";
}

Refusal overBudget(const BudgetRefusal &spent)
{
    const std::string name = RdsUsbFields[spent.field].Name;
    return {name,
            name + ": the EEPROM write budget is spent (" + std::to_string(spent.limit) +
                " writes a day of this field, to spare the board's EEPROM); try again in " +
                duration(spent.retryAfter),
            spent.retryAfter};
}

std::string metric(const char *name, const char *type, const char *help, const std::string &samples)
{
    return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
           samples;
}

std::string sample(const char *name, uint64_t value, const std::string &labels = {})
{
    return std::string(name) + (labels.empty() ? "" : "{" + labels + "}") + " " +
           std::to_string(value) + "\n";
}

} // namespace

const char *protocolName(Protocol protocol)
{
    switch (protocol) {
    case Protocol::Uecp: return "uecp";
    case Protocol::Ascii: return "ascii";
    case Protocol::Http: return "http";
    case Protocol::File: return "file";
    }
    return "";
}

namespace {
// The shown value, or nothing for bytes the character set lacks.
std::optional<std::string> shownOrNothing(int index, const fields::Image &image,
                                          fields::Charset charset)
{
    try {
        return fields::shownOf(RdsUsbFields[index], image, charset);
    } catch (const fields::Error &) {
        return std::nullopt;
    }
}

// A value as set() takes it: a string, a number as written, a list of them
// joined by commas; nothing for null.
std::optional<std::string> valueText(const nlohmann::ordered_json &value)
{
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_number())
        return value.dump();
    if (!value.is_array())
        return std::nullopt;
    std::string list;
    for (const auto &item : value)
        list.append(list.empty() ? "" : ",").append(valueText(item).value_or(""));
    return list;
}

std::vector<int> indices(const std::vector<std::pair<int, fields::Image>> &images)
{
    std::vector<int> list;
    list.reserve(images.size());
    for (const auto &image : images)
        list.push_back(image.first);
    return list;
}

std::string jsonText(const nlohmann::ordered_json &value)
{
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string logValue(const nlohmann::ordered_json &value)
{
    return value.is_null()
               ? "(none)"
               : value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace

Station::Station(boost::asio::io_context &io, BoardWorker &worker, StationOptions options)
    : io_(io), worker_(worker), options_(std::move(options)),
      started_(std::chrono::steady_clock::now()), lastChange_(utcNow()), boardSince_(lastChange_),
      saveTimer_(io), budgetLog_(std::chrono::seconds(10)), logFlush_(io), rotationTimer_(io),
      scrollTimer_(io)
{
    if (!options_.changesFile.empty()) {
        try {
            changes_ = ChangeLog(options_.changesFile);
        } catch (const std::runtime_error &e) {
            logLine(std::string(e.what()) + "; starting with an empty change log");
        }
    }
    worker_.setListener([this] { boost::asio::post(io_, [this] { changed(); }); });
}

void Station::changed()
{
    const Snapshot snapshot = fields();
    const WorkerStatus status = worker_.status();
    bool data = false;
    for (size_t i = 0; i < snapshot.size(); i++) {
        data |= snapshot[i].held != seenHeld_[i] || snapshot[i].asked != seenAsked_[i];
        seenHeld_[i] = snapshot[i].held;
        seenAsked_[i] = snapshot[i].asked;
        if (snapshot[i].held)
            lastKnown_[i] = snapshot[i].held;
    }
    const bool board = status.board != board_;
    if (board) {
        board_ = status.board;
        boardSince_ = utcNow();
    }
    if (!status.device.empty())
        lastDevice_ = status.device;
    if (data) {
        version_++;
        lastChange_ = utcNow();
    }
    if (data || board)
        for (const auto &observer : observers_)
            observer();
}

nlohmann::ordered_json Station::currentJson(const Snapshot &snapshot, int field) const
{
    const FieldSnapshot &state = snapshot[field];
    const std::optional<fields::Image> &image = state.asked  ? state.asked
                                                : state.held ? state.held
                                                             : lastKnown_[field];
    if (!image)
        return nullptr;
    const auto shown = shownOrNothing(field, *image, options_.charset);
    if (!shown)
        return nullptr;
    return fields::fieldsToJson({{&RdsUsbFields[field], *shown}}).begin().value();
}

nlohmann::ordered_json Station::afJson(const Snapshot &snapshot) const
{
    const nlohmann::ordered_json count = currentJson(snapshot, Naf);
    if (!count.is_number())
        return nullptr;
    std::string list;
    for (int i = 0; i < std::min(count.get<int>(), RDS_USB_AF_COUNT); i++)
        list.append(list.empty() ? "" : ",")
            .append(valueText(currentJson(snapshot, Af00 + i)).value_or("?"));
    return list;
}

// One entry per field of `asked` whose ask changed since `before`, the AFs and their
// number as one "af"; `textField` with `text` instead of its ask.
void Station::record(const Snapshot &before, const Origin &from, const std::vector<int> &asked,
                     int textField, const std::string &text)
{
    const Snapshot after = fields();
    const std::string time = utcNow();
    const auto add = [&](int field, const std::string &name, const nlohmann::ordered_json &old,
                         const nlohmann::ordered_json &now) {
        Change change{
            time,        name,     jsonText(old), jsonText(now), protocolName(from.protocol),
            from.client, from.user};
        const std::string who = change.door + (from.client.empty() ? "" : " " + from.client) +
                                (from.user.empty() ? "" : " (" + from.user + ")");
        changeLog_.log(who + " " + name,
                       who + ": " + name + " " + logValue(old) + " -> " + logValue(now));
        setBy_[field] = change;
        changes_.add(std::move(change));
    };
    bool afs = false;
    for (const int i : asked) {
        if (before[i].asked == after[i].asked || i == textField)
            continue;
        if (i == Naf || (i >= Af00 && i < Af00 + RDS_USB_AF_COUNT)) {
            afs = true;
            continue;
        }
        add(i, RdsUsbFields[i].Name, currentJson(before, i),
            after[i].asked ? currentJson(after, i) : nlohmann::ordered_json());
    }
    if (afs) {
        const nlohmann::ordered_json now =
            after[Naf].asked ? afJson(after) : nlohmann::ordered_json();
        add(Naf, "af", afJson(before), now);
        for (int i = 0; i < RDS_USB_AF_COUNT; i++)
            setBy_[Af00 + i] = setBy_[Naf];
    }
    if (textField >= 0)
        add(textField, RdsUsbFields[textField].Name, currentJson(before, textField), text);
    if (changes_.unsaved() && !options_.changesFile.empty() && !saveArmed_) {
        saveArmed_ = true;
        saveTimer_.expires_after(std::chrono::seconds(2));
        saveTimer_.async_wait([this](const boost::system::error_code &error) {
            saveArmed_ = false;
            if (!error)
                saveChanges();
        });
    }
}

void Station::saveChanges()
{
    if (options_.changesFile.empty() || !changes_.unsaved())
        return;
    try {
        changes_.save(options_.changesFile);
    } catch (const std::runtime_error &e) {
        logLine(e.what());
    }
}

std::vector<Conflict> Station::conflicts(const nlohmann::ordered_json &seen,
                                         std::vector<Refusal> &refusals) const
{
    const Snapshot snapshot = fields();
    std::vector<Conflict> found;
    for (const auto &[name, value] : seen.items()) {
        const int index = name == "af" ? Naf : fields::fieldIndex(name);
        if (index < 0) {
            refusals.push_back({name, "seen: no field " + name});
            continue;
        }
        nlohmann::ordered_json current =
            name == "af" ? afJson(snapshot) : currentJson(snapshot, index);
        if (!value.is_null() && valueText(value) != valueText(current))
            found.push_back(
                {name, std::move(current), setBy_.count(index) ? setBy_.at(index) : Change{}});
    }
    return found;
}

void Station::flushLogsLater()
{
    std::optional<LogLimiter::Clock::time_point> due = textLog_.due();
    if (const auto budgetDue = budgetLog_.due(); budgetDue && (!due || *budgetDue < *due))
        due = budgetDue;
    if (!due || logFlushArmed_)
        return;
    logFlushArmed_ = true;
    logFlush_.expires_at(*due);
    logFlush_.async_wait([this](const boost::system::error_code &error) {
        if (error)
            return;
        logFlushArmed_ = false;
        textLog_.flush();
        budgetLog_.flush();
        flushLogsLater();
    });
}

void Station::subscribe(std::function<void()> observer)
{
    observers_.push_back(std::move(observer));
}

void Station::check(const std::string &name, const std::string &value, Images &images,
                    std::vector<Refusal> &refusals) const
{
    if (name == "af") {
        checkAfList(value, options_.charset, images, refusals);
        return;
    }
    const int index = fields::fieldIndex(name);
    if (index < 0) {
        refusals.push_back({name, name + ": no such field"});
        return;
    }
    try {
        images.emplace_back(
            index, fields::checkValue(RdsUsbFields[index], value, options_.charset, false).image);
    } catch (const fields::Error &e) {
        refusals.push_back({name, e.message});
    }
}

std::vector<Refusal> Station::set(const std::vector<std::pair<std::string, std::string>> &values,
                                  const Origin &from, const std::vector<std::string> &drops,
                                  Asker asker)
{
    const Snapshot before = fields();
    Images images;
    std::vector<Refusal> refusals;
    for (const auto &[name, value] : values)
        check(name, value, images, refusals);
    std::vector<int> dropped;
    for (const std::string &name : drops) {
        if (name == "af") {
            for (int i = 0; i <= RDS_USB_AF_COUNT; i++)
                dropped.push_back(i < RDS_USB_AF_COUNT ? Af00 + i : Naf);
        } else if (const int index = fields::fieldIndex(name); index >= 0) {
            dropped.push_back(index);
        } else {
            refusals.push_back({name, name + ": no such field"});
        }
    }
    commands_[from.protocol]++;
    refused_[from.protocol] += refusals.size();
    if (refusals.empty()) {
        refusals = ask(images, from, asker);
        if (refusals.empty()) {
            unask(dropped, from);
            std::vector<int> asked = indices(images);
            asked.insert(asked.end(), dropped.begin(), dropped.end());
            record(before, from, asked);
        }
    }
    changed();
    return refusals;
}

fields::SongText Station::song(int field, std::u32string_view text, fields::SongField as,
                               const Origin &from)
{
    fields::SongText song = fields::songText(text, as, options_.charset);
    cut_[from.protocol] += song.cut;
    if (!song.changes.empty()) {
        const std::string where =
            std::string(protocolName(from.protocol)) + ": " + RdsUsbFields[field].Name;
        textLog_.log(where, where + ": " + song.changes);
        flushLogsLater();
    }
    return song;
}

CommandResult Station::command(const std::string &name, const std::string &value,
                               const std::string &store, const Origin &from)
{
    const int index = fields::fieldIndex(name);
    const fields::FieldKind kind =
        index < 0 ? fields::FieldKind::Number : fields::fieldKind(RdsUsbFields[index]);
    const bool text = kind == fields::FieldKind::PsName || kind == fields::FieldKind::RadioText;
    const Snapshot before = fields();
    CommandResult result;
    Images images;
    std::string boardText;
    if (text) {
        const auto as = kind == fields::FieldKind::PsName ? fields::SongField::Ps
                                                          : fields::SongField::RadioText;
        boardText = song(index, fields::decodeUtf8OrCp1252(value), as, from).boardText;
        images.emplace_back(index, fields::textImage(RdsUsbFields[index], boardText));
    } else {
        check(name, value, images, result.refusals);
    }
    commands_[from.protocol]++;
    refused_[from.protocol] += result.refusals.size();
    if (result.refusals.empty())
        result.refusals = ask(images, from);
    if (result.refusals.empty()) {
        std::vector<int> asked = indices(images);
        Images stored;
        const int copy = fields::fieldIndex(store);
        if (copy >= 0 && text)
            stored.emplace_back(copy, fields::textImage(RdsUsbFields[copy], boardText));
        else if (copy >= 0)
            check(store, value, stored, result.unstored);
        if (!stored.empty()) {
            result.unstored = ask(stored, from);
            if (result.unstored.empty())
                asked.push_back(copy);
        }
        record(before, from, asked);
    }
    changed();
    return result;
}

std::vector<Refusal> Station::setImages(const std::vector<std::pair<int, fields::Image>> &images,
                                        const Origin &from)
{
    const Snapshot before = fields();
    commands_[from.protocol]++;
    std::vector<Refusal> refusals = ask(images, from);
    if (refusals.empty())
        record(before, from, indices(images));
    changed();
    return refusals;
}

std::vector<Refusal> Station::ask(const std::vector<std::pair<int, fields::Image>> &images,
                                  const Origin &from, Asker asker)
{
    const bool eeprom = std::any_of(images.begin(), images.end(), [](const auto &asked) {
        return !fields::isRamField(RdsUsbFields[asked.first]);
    });
    if (eeprom) {
        // With the turn's RAM asks before them, in one call: the worker sees
        // them in order (the board copies an EEPROM text into RAM).
        Images all = unsent_;
        all.insert(all.end(), images.begin(), images.end());
        const std::vector<BudgetRefusal> spent = worker_.ask(all, asker);
        if (spent.empty())
            unsent_.clear();
        else
            flushUnsent();
        std::vector<Refusal> refusals;
        for (const BudgetRefusal &refused : spent) {
            refusals.push_back(overBudget(refused));
            const std::string where =
                std::string(protocolName(from.protocol)) + ": " + RdsUsbFields[refused.field].Name;
            budgetLog_.log("budget " + where, where + ": refused: " + refusals.back().message);
        }
        flushLogsLater();
        overBudget_[from.protocol] += refusals.size();
        if (!refusals.empty())
            return refusals;
    }
    for (const auto &[index, image] : images)
        takeOver(index);
    if (!eeprom)
        toWorker(images);
    return {};
}

void Station::flushUnsent()
{
    if (!unsent_.empty())
        worker_.ask(unsent_);
    unsent_.clear();
}

void Station::unask(const std::vector<int> &fields, const Origin &)
{
    if (fields.empty())
        return;
    for (const int index : fields) {
        takeOver(index);
        std::erase_if(unsent_, [index](const auto &ask) { return ask.first == index; });
    }
    worker_.unask(fields);
}

// A RAM PS name asked or dropped ends the scrolling, a RAM RadioText the rotation.
void Station::takeOver(int field)
{
    if (field == RamPs)
        stopScroll();
    if (field == RamRt)
        stopRotation();
}

// Asks of one turn of the event loop (the lines of one read, say) reach the
// worker together, the latest for each field, in the order they were made:
// a burst becomes a few writes.
void Station::toWorker(const std::vector<std::pair<int, fields::Image>> &images)
{
    for (const auto &asked : images) {
        std::erase_if(unsent_, [&asked](const auto &ask) { return ask.first == asked.first; });
        unsent_.push_back(asked);
    }
    if (flushPosted_)
        return;
    flushPosted_ = true;
    boost::asio::post(io_, [this] {
        flushPosted_ = false;
        flushUnsent();
    });
}

void Station::countRefused(const Origin &from)
{
    commands_[from.protocol]++;
    refused_[from.protocol]++;
}

void Station::stopRotation()
{
    rotation_.clear();
    rotationTimer_.cancel();
}

void Station::stopScroll()
{
    scrollText_.clear();
    scrollTimer_.cancel();
}

bool Station::storeRadioText(const fields::Image &text, bool append, int transmissions,
                             const Origin &from)
{
    const fields::Image blank = fields::textImage(RdsUsbFields[RamRt], "");
    if (text.empty() || text == blank) {
        setImages({{RamRt, blank}}, from);
        return true;
    }
    if (!append || rotation_.empty()) {
        setImages({{RamRt, text}}, from); // also ends a rotation
        rotation_.push_back({text, transmissions});
        rotationAt_ = 0;
        return true;
    }
    if (rotation_.size() >= maxBufferedTexts)
        return false; // refused and counted by the caller
    const Snapshot before = fields();
    commands_[from.protocol]++;
    rotation_.push_back({text, transmissions});
    record(before, from, {}, RamRt, shownOrNothing(RamRt, text, options_.charset).value_or(""));
    if (rotation_.size() == 2)
        scheduleRotation();
    changed();
    return true;
}

// The next buffered text on air. A text with a number of transmissions
// leaves the buffer once sent that many turns, while others remain.
void Station::rotate()
{
    if (rotation_.size() < 2)
        return;
    BufferedText &current = rotation_[rotationAt_];
    if (current.transmissions > 0 && --current.transmissions == 0)
        rotation_.erase(rotation_.begin() + static_cast<long>(rotationAt_));
    else
        rotationAt_++;
    rotationAt_ %= rotation_.size();
    toWorker({{RamRt, rotation_[rotationAt_].text}});
    changed();
    if (rotation_.size() >= 2)
        scheduleRotation();
}

void Station::scheduleRotation()
{
    rotationTimer_.expires_after(std::chrono::seconds(options_.rtCycleSeconds));
    rotationTimer_.async_wait([this](const boost::system::error_code &error) {
        if (!error)
            rotate();
    });
}

void Station::scrollPs(std::string_view text, const Origin &from)
{
    const std::string page =
        song(RamPs, fields::decodeUtf8OrCp1252(text), fields::SongField::ScrollingPs, from)
            .boardText;
    const Snapshot before = fields();
    commands_[from.protocol]++;
    if (page.size() <= RDS_USB_PS_LENGTH) {
        ask({{RamPs, fields::textImage(RdsUsbFields[RamPs], page)}}, from);
        record(before, from, {RamPs});
        changed();
        return;
    }
    stopScroll();
    scrollText_ = page;
    scrollText_.resize(
        (page.size() + RDS_USB_PS_LENGTH - 1) / RDS_USB_PS_LENGTH * RDS_USB_PS_LENGTH, ' ');
    scrollAt_ = 0;
    scrollStep();
    record(before, from, {}, RamPs, fields::fromBoardText(page, options_.charset, "scrolling PS"));
}

void Station::scrollStep()
{
    toWorker({{RamPs, fields::textImage(RdsUsbFields[RamPs],
                                        scrollText_.substr(scrollAt_, RDS_USB_PS_LENGTH))}});
    changed();
    scrollAt_ = (scrollAt_ + RDS_USB_PS_LENGTH) % scrollText_.size();
    scrollTimer_.expires_after(std::chrono::seconds(options_.dpsStepSeconds));
    scrollTimer_.async_wait([this](const boost::system::error_code &error) {
        if (!error && !scrollText_.empty())
            scrollStep();
    });
}

void Station::nowPlaying(const NowPlaying &playing, const Origin &from)
{
    const auto utf8 = [](std::string_view bytes) {
        return fields::encodeUtf8(fields::decodeUtf8OrCp1252(bytes));
    };
    std::string text = utf8(playing.text);
    if (text.empty()) {
        const std::string artist = utf8(playing.artist), title = utf8(playing.title);
        if (artist.empty() || title.empty()) {
            text = artist + title;
        } else { // ARTIST and TITLE in the format, each where it first stands
            const std::string format = utf8(options_.nowPlayingFormat);
            const size_t a = format.find("ARTIST"), t = format.find("TITLE");
            for (size_t at = 0; at < format.size();) {
                const bool isArtist = at == a, isTitle = at == t && !isArtist;
                text += isArtist ? artist : isTitle ? title : format.substr(at, 1);
                at += isArtist ? 6 : isTitle ? 5 : 1;
            }
        }
    }
    const std::string line = fields::nowPlayingText(text);
    const std::string onAir =
        song(RamRt, fields::decodeUtf8(line, "now playing"), fields::SongField::RadioText, from)
            .boardText;
    const Snapshot before = fields();
    commands_[from.protocol]++;
    ask({{RamRt, fields::textImage(RdsUsbFields[RamRt], onAir)}}, from);
    record(before, from, {RamRt});
    changed();
}

Snapshot Station::fields() const
{
    Snapshot snapshot = worker_.fields();
    for (const auto &[index, image] : unsent_)
        snapshot[index].asked = image;
    return snapshot;
}

WorkerStatus Station::status() const
{
    WorkerStatus status = worker_.status();
    const Snapshot snapshot = fields();
    status.pendingWrites = static_cast<int>(std::count_if(
        snapshot.begin(), snapshot.end(), [](const FieldSnapshot &f) { return f.pending(); }));
    return status;
}

std::string Station::effective(int field) const
{
    const std::optional<fields::Image> image = fields()[field].effective();
    if (!image)
        return {};
    return shownOrNothing(field, *image, options_.charset).value_or("");
}

nlohmann::ordered_json Station::fieldsJson(Values which) const
{
    const Snapshot snapshot = fields();
    fields::FieldList list;
    for (int i = 0; i < RDS_USB_FIELD_COUNT; i++) {
        const FieldSnapshot &state = snapshot[i];
        const std::optional<fields::Image> &image =
            which == Values::Held        ? state.held
            : which == Values::Asked     ? state.asked
            : which == Values::LastKnown ? (state.held ? std::nullopt : lastKnown_[i])
            : state.pending()            ? state.asked
                                         : std::nullopt;
        if (!image)
            continue;
        if (const auto shown = shownOrNothing(i, *image, options_.charset))
            list.emplace_back(&RdsUsbFields[i], *shown);
    }
    return fields::fieldsToJson(list);
}

nlohmann::ordered_json Station::budgetJson(const WorkerStatus &status) const
{
    const EepromBudget budget(worker_.budgetOptions());
    nlohmann::ordered_json used = nlohmann::ordered_json::object();
    for (const auto &[field, writes] : status.eepromBudgetUsed)
        used[RdsUsbFields[field].Name] = writes;
    uint64_t refused = 0;
    for (const auto &[protocol, count] : overBudget_)
        refused += count;
    return {{"interval_s", budget.options().interval.count()},
            {"per_day", budget.options().perDay},
            {"kept_for_operator", budget.options().perDay > 0
                                      ? budget.limit(Asker::Operator) - budget.limit(Asker::Client)
                                      : 0},
            {"used", used},
            {"refused", refused}};
}

nlohmann::ordered_json Station::statusJson() const
{
    const WorkerStatus status = this->status();
    nlohmann::ordered_json clients = nlohmann::ordered_json::object();
    for (const auto &[listener, count] : clients_)
        clients[listener] = count;
    return {
        {"board", boardStateName(status.board)},
        {"device", status.device},
        {"pending_writes", status.pendingWrites},
        {"eeprom_writes", status.eepromWrites},
        {"eeprom_budget", budgetJson(status)},
        {"requests_sent", status.requestsSent},
        {"requests_failed", status.requestsFailed},
        {"state_unsaved", status.stateUnsaved},
        {"clients", clients},
        {"uptime_s", std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::steady_clock::now() - started_)
                         .count()},
        {"last_change", lastChange_},
        {"version", version_},
        {"quorveld", QUORVEL_VERSION},
        {"board_since", boardSince_},
        {"last_device", lastDevice_},
        {"pty_names", options_.ptyNames},
    };
}

std::string Station::metricsText() const
{
    const WorkerStatus status = this->status();
    std::string commands, refused, cut, clients, overBudget, budgetUsed;
    for (Protocol protocol : AllProtocols) {
        const std::string label = std::string("protocol=\"") + protocolName(protocol) + "\"";
        const auto count = [protocol](const std::map<Protocol, uint64_t> &counts) {
            const auto found = counts.find(protocol);
            return found == counts.end() ? 0 : found->second;
        };
        commands += sample("quorveld_commands_total", count(commands_), label);
        refused += sample("quorveld_refused_values_total", count(refused_), label);
        cut += sample("quorveld_cut_texts_total", count(cut_), label);
        overBudget += sample("quorveld_eeprom_budget_refused_total", count(overBudget_), label);
    }
    for (const auto &[field, writes] : status.eepromBudgetUsed)
        budgetUsed += sample("quorveld_eeprom_budget_used", static_cast<uint64_t>(writes),
                             std::string("field=\"") + RdsUsbFields[field].Name + "\"");
    for (const auto &[listener, count] : clients_)
        clients += sample("quorveld_clients", static_cast<uint64_t>(count),
                          "listener=\"" + listener + "\"");
    return metric("quorveld_board_up", "gauge", "1 while the board is present and answering.",
                  sample("quorveld_board_up", status.board == BoardState::Present)) +
           metric("quorveld_board_requests_total", "counter", "Board requests sent.",
                  sample("quorveld_board_requests_total", status.requestsSent)) +
           metric("quorveld_board_requests_failed_total", "counter", "Board requests that failed.",
                  sample("quorveld_board_requests_failed_total", status.requestsFailed)) +
           metric("quorveld_eeprom_writes_total", "counter",
                  "Write requests to the board's EEPROM.",
                  sample("quorveld_eeprom_writes_total", status.eepromWrites)) +
           metric("quorveld_pending_writes", "gauge", "Fields asked for and not yet on the board.",
                  sample("quorveld_pending_writes", static_cast<uint64_t>(status.pendingWrites))) +
           metric("quorveld_state_unsaved", "gauge",
                  "1 while the state file misses asked values: a save failed, tried again.",
                  sample("quorveld_state_unsaved", status.stateUnsaved)) +
           metric("quorveld_commands_total", "counter", "Commands received, by protocol.",
                  commands) +
           metric("quorveld_refused_values_total", "counter", "Values refused, by protocol.",
                  refused) +
           metric("quorveld_cut_texts_total", "counter",
                  "Song texts cut to the length of their field, by protocol.", cut) +
           metric("quorveld_eeprom_budget_refused_total", "counter",
                  "EEPROM values refused because their field's daily write budget was spent, by "
                  "protocol.",
                  overBudget) +
           (budgetUsed.empty()
                ? ""
                : metric("quorveld_eeprom_budget_used", "gauge",
                         "EEPROM writes counted in the rolling day, by field.", budgetUsed)) +
           (clients.empty()
                ? ""
                : metric("quorveld_clients", "gauge", "Clients connected, by listener.", clients));
}

void Station::setClients(const std::string &listener, int count)
{
    if (count < 0)
        clients_.erase(listener);
    else
        clients_[listener] = count;
}

} // namespace qd
