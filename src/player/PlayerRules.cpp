// SPDX-License-Identifier: MIT
#include "player/PlayerRules.h"

#include "AsciiCase.h"

#include <algorithm>
#include <iterator>

namespace zelvor {

namespace {

// The players whose programs or bus interfaces differ from the plain case. The README's player
// table says the same for the user.
constexpr PlayerRule kRules[] = {
    {"mpd", "", FileHandover::Uri},
    // Mopidy-MPD answers the MPD protocol.
    {"mopidy", "", FileHandover::Uri},
    // VLC's other front ends register as VLC.
    {"vlc", "vlc", FileHandover::Uri},
    {"cvlc", "vlc", FileHandover::Uri},
    {"qvlc", "vlc", FileHandover::Uri},
    {"nvlc", "vlc", FileHandover::Uri},
    // cmus 2.10 takes OpenUri's text as the name of one file, which it plays at once, and sends
    // Seeked before its position moved.
    {"cmus", "cmus", FileHandover::PlainPath, false, false},
    {"audacious", "audacious", FileHandover::AudaciousInterface},
};

} // namespace

PlayerRule ruleForProgram(std::string_view program)
{
    const auto found =
        std::find_if(std::begin(kRules), std::end(kRules),
                     [program](const PlayerRule& r) { return r.program == program; });
    return found != std::end(kRules) ? *found : PlayerRule{program, program, FileHandover::Uri};
}

PlayerRule ruleForBusName(std::string_view name)
{
    const auto own = name.substr(0, name.find('.'));
    const auto found =
        std::find_if(std::begin(kRules), std::end(kRules), [own](const PlayerRule& r) {
            return !r.speaksMpd() && asciiEqualIgnoringCase(r.busName, own);
        });
    return found != std::end(kRules) ? *found : PlayerRule{own, own, FileHandover::Uri};
}

} // namespace zelvor
