// SPDX-License-Identifier: MIT
#include "commands/CommandDispatcher.h"

#include "commands/DirectoryCommands.h"
#include "commands/FindCommand.h"
#include "commands/HelpTexts.h"
#include "commands/PlayerReply.h"
#include "commands/PlayerVerbs.h"
#include "commands/StatusReport.h"
#include "player/Player.h"
#include "commands/CommandSession.h"
#include "settings/ServerSettings.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

namespace zelvor {

namespace {

constexpr std::int32_t kLargestValue = 32767;
constexpr std::int32_t kMostVolumeSteps = 255;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Rounds a decimal number given by its significant digits (no leading zeros) and the count of
// them in front of the decimal point: to the nearest whole number, a half to the even one.
std::int32_t roundDigits(std::string_view digits, std::int64_t wholeDigits)
{
    if (wholeDigits > 5)
        return kLargestValue;
    if (wholeDigits < 0)
        return 0;
    const auto whole = static_cast<std::size_t>(wholeDigits);
    std::int32_t value = 0;
    for (std::size_t i = 0; i < whole; ++i)
        value = value * 10 + (i < digits.size() ? digits[i] - '0' : 0);
    const auto fraction = whole < digits.size() ? digits.substr(whole) : std::string_view();
    if (!fraction.empty()) {
        const bool aboveHalf =
            fraction[0] > '5' ||
            (fraction[0] == '5' && fraction.find_first_not_of('0', 1) != std::string_view::npos);
        const bool half = fraction[0] == '5' && !aboveHalf;
        if (aboveHalf || (half && value % 2 != 0))
            ++value;
    }
    return std::min(value, kLargestValue);
}

/** A decimal number as typed: its digits without the point, and where the point goes. */
struct DecimalText
{
    bool negative = false;
    std::string digits;
    std::int64_t pointAt = 0;
    std::int64_t exponent = 0;
};

// Optional blanks around an optional sign, digits with an optional fraction and an optional
// exponent; "inf", "nan" and hexadecimal forms are not numbers.
std::optional<DecimalText> parseDecimal(std::string_view text)
{
    DecimalText number;
    std::size_t i = text.find_first_not_of(' ');
    if (i == std::string_view::npos)
        return std::nullopt;
    number.negative = text[i] == '-';
    if (text[i] == '+' || text[i] == '-')
        ++i;
    bool seenPoint = false;
    for (; i < text.size() && (isDigit(text[i]) || (text[i] == '.' && !seenPoint)); ++i) {
        if (text[i] == '.') {
            seenPoint = true;
            continue;
        }
        number.digits += text[i];
        if (!seenPoint)
            ++number.pointAt;
    }
    if (number.digits.empty())
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        const bool negativeExponent = i + 1 < text.size() && text[i + 1] == '-';
        if (++i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        const auto start = i;
        // Saturates: any exponent this large already puts the value far out of range.
        for (; i < text.size() && isDigit(text[i]); ++i)
            number.exponent =
                std::min<std::int64_t>(number.exponent * 10 + (text[i] - '0'), 1000000);
        if (i == start)
            return std::nullopt;
        if (negativeExponent)
            number.exponent = -number.exponent;
    }
    if (text.find_first_not_of(' ', i) != std::string_view::npos)
        return std::nullopt;
    return number;
}

// The argument rounded to a whole number and clamped to -32767..32767, or nothing when it is
// not a number. Rounding works on the decimal text itself, so no locale and no binary
// fraction gets in the way.
std::optional<std::int32_t> numericArgument(std::string_view text)
{
    const auto number = parseDecimal(text);
    if (!number)
        return std::nullopt;
    const auto first = number->digits.find_first_not_of('0');
    if (first == std::string::npos)
        return 0;
    const auto wholeDigits = number->pointAt - static_cast<std::int64_t>(first) + number->exponent;
    const auto value = roundDigits(std::string_view(number->digits).substr(first), wholeDigits);
    return number->negative ? -value : value;
}

template <void (Player::*Operation)(PlayerDone), Feature Named = Feature::Command>
PromptSelector sendCommand(CommandContext& context, std::string_view)
{
    Player& player = context.player;
    return replyWhenDone(context, [&player](LineDone done) {
        (player.*
         Operation)([done = std::move(done)](PlayerAnswer answer) { done(endOf(answer, Named)); });
    });
}

// A count of n moves the volume n + 1 steps, given to the player at once.
template <int Direction>
PromptSelector stepVolume(CommandContext& context, std::string_view argument)
{
    const auto count = std::min(numericArgument(argument).value_or(0), kMostVolumeSteps);
    Player& player = context.player;
    return replyWhenDone(context, [&player, count](LineDone done) {
        player.stepVolume(Direction * (std::max(count, 0) + 1),
                          [done = std::move(done)](PlayerAnswer answer) {
                              done(endOf(answer, Feature::Volume));
                          });
    });
}

PromptSelector closeSession(CommandContext& context, std::string_view)
{
    context.host.Winsock1_Close();
    return PromptSelector::Closed;
}

// A player that cannot end says so, and one that refuses to (an MPD-protocol server that forbids
// "kill") says why on the line after the failure line.
PromptSelector closePlayer(CommandContext& context, std::string_view)
{
    Player& player = context.player;
    return replyWhenDone(context, [&player](LineDone done) {
        player.close([done = std::move(done)](PlayerAnswer answer) {
            auto end = endOf(answer, Feature::Close);
            if (answer.outcome == Outcome::Failed && !answer.reason.empty())
                end.reply += "\r\n" + answer.reason;
            done(std::move(end));
        });
    });
}

// A player that is not there leaves the line as it is; one that cannot clear says so.
PromptSelector clearPlaylist(CommandContext& context, std::string_view)
{
    Player& player = context.player;
    return replyWhenDone(context, [&player](LineDone done) {
        player.clear([done = std::move(done)](PlayerAnswer answer) {
            done(answer.outcome == Outcome::NotOffered ? endOf(answer, Feature::Clear) : LineEnd{});
        });
    });
}

// Starting the player may take a while (Zelvor's own MPD scans the music first); the reply then
// comes once that is decided, and the program serves everything else meanwhile.
PromptSelector openPlayer(CommandContext& context, std::string_view)
{
    Player& player = context.player;
    CommandHost& host = context.host;
    const std::string location = context.settings.WinampLocation;
    return replyWhenDone(context, [&player, &host, &location](LineDone done) {
        player.open(location, [&host, done = std::move(done)](PlayerAnswer answer) {
            // The client gets the usual failure line; the reason is for whoever sits at the
            // machine.
            if (!answer.done() && !answer.reason.empty())
                host.LogProblem(answer.reason);
            done(endOf(answer));
        });
    });
}

PromptSelector help(CommandContext& context, std::string_view argument)
{
    SendHelp(argument, context.connection);
    return PromptSelector::Command;
}

PromptSelector status(CommandContext& context, std::string_view)
{
    Player& player = context.player;
    return replyWhenDone(context,
                         [&player](LineDone done) { SendStatus(player, std::move(done)); });
}

PromptSelector load(CommandContext& context, std::string_view argument)
{
    return replyWhenDone(
        context, [&context, argument](LineDone done) { loadPath(context, argument, done); });
}

template <void (*Command)(CommandContext&, std::string_view)>
PromptSelector directory(CommandContext& context, std::string_view argument)
{
    Command(context, argument);
    return PromptSelector::Command;
}

PromptSelector pwd(CommandContext& context, std::string_view)
{
    printWorkingDirectory(context);
    return PromptSelector::Command;
}

template <void (*Verb)(Player&, std::string_view, LineDone)>
PromptSelector typed(CommandContext& context, std::string_view argument)
{
    Player& player = context.player;
    return replyWhenDone(
        context, [&player, argument](LineDone done) { Verb(player, argument, std::move(done)); });
}

// "np follow" goes on after its line; any other argument is ignored, as by "np".
PromptSelector nowPlayingVerb(CommandContext& context, std::string_view argument)
{
    if (nameOf(argument) != "follow")
        return typed<nowPlaying>(context, argument);
    Player& player = context.player;
    return replyWhenDone(context, [&player, start = context.host.followNowPlaying()](
                                      LineDone done) { followNowPlaying(player, start, done); });
}

PromptSelector sleep(CommandContext& context, std::string_view argument)
{
    sleepTimer(context, argument);
    return PromptSelector::Command;
}

using CommandHandler = PromptSelector (*)(CommandContext&, std::string_view argument);

struct CommandRow
{
    std::string_view verb;
    CommandHandler handler;
};

// Tested from the top; the first row whose verb equals the line's verb wins.
constexpr CommandRow kCommandTable[] = {
    {"volup", &stepVolume<+1>},
    {"voldn", &stepVolume<-1>},
    {"exit", &closeSession},
    {"ff", &sendCommand<&Player::next>},
    {"rw", &sendCommand<&Player::previous>},
    {"play", &sendCommand<&Player::play>},
    {"stop", &sendCommand<&Player::stop>},
    {"pause", &sendCommand<&Player::pause>},
    {"shuffle", &sendCommand<&Player::toggleShuffle, Feature::Shuffle>},
    {"repeat", &sendCommand<&Player::toggleRepeat, Feature::Repeat>},
    {"clear", &clearPlaylist},
    {"close", &closePlayer},
    {"open", &openPlayer},
    {"help", &help},
    {"pwd", &pwd},
    {"cd", &directory<changeDirectory>},
    {"ls", &directory<listDirectory>},
    {"load", &load},
    {"status", &status},
    {"np", &nowPlayingVerb},
    {"queue", &typed<showQueue>},
    {"goto", &typed<gotoEntry>},
    {"vol", &typed<changeVolume>},
    {"seek", &typed<seekWithinSong>},
    {"find", &directory<findFiles>},
    {"sleep", &sleep},
    // The names other remotes give ff and rw.
    {"next", &sendCommand<&Player::next>},
    {"prev", &sendCommand<&Player::previous>},
};

PromptSelector unknownVerb(CommandContext& context, std::string_view verb)
{
    context.connection.send(std::string(kUnknownVerb) + std::string(verb));
    return PromptSelector::Command;
}

} // namespace

PromptSelector ProcessCommand(CommandContext& context)
{
    std::string& line = context.session.CommandLine;
    std::string argument;
    if (const auto blank = line.find(' '); blank != std::string::npos) {
        argument = line.substr(blank);
        line.resize(blank);
    }
    const std::string& verb = line;
    context.host.LogActivity(verb);

    const auto row = std::find_if(std::begin(kCommandTable), std::end(kCommandTable),
                                  [&](const CommandRow& r) { return r.verb == verb; });
    if (row == std::end(kCommandTable))
        return unknownVerb(context, verb);
    return row->handler(context, argument);
}

} // namespace zelvor
