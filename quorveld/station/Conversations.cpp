#include "Conversations.h"

#include "AsciiCommand.h"
#include "AsciiLines.h"
#include "AsciiReply.h"
#include "FieldRows.h"
#include "Log.h"
#include "UecpDeframer.h"
#include "UecpEncode.h"
#include "rds_usb.h"

#include <cstdio>

namespace qd {

namespace {

using namespace fields::row; // RamPs, RamRt, Naf, Af00...

int byteOf(const Snapshot &fields, int index)
{
    const std::optional<fields::Image> &image = fields[index].effective();
    return image && !image->empty() ? static_cast<uint8_t>((*image)[0]) : 0;
}

// The AF codes in use, in order.
std::vector<uint8_t> afCodes(const Snapshot &fields)
{
    std::vector<uint8_t> codes;
    const int count = std::min(byteOf(fields, Naf), RDS_USB_AF_COUNT);
    codes.reserve(count);
    for (int i = 0; i < count; i++)
        codes.push_back(static_cast<uint8_t>(byteOf(fields, Af00 + i)));
    return codes;
}

class UecpConversation : public Conversation {
public:
    UecpConversation(Station &station, LiveRef<ConversationSettings> settings, bool stream)
        : station_(station), settings_(std::move(settings)), stream_(stream)
    {
    }

    uint64_t taken() const override { return taken_; }

    std::string received(std::span<const uint8_t> bytes) override
    {
        std::string replies;
        if (stream_) {
            for (const uecp::Decoded &decoded : deframer_.feed(bytes))
                replies += take(decoded);
        } else {
            replies = take(uecp::decodeDatagram(bytes));
        }
        return replies;
    }

private:
    static std::string text(const std::vector<uint8_t> &bytes)
    {
        return std::string(bytes.begin(), bytes.end());
    }

    std::string take(const uecp::Decoded &decoded)
    {
        taken_++;
        const auto settings = settings_->get();
        if (const auto *error = std::get_if<uecp::FrameError>(&decoded)) {
            station_.countRefused(Origin{Protocol::Uecp, peer});
            logVerbose("UECP frame refused, error " + std::to_string(error->code));
            if (mode_ == 0 ||
                (error->address &&
                 !uecp::addressedTo(*error->address, settings->sites, settings->encoders)))
                return {};
            return text(uecp::ackFrame(0, error->sqc.value_or(0), error->code));
        }
        const auto &frame = std::get<uecp::Frame>(decoded);
        if (!uecp::addressedTo(frame.address, settings->sites, settings->encoders))
            return {};
        const uecp::Message message = uecp::decodeMessage(frame.msg);
        std::string replies;
        uecp::AckCode error = message.error;
        for (const uecp::Command &command : message.commands) {
            if (const auto *request = std::get_if<uecp::Request>(&command))
                replies += answer(*request, frame);
            else if (const uecp::AckCode refused = apply(command);
                     refused != uecp::Ok && error == uecp::Ok)
                error = refused;
        }
        if (error != uecp::Ok)
            station_.countRefused(Origin{Protocol::Uecp, peer});
        if (mode_ != 0)
            replies += text(uecp::ackFrame(0, frame.sqc, error));
        return replies;
    }

    uecp::AckCode apply(const uecp::Command &command)
    {
        const auto set = [this](int index, fields::Image image) {
            station_.setImages({{index, std::move(image)}}, Origin{Protocol::Uecp, peer});
        };
        if (const auto *pi = std::get_if<uecp::Pi>(&command)) {
            // The EEPROM budget's refusal: a message not acceptable now.
            if (!station_.setImages({{Pi, fields::piImage(pi->code)}}, Origin{Protocol::Uecp, peer})
                     .empty())
                return uecp::NotAcceptable;
        } else if (const auto *ps = std::get_if<uecp::Ps>(&command)) {
            set(RamPs, fields::textImage(RdsUsbFields[RamPs], ps->name));
        } else if (const auto *flags = std::get_if<uecp::TaTp>(&command)) {
            station_.setImages(
                {{RamTa, fields::numberImage(flags->ta)}, {RamTp, fields::numberImage(flags->tp)}},
                Origin{Protocol::Uecp, peer});
        } else if (const auto *di = std::get_if<uecp::Di>(&command)) {
            set(RamDi, fields::numberImage(di->bits));
        } else if (const auto *ms = std::get_if<uecp::Ms>(&command)) {
            set(RamMs, fields::numberImage(ms->music));
        } else if (const auto *pty = std::get_if<uecp::Pty>(&command)) {
            set(RamPty, fields::numberImage(pty->code));
        } else if (const auto *rt = std::get_if<uecp::RadioText>(&command)) {
            if (!station_.storeRadioText(rt->text.empty()
                                             ? fields::Image()
                                             : fields::textImage(RdsUsbFields[RamRt], rt->text),
                                         rt->buffer == uecp::RadioText::Buffer::Append,
                                         rt->transmissions, Origin{Protocol::Uecp, peer}))
                return uecp::BufferOverflow;
        } else if (const auto *af = std::get_if<uecp::Af>(&command)) {
            return applyAf(*af);
        } else if (const auto *mode = std::get_if<uecp::CommMode>(&command)) {
            mode_ = mode->mode;
        }
        return uecp::Ok;
    }

