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

// What conversations read at each frame or line; a reload replaces it whole.
struct ConversationSettings {
    bool asciiOk = false;                   // OK and NO instead of + - !
    std::vector<int> sites{0}, encoders{0}; // the UECP addresses answered
};

// stream: a TCP byte stream; otherwise each call is one datagram.
std::unique_ptr<Conversation> uecpConversation(Station &station, std::shared_ptr<UecpMode> mode,
                                               LiveRef<ConversationSettings> settings, bool stream);
std::unique_ptr<Conversation>
asciiConversation(Station &station, LiveRef<ConversationSettings> settings, bool stream);

} // namespace qd

#endif
