// SPDX-License-Identifier: MIT
#include "server/InputFlow.h"

#include "server/Winsock.h"

namespace zelvor {

InputFlow::Next InputFlow::deliver(ConnectionEvents& server, FlowSocket& socket)
{
    while (!m_input.empty()) {
        const std::size_t used = server.Winsock1_DataArrival(m_id, m_input);
        if (!socket.stillOpen())
            return Next::Gone;
        socket.flushReplies();
        m_input.erase(0, used);
        if (overBacklog(socket.backlog())) {
            m_reading = false;
            return Next::Stall;
        }
        if (used == 0) {
            m_held = server.waitsForReply(m_id);
            break;
        }
    }
    return Next::Read;
}

InputFlow::Next InputFlow::sent(std::int64_t backlog)
{
    if (m_reading)
        return Next::Read;
    if (backlog >= kSendBacklogLow) {
        // The client is taking its replies, if slowly: it is not stuck.
        return Next::Stall;
    }
    m_reading = true;
    return Next::Resume;
}

} // namespace zelvor
