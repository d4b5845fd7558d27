// What a client of each protocol says, turned into the station's commands,
// and the replies it gets.
#ifndef QUORVELD_CONVERSATIONS_H
#define QUORVELD_CONVERSATIONS_H

#include "Listeners.h"
#include "Station.h"

#include <memory>
#include <vector>

namespace qd {

// The encoder's UECP communication mode (element 0x2C), shared by every
// client: 0 one-way (no replies), 1 and 2 an acknowledgement per frame.
struct UecpMode {
    int mode = 0;
};

struct UecpAddresses {
    const std::vector<int> &sites;
    const std::vector<int> &encoders;
};

// stream: a TCP byte stream; otherwise each call is one datagram.
std::unique_ptr<Conversation> uecpConversation(Station &station, UecpMode &mode,
                                               UecpAddresses addresses, bool stream);
// okReplies: OK and NO instead of + - !.
std::unique_ptr<Conversation> asciiConversation(Station &station, const bool &okReplies,
                                                bool stream);

} // namespace qd

#endif
