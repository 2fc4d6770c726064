// SPDX-License-Identifier: MIT
#include "commands/PlayerVerbs.h"

#include "Printable.h"

#include <algorithm>
#include <cstdio>

namespace zelvor {

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool allDigits(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits as a number, saturated far above any value that is accepted.
std::uint64_t digitsValue(std::string_view digits)
{
    std::uint64_t value = 0;
    for (const char c : digits)
        value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(c - '0'), 1ULL << 40);
    return value;
}

std::string_view stateWord(PlayState state)
{
    switch (state) {
    case PlayState::Playing:
        return "Playing";
    case PlayState::Paused:
        return "Paused";
    case PlayState::Stopped:
    case PlayState::Unknown:
        break;
    }
    return "Stopped";
}

constexpr std::string_view kNoQueue = "\r\nQueue not available: the player shows none";

std::string noEntry(std::string_view typed, std::uint32_t count)
{
    return "\r\nNo entry " + std::string(typed) + " (" + std::to_string(count) + " queued)";
}

} // namespace

std::string formatPlayTime(std::uint32_t milliseconds)
{
    const std::uint32_t seconds = milliseconds / 1000;
    char text[32];
    if (seconds < 3600)
        std::snprintf(text, sizeof text, "%u:%02u", seconds / 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    return text;
}

std::string nowPlayingLine(const PlayerStatus& status)
{
    if (!status.queueKnown && !status.position)
        return "Nothing playing";
    if (status.queueKnown && status.queueLength == 0)
        return "Nothing queued";
    if (!status.position)
        return "Stopped: " + std::to_string(status.queueLength) + " queued";
    // A player without a queue to show has no place in it to tell.
    const std::string place = status.queueKnown ? std::to_string(*status.position + 1) + "/" +
                                                      std::to_string(status.queueLength) + " "
                                                : std::string();
    // A player that tells neither a title nor a file name leaves the name out.
    const std::string name = status.title.empty() ? std::string() : printable(status.title) + " ";
    std::string line = std::string(stateWord(status.state)) + ": " + place + name + "(" +
                       formatPlayTime(status.elapsedMs);
    if (status.totalMs)
        line += "/" + formatPlayTime(*status.totalMs);
    return line + ")";
}

std::optional<std::uint32_t> parseEntryNumber(std::string_view text)
{
    const auto digits = trimmed(text);
    if (!allDigits(digits))
        return std::nullopt;
    const auto value = digitsValue(digits);
    if (value == 0 || value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<VolumeChange> parseVolumeChange(std::string_view text)
{
    auto value = trimmed(text);
    VolumeChange change;
    int sign = 1;
    if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
        change.relative = true;
        sign = value.front() == '-' ? -1 : 1;
        value.remove_prefix(1);
    }
    if (!allDigits(value))
        return std::nullopt;
    const auto amount = digitsValue(value);
    if (!change.relative && amount > 100)
        return std::nullopt;
    change.value = sign * static_cast<int>(std::min<std::uint64_t>(amount, 100));
    return change;
}

std::optional<SeekTarget> parseSeekTarget(std::string_view text)
{
    auto value = trimmed(text);
    SeekTarget target;
    if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
        target.direction = value.front() == '-' ? -1 : 1;
        value.remove_prefix(1);
    }
    // Seconds, m:ss or h:mm:ss: the parts after the first have two digits below 60.
    std::uint64_t seconds = 0;
    for (int part = 0;; ++part) {
        const auto colon = value.find(':');
        const auto digits = value.substr(0, colon);
        if (part > 2 || !allDigits(digits) ||
            (part > 0 && (digits.size() != 2 || digitsValue(digits) >= 60)))
            return std::nullopt;
        seconds = std::min<std::uint64_t>(seconds * 60 + digitsValue(digits), 1ULL << 40);
        if (colon == std::string_view::npos)
            break;
        value.remove_prefix(colon + 1);
    }
    target.milliseconds = seconds * 1000;
    return target;
}

namespace {

// The status of an answer that carries one; nothing when the player did not answer.
const PlayerStatus* statusOf(const PlayerAnswer& answer)
{
    return answer.done() && answer.status ? &*answer.status : nullptr;
}

bool isPlaying(PlayState state)
{
    return state == PlayState::Playing || state == PlayState::Paused;
}

std::string queueListing(const PlayerAnswer& page, std::uint32_t first, const std::string& typed)
{
    const PlayerStatus& status = *page.status;
    if (!status.queueKnown)
        return std::string(kNoQueue);
    const std::uint32_t count = status.queueLength;
    if (count == 0 || page.entries.empty())
        return count == 0 ? std::string("\r\nNothing queued")
                          : noEntry(typed.empty() ? std::to_string(first) : typed, count);
    const std::size_t width = std::to_string(count).size();
    std::string reply;
    for (const auto& entry : page.entries) {
        const std::string shown = std::to_string(entry.position + 1);
        reply += "\r\n";
        reply += status.position == entry.position ? '>' : ' ';
        reply.append(width - std::min(width, shown.size()), ' ');
        reply += shown + " " + printable(entry.title);
    }
    reply += "\r\n(" + std::to_string(first) + "-" +
             std::to_string(page.entries.back().position + 1) + " of " + std::to_string(count) +
             ")";
    return reply;
}

// The page from the 1-based entry first on.
void queuePage(Player& player, std::uint32_t first, std::string typed, LineDone done)
{
    player.queue(first - 1, kQueuePage,
                 [first, typed = std::move(typed), done = std::move(done)](PlayerAnswer page) {
                     if (!statusOf(page))
                         return done(playerMissing());
                     done(replied(queueListing(page, first, typed)));
                 });
}

std::string volumeLine(const PlayerStatus& status)
{
    return status.volume ? "\r\nVolume: " + std::to_string(*status.volume) + "%"
                         : std::string("\r\nVolume not available");
}

// Goes on with the status an answer carries and the line's end; ends the line with the failure
// line when there is no status.
template <typename Then> PlayerDone onStatus(LineDone done, Then then)
{
    return [done = std::move(done), then = std::move(then)](PlayerAnswer answer) {
        const PlayerStatus* status = statusOf(answer);
        if (!status)
            return done(playerMissing());
        then(*status, done);
    };
}

// A reply made from the status an answer carries, or the failure line.
template <typename Reply> PlayerDone withStatus(LineDone done, Reply reply)
{
    return onStatus(std::move(done),
                    [reply = std::move(reply)](const PlayerStatus& status, const LineDone& ended) {
                        ended(replied(reply(status)));
                    });
}

} // namespace

void nowPlaying(Player& player, std::string_view, LineDone done)
{
    player.status(withStatus(std::move(done), [](const PlayerStatus& status) {
        return "\r\n" + nowPlayingLine(status);
    }));
}

void followNowPlaying(Player& player, FollowStart start, LineDone done)
{
    player.status(onStatus(std::move(done), [start = std::move(start)](const PlayerStatus& status,
                                                                       const LineDone& ended) {
        start(status);
        ended({"\r\n" + nowPlayingLine(status), PromptSelector::Following});
    }));
}

void showQueue(Player& player, std::string_view argument, LineDone done)
{
    std::string typed(nameOf(argument));
    const auto number = parseEntryNumber(typed);
    if (!typed.empty() && number) {
        queuePage(player, *number, std::move(typed), std::move(done));
        return;
    }
    player.status(onStatus(std::move(done), [&player, typed = std::move(typed)](
                                                const PlayerStatus& status, const LineDone& ended) {
        if (!status.queueKnown || status.queueLength == 0 || !typed.empty())
            return ended(replied(queueListing(PlayerAnswer::with(status), 0, typed)));
        // Five entries of what went before the current one, then what comes next.
        const std::uint32_t first =
            status.position && *status.position >= 5 ? *status.position - 4 : 1;
        queuePage(player, first, typed, ended);
    }));
}

void gotoEntry(Player& player, std::string_view argument, LineDone done)
{
    std::string typed(nameOf(argument));
    if (trimmed(typed).empty()) {
        done(replied("\r\nusage: goto <number>"));
        return;
    }
    const auto number = parseEntryNumber(typed);
    auto reply = withStatus(std::move(done), [number, typed](const PlayerStatus& after) {
        if (!after.queueKnown)
            return std::string(kNoQueue);
        if (!number || *number > after.queueLength)
            return noEntry(typed, after.queueLength);
        return "\r\n" + nowPlayingLine(after);
    });
    // The player refuses an entry past its queue's end, and answers with its status anyway.
    if (number)
        player.jumpTo(*number - 1, std::move(reply));
    else
        player.status(std::move(reply));
}

void changeVolume(Player& player, std::string_view argument, LineDone done)
{
    const auto typed = nameOf(argument);
    if (trimmed(typed).empty()) {
        player.status(withStatus(std::move(done), volumeLine));
        return;
    }
    const auto change = parseVolumeChange(typed);
    if (!change) {
        done(replied("\r\nusage: vol [0-100|+n|-n]"));
        return;
    }
    if (!change->relative) {
        // Read back: what the player took, which may differ by its own rounding.
        player.setVolume(change->value, withStatus(std::move(done), volumeLine));
        return;
    }
    player.status(onStatus(std::move(done), [&player, step = change->value](
                                                const PlayerStatus& status, const LineDone& ended) {
        if (!status.volume)
            return ended(replied(volumeLine(status)));
        player.setVolume(std::clamp(*status.volume + step, 0, 100), withStatus(ended, volumeLine));
    }));
}

void seekWithinSong(Player& player, std::string_view argument, LineDone done)
{
    const auto target = parseSeekTarget(nameOf(argument));
    if (!target) {
        done(replied("\r\nusage: seek [+|-]<seconds or m:ss>"));
        return;
    }
    player.status(onStatus(std::move(done), [&player, target = *target](const PlayerStatus& status,
                                                                        const LineDone& ended) {
        if (!isPlaying(status.state) || !status.position)
            return ended(replied("\r\nNothing playing"));
        if (!status.canSeek)
            return ended(replied("\r\nSeek not available"));
        std::int64_t wanted = static_cast<std::int64_t>(target.milliseconds);
        if (target.direction != 0)
            wanted = status.elapsedMs + target.direction * wanted;
        // The last second at most: a seek to the very end would skip to the next song.
        const std::int64_t latest =
            status.totalMs ? std::max<std::int64_t>(std::int64_t{*status.totalMs} - 1000, 0)
                           : std::int64_t{UINT32_MAX};
        wanted = std::clamp<std::int64_t>(wanted, 0, latest);
        auto reply = withStatus(
            ended, [](const PlayerStatus& after) { return "\r\n" + nowPlayingLine(after); });
        // A relative move goes as one, where the player has one.
        if (target.direction != 0)
            player.seekBy(wanted - status.elapsedMs, static_cast<std::uint32_t>(wanted),
                          std::move(reply));
        else
            player.seekTo(static_cast<std::uint32_t>(wanted), std::move(reply));
    }));
}

void sleepTimer(CommandContext& context, std::string_view argument)
{
    const auto typed = trimmed(nameOf(argument));
    if (typed == "off") {
        context.host.cancelSleepTimer();
    } else if (!typed.empty()) {
        const auto minutes = allDigits(typed) ? digitsValue(typed) : 0;
        if (minutes < 1 || minutes > static_cast<std::uint64_t>(kMaxSleep.count())) {
            context.connection.send("\r\nusage: sleep [minutes|off]");
            return;
        }
        context.host.startSleepTimer(std::chrono::minutes(minutes));
    }
    const auto left = context.host.sleepTimeLeft();
    if (!left) {
        context.connection.send("\r\nSleep timer: off");
        return;
    }
    const auto minutesLeft = (left->count() + 59999) / 60000;
    context.connection.send("\r\nSleep timer: " + std::to_string(minutesLeft) + " min left");
}

} // namespace zelvor
