// SPDX-License-Identifier: MIT
#include "server/LoginPenalties.h"

#include <algorithm>

namespace zelvor {

LoginPenalties::~LoginPenalties()
{
    for (const auto& [address, entry] : m_entries)
        m_scheduler.cancel(entry.timer);
}

std::chrono::seconds LoginPenalties::punish(const std::string& address)
{
    if (m_entries.find(address) == m_entries.end())
        makeRoom();
    Entry& entry = m_entries[address];
    m_scheduler.cancel(entry.timer);
    entry.failures = std::min(entry.failures + 1, 16U);
    entry.refusing = true;
    entry.order = m_next++;
    const std::chrono::seconds penalty = std::min<std::chrono::seconds>(
        kFirstPenalty * (1 << (entry.failures - 1)), kLongestPenalty);
    entry.timer = m_scheduler.after(penalty, [this, address] {
        Entry& ended = m_entries[address];
        ended.refusing = false;
        ended.timer =
            m_scheduler.after(kLongestPenalty, [this, address] { m_entries.erase(address); });
    });
    return penalty;
}

bool LoginPenalties::refuses(const std::string& address) const
{
    const auto it = m_entries.find(address);
    return it != m_entries.end() && it->second.refusing;
}

void LoginPenalties::forgive(const std::string& address)
{
    const auto it = m_entries.find(address);
    if (it == m_entries.end())
        return;
    m_scheduler.cancel(it->second.timer);
    m_entries.erase(it);
}

void LoginPenalties::makeRoom()
{
    if (m_entries.size() < kMaxPenalizedAddresses)
        return;
    // Many addresses at once: those no longer refused go first, the oldest of them first.
    auto victim = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (victim == m_entries.end() || it->second.refusing < victim->second.refusing ||
            (it->second.refusing == victim->second.refusing &&
             it->second.order < victim->second.order))
            victim = it;
    }
    m_scheduler.cancel(victim->second.timer);
    m_entries.erase(victim);
}

} // namespace zelvor
