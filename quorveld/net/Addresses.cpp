#include "Addresses.h"

namespace qd {

std::string ListenAddress::text() const
{
    std::string text = address.to_string();
    if (address.is_v6())
        text.insert(0, 1, '[').push_back(']');
    text += ':';
    return text.append(std::to_string(port));
}

bool AddressBlock::contains(const boost::asio::ip::address &address) const
{
    boost::asio::ip::address a = address;
    if (a.is_v6() && a.to_v6().is_v4_mapped())
        a = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, a.to_v6());
    if (a.is_v4() != network.is_v4())
        return false;
    const auto bytesOf = [](const boost::asio::ip::address &x) {
        if (x.is_v4()) {
            const auto bytes = x.to_v4().to_bytes();
            return std::vector<unsigned char>(bytes.begin(), bytes.end());
        }
        const auto bytes = x.to_v6().to_bytes();
        return std::vector<unsigned char>(bytes.begin(), bytes.end());
    };
    const std::vector<unsigned char> mine = bytesOf(network), theirs = bytesOf(a);
    for (int bit = 0; bit < prefix; bit++) {
        const unsigned char mask = static_cast<unsigned char>(0x80 >> (bit % 8));
        if ((mine[bit / 8] & mask) != (theirs[bit / 8] & mask))
            return false;
    }
    return true;
}

bool allowed(const std::vector<AddressBlock> &allow, const boost::asio::ip::address &address)
{
    if (allow.empty())
        return true;
    for (const AddressBlock &block : allow)
        if (block.contains(address))
            return true;
    return false;
}

std::vector<AddressBlock> loopbackBlocks()
{
    return {{boost::asio::ip::make_address("127.0.0.0"), 8},
            {boost::asio::ip::address_v6::loopback(), 128}};
}

} // namespace qd