    uecp::AckCode applyAf(const uecp::Af &af)
    {
        std::vector<uint8_t> codes =
            af.append ? afCodes(station_.fields()) : std::vector<uint8_t>{};
        codes.insert(codes.end(), af.codes.begin(), af.codes.end());
        if (codes.size() > RDS_USB_AF_COUNT)
            return uecp::OutOfRange;
        std::vector<std::pair<int, fields::Image>> images;
        for (size_t i = 0; i < codes.size(); i++)
            images.emplace_back(Af00 + static_cast<int>(i),
                                fields::Image(1, static_cast<char>(codes[i])));
        images.emplace_back(Naf, fields::numberImage(static_cast<int>(codes.size())));
        return station_.setImages(images, Origin{Protocol::Uecp, peer}).empty()
                   ? uecp::Ok
                   : uecp::NotAcceptable;
    }

    // The requested element in its set form, in a frame answering this one.
    std::string answer(const uecp::Request &request, const uecp::Frame &asked)
    {
        const Snapshot fields = station_.fields();
        const auto bytes = [&fields](int index) { return fields[index].effective().value_or(""); };
        std::optional<uecp::Command> element;
        switch (request.mec) {
        case uecp::MecPi: {
            const fields::Image pi = bytes(Pi);
            if (pi.size() == 2)
                element = uecp::Pi{static_cast<uint16_t>(static_cast<uint8_t>(pi[0]) << 8 |
                                                         static_cast<uint8_t>(pi[1]))};
            break;
        }
        case uecp::MecPs: element = uecp::Ps{bytes(RamPs)}; break;
        case uecp::MecTaTp:
            element = uecp::TaTp{byteOf(fields, RamTa) != 0, byteOf(fields, RamTp) != 0};
            break;
        case uecp::MecDi: element = uecp::Di{static_cast<uint8_t>(byteOf(fields, RamDi))}; break;
        case uecp::MecMs: element = uecp::Ms{byteOf(fields, RamMs) != 0}; break;
        case uecp::MecPty: element = uecp::Pty{static_cast<uint8_t>(byteOf(fields, RamPty))}; break;
        case uecp::MecRadioText: {
            fields::Image rt = bytes(RamRt);
            rt.erase(std::min(rt.find('\r'), rt.size()));
            element = uecp::RadioText{uecp::RadioText::Buffer::Flush, 0, false, rt};
            break;
        }
        case uecp::MecAf: element = uecp::Af{afCodes(fields), false}; break;
        default: break;
        }
        if (!element)
            return mode_ == 0 ? "" : text(uecp::ackFrame(0, asked.sqc, uecp::NotAcceptable));
        return text(uecp::encodeFrame({0, asked.sqc, uecp::encodeElement(*element)}));
    }

    Station &station_;
    const LiveRef<ConversationSettings> settings_;
    bool stream_;
    uecp::StreamDeframer deframer_;
    int mode_ = 0;       // this client's communication mode
    uint64_t taken_ = 0; // frames, whole or refused
};

class AsciiConversation : public Conversation {
public:
    AsciiConversation(Station &station, LiveRef<ConversationSettings> settings, bool stream)
        : station_(station), settings_(std::move(settings)), stream_(stream)
    {
    }

