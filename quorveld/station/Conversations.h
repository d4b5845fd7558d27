// What a client of each protocol says, turned into the station's commands,
// and the replies it gets.
#ifndef QUORVELD_CONVERSATIONS_H
#define QUORVELD_CONVERSATIONS_H

#include "Listeners.h"
#include "Station.h"

#include <memory>
#include <vector>

namespace qd {

// What conversations read at each frame or line; a reload replaces it whole.
struct ConversationSettings {
    bool asciiOk = false;                   // OK and NO instead of + - !
    std::vector<int> sites{0}, encoders{0}; // the UECP addresses answered
};

// stream: a TCP byte stream; otherwise each call is one datagram. A UECP
// conversation keeps its own communication mode (element 0x2C): 0 one-way
// (no replies, the start), 1 and 2 an acknowledgement per frame.
std::unique_ptr<Conversation> uecpConversation(Station &station,
                                               LiveRef<ConversationSettings> settings, bool stream);
std::unique_ptr<Conversation>
asciiConversation(Station &station, LiveRef<ConversationSettings> settings, bool stream);

} // namespace qd

#endif
