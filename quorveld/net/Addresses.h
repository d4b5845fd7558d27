// Where a listener listens, and which clients it takes.
#ifndef QUORVELD_ADDRESSES_H
#define QUORVELD_ADDRESSES_H

#include <boost/asio/ip/address.hpp>

#include <string>
#include <vector>

namespace qd {

// ADDR:PORT, [ADDR]:PORT for IPv6; numeric addresses only.
struct ListenAddress {
    boost::asio::ip::address address;
    unsigned short port = 0;
    std::string text() const; // 127.0.0.1:4001, [::1]:4001
    bool operator==(const ListenAddress &) const = default;
};

// An address block: 192.168.1.0/24, ::1/128, or one address.
struct AddressBlock {
    boost::asio::ip::address network;
    int prefix = 0;
    bool contains(const boost::asio::ip::address &address) const;
    bool operator==(const AddressBlock &) const = default;
};

// Whether a client's address is in one of the blocks; any is, when there are none.
bool allowed(const std::vector<AddressBlock> &allow, const boost::asio::ip::address &address);

// 127.0.0.0/8 and ::1.
std::vector<AddressBlock> loopbackBlocks();

} // namespace qd

#endif
