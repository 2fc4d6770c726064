// SPDX-License-Identifier: MIT
#pragma once

#include "player/Player.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace zelvor {

/**
 * The followers of one backend's changes. A watch that ends removes itself, also after the
 * backend is gone; onWatched hears when the first follower comes (true) and the last goes
 * (false).
 */
class ChangeWatchers
{
public:
    ChangeWatchers() { m_state->owner = this; }
    ~ChangeWatchers() { m_state->owner = nullptr; }
    ChangeWatchers(const ChangeWatchers&) = delete;
    ChangeWatchers& operator=(const ChangeWatchers&) = delete;

    std::function<void(bool watched)> onWatched;

    std::unique_ptr<PlayerWatch> add(std::function<void()> changed)
    {
        const auto id = m_state->next++;
        m_state->changed.emplace(id, std::move(changed));
        if (m_state->changed.size() == 1 && onWatched)
            onWatched(true);
        return std::make_unique<Watch>(m_state, id);
    }

    bool empty() const { return m_state->changed.empty(); }

    /** Tells every follower; one may end its watch, or another's, from within. */
    void notify()
    {
        std::vector<std::uint64_t> ids;
        for (const auto& [id, changed] : m_state->changed)
            ids.push_back(id);
        for (const auto id : ids) {
            const auto found = m_state->changed.find(id);
            if (found == m_state->changed.end())
                continue;
            const auto changed = found->second;
            changed();
        }
    }

private:
    struct State
    {
        std::map<std::uint64_t, std::function<void()>> changed;
        std::uint64_t next = 1;
        ChangeWatchers* owner = nullptr;
    };
    struct Watch : PlayerWatch
    {
        Watch(std::shared_ptr<State> held, std::uint64_t watchId)
            : state(std::move(held)), id(watchId)
        {}
        ~Watch() override
        {
            state->changed.erase(id);
            if (state->changed.empty() && state->owner != nullptr && state->owner->onWatched)
                state->owner->onWatched(false);
        }
        std::shared_ptr<State> state;
        std::uint64_t id;
    };

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace zelvor