    std::string received(std::span<const uint8_t> bytes) override
    {
        std::vector<ascii::Line> lines = splitter_.feed(
            std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
        if (!stream_)
            if (std::optional<ascii::Line> last = splitter_.finish())
                lines.push_back(std::move(*last));
        std::string replies;
        for (const ascii::Line &line : lines) {
            taken_ += !line.tooLong;
            replies += line.tooLong ? reply(ascii::Outcome::Refused) : take(line.text);
        }
        return replies;
    }

    uint64_t taken() const override { return taken_; }

    void ended() override
    {
        if (std::optional<ascii::Line> last = splitter_.finish(); last && !last->tooLong)
            take(last->text);
    }

private:
    std::string reply(ascii::Outcome outcome) const
    {
        const bool ok = settings_->get()->asciiOk;
        return ascii::reply(outcome, ok ? ascii::Style::Ok : ascii::Style::Plus);
    }

    std::string take(const std::string &line)
    {
        const ascii::Command command = ascii::parseLine(line);
        if (std::holds_alternative<ascii::Empty>(command))
            return {};
        logVerbose("ASCII " + line);
        if (const auto *set = std::get_if<ascii::Set>(&command)) {
            if (set->name != "af" && fields::fieldIndex(set->name) < 0)
                return unknown();
            return outcome(
                station_.command(set->name, set->value, set->store, Origin{Protocol::Ascii, peer}));
        }
        if (const auto *scroll = std::get_if<ascii::Scroll>(&command)) {
            station_.scrollPs(scroll->text, Origin{Protocol::Ascii, peer});
            return reply(ascii::Outcome::Done);
        }
        if (const auto *query = std::get_if<ascii::Query>(&command)) {
            // Answered under the name as it was asked.
            const std::string asked = line.substr(0, line.find('?'));
            if (query->name == "af")
                return ascii::answer(asked, afList());
            const int index = fields::fieldIndex(query->name);
            return index < 0 ? unknown() : ascii::answer(asked, station_.effective(index));
        }
        if (std::holds_alternative<ascii::QueryAll>(command)) {
            std::string all;
            for (int i = 0; i < RDS_USB_FIELD_COUNT; i++)
                all += ascii::answer(RdsUsbFields[i].Name, station_.effective(i));
            return all;
        }
        if (std::holds_alternative<ascii::Status>(command)) {
            const WorkerStatus status = station_.status();
            return ascii::answer("STATUS",
                                 std::string(boardStateName(status.board)) +
                                     ",pending=" + std::to_string(status.pendingWrites) +
                                     ",eeprom_writes=" + std::to_string(status.eepromWrites));
        }
        return unknown();
    }

    std::string unknown()
    {
        station_.countRefused(Origin{Protocol::Ascii, peer});
        return reply(ascii::Outcome::Unknown);
    }

    std::string outcome(const CommandResult &result)
    {
        for (const auto *refusals : {&result.refusals, &result.unstored})
            for (const Refusal &refusal : *refusals)
                logVerbose(refusal.message);
        return reply(!result.refusals.empty()   ? ascii::Outcome::Refused
                     : !result.unstored.empty() ? ascii::Outcome::Partly
                                                : ascii::Outcome::Done);
    }

    // The AFs in use, in MHz.
    std::string afList() const
    {
        std::string list;
        const int count = std::min(std::atoi(station_.effective(Naf).c_str()), RDS_USB_AF_COUNT);
        for (int i = 0; i < count; i++) {
            if (i > 0)
                list += ',';
            list += station_.effective(Af00 + i);
        }
        return list;
    }

    Station &station_;
    const LiveRef<ConversationSettings> settings_;
    bool stream_;
    ascii::LineSplitter splitter_;
    uint64_t taken_ = 0; // complete lines
};

} // namespace

std::unique_ptr<Conversation> uecpConversation(Station &station,
                                               LiveRef<ConversationSettings> settings, bool stream)
{
    return std::make_unique<UecpConversation>(station, std::move(settings), stream);
}

std::unique_ptr<Conversation> asciiConversation(Station &station,
                                                LiveRef<ConversationSettings> settings, bool stream)
{
    return std::make_unique<AsciiConversation>(station, std::move(settings), stream);
}

} // namespace qd
