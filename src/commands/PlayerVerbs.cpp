// SPDX-License-Identifier: MIT
#include "commands/PlayerVerbs.h"

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

// A title as the client is shown it: control bytes would act on the client's terminal.
std::string printable(std::string_view text)
{
    std::string shown(text);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = '?';
    }
    return shown;
}

std::string_view stateWord(PlayState state)
{
    switch (state) {
    case PlayState::Playing:
        return "Playing";
    case PlayState::Paused:
        return "Paused";
    case PlayState::Stopped:
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

bool nowPlaying(CommandContext& context, std::string_view)
{
    const auto status = context.player.status();
    if (!status)
        return false;
    context.connection.send("\r\n" + nowPlayingLine(*status));
    return true;
}

bool showQueue(CommandContext& context, std::string_view argument)
{
    const auto typed = nameOf(argument);
    const auto number = parseEntryNumber(typed);
    std::uint32_t first = number.value_or(1);
    if (typed.empty() || !number) {
        const auto status = context.player.status();
        if (!status)
            return false;
        if (!status->queueKnown) {
            context.connection.send(kNoQueue);
            return true;
        }
        // Five entries of what went before the current one, then what comes next.
        if (typed.empty() && status->position)
            first = *status->position >= 5 ? *status->position - 4 : 1;
        if (status->queueLength == 0 || !typed.empty()) {
            context.connection.send(status->queueLength == 0 ? std::string("\r\nNothing queued")
                                                             : noEntry(typed, status->queueLength));
            return true;
        }
    }
    const auto page = context.player.queue(first - 1, kQueuePage);
    if (!page)
        return false;
    if (!page->status.queueKnown) {
        context.connection.send(kNoQueue);
        return true;
    }
    const std::uint32_t count = page->status.queueLength;
    if (count == 0 || page->entries.empty()) {
        context.connection.send(
            count == 0 ? std::string("\r\nNothing queued")
                       : noEntry(typed.empty() ? std::to_string(first) : typed, count));
        return true;
    }
    const std::size_t width = std::to_string(count).size();
    std::string reply;
    for (const auto& entry : page->entries) {
        const std::string shown = std::to_string(entry.position + 1);
        reply += "\r\n";
        reply += page->status.position == entry.position ? '>' : ' ';
        reply.append(width - std::min(width, shown.size()), ' ');
        reply += shown + " " + printable(entry.title);
    }
    reply += "\r\n(" + std::to_string(first) + "-" +
             std::to_string(page->entries.back().position + 1) + " of " + std::to_string(count) +
             ")";
    context.connection.send(reply);
    return true;
}

bool gotoEntry(CommandContext& context, std::string_view argument)
{
    const auto typed = nameOf(argument);
    if (trimmed(typed).empty()) {
        context.connection.send("\r\nusage: goto <number>");
        return true;
    }
    const auto number = parseEntryNumber(typed);
    // The player refuses an entry past its queue's end, and answers with its status anyway.
    const auto after = number ? context.player.jumpTo(*number - 1) : context.player.status();
    if (!after)
        return false;
    if (!after->queueKnown) {
        context.connection.send(kNoQueue);
        return true;
    }
    if (!number || *number > after->queueLength) {
        context.connection.send(noEntry(typed, after->queueLength));
        return true;
    }
    context.connection.send("\r\n" + nowPlayingLine(*after));
    return true;
}

bool changeVolume(CommandContext& context, std::string_view argument)
{
    const auto typed = nameOf(argument);
    std::optional<PlayerStatus> status;
    if (trimmed(typed).empty()) {
        status = context.player.status();
    } else {
        const auto change = parseVolumeChange(typed);
        if (!change) {
            context.connection.send("\r\nusage: vol [0-100|+n|-n]");
            return true;
        }
        if (change->relative) {
            status = context.player.status();
            if (status && status->volume)
                status =
                    context.player.setVolume(std::clamp(*status->volume + change->value, 0, 100));
        } else {
            // Read back: what the player took, which may differ by its own rounding.
            status = context.player.setVolume(change->value);
        }
    }
    if (!status)
        return false;
    context.connection.send(status->volume ? "\r\nVolume: " + std::to_string(*status->volume) + "%"
                                           : std::string("\r\nVolume not available"));
    return true;
}

bool seekWithinSong(CommandContext& context, std::string_view argument)
{
    const auto target = parseSeekTarget(nameOf(argument));
    if (!target) {
        context.connection.send("\r\nusage: seek [+|-]<seconds or m:ss>");
        return true;
    }
    const auto status = context.player.status();
    if (!status)
        return false;
    if (status->state == PlayState::Stopped || !status->position) {
        context.connection.send("\r\nNothing playing");
        return true;
    }
    if (!status->canSeek) {
        context.connection.send("\r\nSeek not available");
        return true;
    }
    std::int64_t wanted = static_cast<std::int64_t>(target->milliseconds);
    if (target->direction != 0)
        wanted = status->elapsedMs + target->direction * wanted;
    // The last second at most: a seek to the very end would skip to the next song.
    const std::int64_t latest =
        status->totalMs ? std::max<std::int64_t>(std::int64_t{*status->totalMs} - 1000, 0)
                        : std::int64_t{UINT32_MAX};
    wanted = std::clamp<std::int64_t>(wanted, 0, latest);
    const auto after = context.player.seekTo(static_cast<std::uint32_t>(wanted));
    if (!after)
        return false;
    context.connection.send("\r\n" + nowPlayingLine(*after));
    return true;
}

bool sleepTimer(CommandContext& context, std::string_view argument)
{
    const auto typed = trimmed(nameOf(argument));
    if (typed == "off") {
        context.host.cancelSleepTimer();
    } else if (!typed.empty()) {
        const auto minutes = allDigits(typed) ? digitsValue(typed) : 0;
        if (minutes < 1 || minutes > static_cast<std::uint64_t>(kMaxSleep.count())) {
            context.connection.send("\r\nusage: sleep [minutes|off]");
            return true;
        }
        context.host.startSleepTimer(std::chrono::minutes(minutes));
    }
    const auto left = context.host.sleepTimeLeft();
    if (!left) {
        context.connection.send("\r\nSleep timer: off");
        return true;
    }
    const auto minutesLeft = (left->count() + 59999) / 60000;
    context.connection.send("\r\nSleep timer: " + std::to_string(minutesLeft) + " min left");
    return true;
}

} // namespace zelvor
