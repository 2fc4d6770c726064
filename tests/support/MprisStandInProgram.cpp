// SPDX-License-Identifier: MIT
// The stand-in MPRIS player as a program of its own, for what "open" starts: it takes the name
// org.mpris.MediaPlayer2.standinplayer and runs until it is told to Quit, gets SIGTERM or SIGINT,
// or a minute passed. With --no-quit it offers no Quit.
#include "support/MprisStandIn.h"

#include <cstring>

#include <signal.h>
#include <time.h>

int main(int argc, char** argv)
{
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigprocmask(SIG_BLOCK, &ending, nullptr);
    zelvor::test::StandInOptions options;
    options.name = "standinplayer";
    options.canQuit = !(argc > 1 && std::strcmp(argv[1], "--no-quit") == 0);
    zelvor::test::MprisStandIn player(options);
    if (!player.ready())
        return 1;
    const timespec step{0, 50'000'000};
    for (int i = 0; i < 1200 && !player.stopped(); ++i)
        if (sigtimedwait(&ending, nullptr, &step) > 0)
            break;
    return 0;
}
