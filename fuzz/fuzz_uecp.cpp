// The UECP decoders: the input read as one datagram, as one message, and as a
// TCP stream cut in chunks whose sizes come from its last bytes. Cutting the
// stream changes nothing; every frame taken encodes back to itself, and every
// element taken to a set form that decodes to it.
#include "FuzzUsb.h"
#include "UecpDeframer.h"
#include "UecpEncode.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace uecp;

namespace {

void checkMessage(const Message &message)
{
    for (const Command &command : message.commands) {
        const Message back = decodeMessage(encodeElement(command));
        fuzzusb::check(back.error == Ok && back.commands == std::vector{command});
    }
}

void checkDecoded(const Decoded &decoded)
{
    if (const auto *error = std::get_if<FrameError>(&decoded)) {
        const AckCode code = error->code;
        fuzzusb::check(code == CrcError || code == BadFrameLength || code == EndMissing ||
                       code == BadStuffing || code == UnexpectedEnd);
        return;
    }
    const Frame &frame = std::get<Frame>(decoded);
    fuzzusb::check(frame.msg.size() <= maxMessage);
    const std::vector<uint8_t> bytes = encodeFrame(frame);
    fuzzusb::check(decodeDatagram(bytes) == decoded);
    StreamDeframer deframer;
    fuzzusb::check(deframer.feed(bytes) == std::vector{decoded});
    checkMessage(decodeMessage(frame.msg));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> input(data, size);
    checkDecoded(decodeDatagram(input));
    checkMessage(decodeMessage(input));

    FuzzedDataProvider provider(data, size);
    StreamDeframer chunked;
    std::vector<Decoded> decoded;
    std::vector<uint8_t> stream;
    while (provider.remaining_bytes() > 0) {
        const size_t length = provider.ConsumeIntegralInRange(1, 600);
        const std::vector<uint8_t> chunk = provider.ConsumeBytes<uint8_t>(length);
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        for (Decoded &d : chunked.feed(chunk))
            decoded.push_back(std::move(d));
    }
    StreamDeframer whole;
    fuzzusb::check(whole.feed(stream) == decoded);
    for (const Decoded &d : decoded)
        checkDecoded(d);
    return 0;
}
