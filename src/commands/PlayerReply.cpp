// SPDX-License-Identifier: MIT
#include "commands/PlayerReply.h"

#include <memory>
#include <optional>

namespace zelvor {

LineEnd playerMissing()
{
    return {std::string(kFailureLine), PromptSelector::PlayerMissing};
}

LineEnd replied(std::string reply)
{
    return {std::move(reply), PromptSelector::Command};
}

namespace {

std::string_view featureWord(Feature feature)
{
    switch (feature) {
    case Feature::Shuffle:
        return "Shuffle";
    case Feature::Repeat:
        return "Repeat";
    case Feature::Volume:
        return "Volume";
    case Feature::Clear:
        return "Clear";
    case Feature::Close:
        return "Close";
    case Feature::Command:
        break;
    }
    return "Command";
}

} // namespace

LineEnd endOf(const PlayerAnswer& answer, Feature feature)
{
    switch (answer.outcome) {
    case Outcome::Done:
        return {};
    case Outcome::NotOffered:
        return replied("\r\n" + std::string(featureWord(feature)) + " not available");
    case Outcome::NoPlayer:
    case Outcome::Failed:
        break;
    }
    return playerMissing();
}

PromptSelector replyWhenDone(CommandContext& context, const std::function<void(LineDone)>& work)
{
    struct Ending
    {
        std::optional<LineEnd> atOnce;
        LateReply late;
    };
    auto ending = std::make_shared<Ending>();
    Player& player = context.player;
    // The line's end closes the bracket once the player has answered.
    player.beginCommandLine();
    work([ending, &player](LineEnd end) {
        // The client hears first; the next line's input waits for the event loop anyway.
        if (ending->late)
            ending->late(end.reply, end.selector);
        else
            ending->atOnce = std::move(end);
        player.endCommandLine();
    });
    if (ending->atOnce) {
        if (!ending->atOnce->reply.empty())
            context.connection.send(ending->atOnce->reply);
        return ending->atOnce->selector;
    }
    ending->late = context.host.deferReply();
    return PromptSelector::Pending;
}

} // namespace zelvor
