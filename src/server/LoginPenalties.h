// SPDX-License-Identifier: MIT
#pragma once

#include "server/Scheduler.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace zelvor {

/** The first penalty of an address whose login failed; each further failure doubles it... */
inline constexpr std::chrono::seconds kFirstPenalty{2};
/** ...up to this. */
inline constexpr std::chrono::seconds kLongestPenalty{10 * 60};
/** The most addresses remembered at once; the oldest one no longer refused makes room. */
inline constexpr std::size_t kMaxPenalizedAddresses = 4096;

/**
 * Addresses refused for a while because a login from them failed or timed out. A penalty
 * starts at kFirstPenalty and doubles with every failure up to kLongestPenalty; the failures
 * are remembered for kLongestPenalty after the penalty has run out, and a successful login
 * forgets them at once.
 */
class LoginPenalties
{
public:
    explicit LoginPenalties(Scheduler& scheduler) : m_scheduler(scheduler) {}
    ~LoginPenalties();
    LoginPenalties(const LoginPenalties&) = delete;
    LoginPenalties& operator=(const LoginPenalties&) = delete;

    /** A login from the address failed: starts its next penalty and returns its length. */
    std::chrono::seconds punish(const std::string& address);
    /** True while the address serves a penalty. */
    bool refuses(const std::string& address) const;
    /** A login from the address succeeded. */
    void forgive(const std::string& address);
    std::size_t remembered() const { return m_entries.size(); }

private:
    struct Entry
    {
        unsigned failures = 0;
        bool refusing = false;
        /** Ends the penalty, or, once it has ended, forgets the address. */
        Scheduler::TimerId timer = 0;
        std::uint64_t order = 0;
    };

    void makeRoom();

    Scheduler& m_scheduler;
    std::map<std::string, Entry> m_entries;
    std::uint64_t m_next = 0;
};

} // namespace zelvor
