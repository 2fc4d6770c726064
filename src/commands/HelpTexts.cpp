// SPDX-License-Identifier: MIT
#include "commands/HelpTexts.h"

#include "commands/CommandSession.h"

namespace zelvor {

namespace {

struct HelpTopic
{
    std::string_view topic;
    std::string_view text;
};

// Continuation lines start with seven blanks, under the text behind "usage: ".
constexpr HelpTopic kTopics[] = {
    {"volup", "\r\nVolup: Volume up"
              "\r\nusage: volup - increases volume by 1%"
              "\r\n       volup n - increases volume by n%"},
    {"voldn", "\r\nVoldn: Volume down"
              "\r\nusage: voldn - decreases volume by 1%"
              "\r\n       voldn n - decreases volume by n%"},
    {"exit", "\r\nExit: Disconnects from Server"
             "\r\nusage: exit - disconnects user"},
    {"ff", "\r\nFF: Fast forward"
           "\r\nusage: ff - fast forwards 1 track"},
    {"rw", "\r\nRW: Rewind"
           "\r\nusage: rw - goes back 1 track"},
    {"play", "\r\nPlay: Start playing"
             "\r\nusage: play - starts winamp playing"},
    {"stop", "\r\nStop: Stop playing"
             "\r\nusage: stop - stops winamp"},
    {"pause", "\r\nPause: Pause current track"
              "\r\nusage: pause - toggles pause"
              "\r\n       type pause to suspend playing, type again to resume"},
    {"shuffle", "\r\nShuffle: Toggle shuffle mode"
                "\r\nusage: shuffle - toggles shuffle mode on/off"},
    {"repeat", "\r\nRepeat: Toggle repeat mode"
               "\r\nusage: repeat - toggles repead mode on/off"},
    {"clear", "\r\nClear: Clear playlist"
              "\r\nusage: clear - removes all tracks from playlist"},
    {"close", "\r\nClose: Close Winamp"
              "\r\nusage: close - closes the winamp program"},
    {"open", "\r\nOpen: Open Winamp"
             "\r\nusage: open - opens a new winamp program"},
    {"pwd", "\r\nPwd: Display current directory"
            "\r\nusage: pwd - displays current directory"},
    {"cd", "\r\nCd: Change Directory"
           "\r\nusage: cd <directory> - where <directory> is a subdirectory"
           "\r\n       use cd .. to go back a directory"
           "\r\n       use cd / to go straight to the root folder"},
    {"ls", "\r\nLs: List files"
           "\r\nusage: ls |<filter> - lists contents of current directory"
           "\r\n       use <filter> to filter results."
           "\r\n       i.e. ls *.mp3 to show all mp3 files"},
    {"load", "\r\nLoad: Load file into Winamp"
             "\r\nusage: load |<file> - loads file or folder into playlist"
             "\r\n       using load with no arguments loads contents of current directory"},
    {"status", "\r\nStatus: Display Winamp Status"
               "\r\nusage: status - displays running status of winamp"},
    {"np", "\r\nNp: Now playing"
           "\r\nusage: np - shows state, entry, title and times of the current song"
           "\r\n       np follow - shows it again each time it changes, until a key"},
    {"queue", "\r\nQueue: Show the queue"
              "\r\nusage: queue - shows 20 entries around the current one, marked with >"
              "\r\n       queue n - shows 20 entries from entry n"},
    {"goto", "\r\nGoto: Play an entry of the queue"
             "\r\nusage: goto n - plays entry n of the queue (see queue)"},
    {"vol", "\r\nVol: Volume"
            "\r\nusage: vol - shows the volume in %"
            "\r\n       vol n - sets the volume to n% (0 to 100)"
            "\r\n       vol +n, vol -n - moves the volume up or down by n%"},
    {"seek", "\r\nSeek: Move within the song"
             "\r\nusage: seek t - goes to t seconds or m:ss into the song"
             "\r\n       seek +t, seek -t - goes t forward or back"},
    {"find", "\r\nFind: Find files and folders"
             "\r\nusage: find <name> - lists what holds <name> below the current directory"
             "\r\n       use * and ? to match whole names, i.e. find *.mp3"
             "\r\n       load or cd takes a line of the result as it stands"},
    {"sleep", "\r\nSleep: Sleep timer"
              "\r\nusage: sleep m - stops playing in m minutes (1 to 720)"
              "\r\n       sleep off - cancels the timer; sleep alone shows it"},
    {"next", "\r\nNext: Next track"
             "\r\nusage: next - goes forward 1 track, as ff does"},
    {"prev", "\r\nPrev: Previous track"
             "\r\nusage: prev - goes back 1 track, as rw does"},
};

constexpr std::string_view kOverview =
    "\r\nZelvor: The Tollomere"
    "\r\nZelvor provides remote functionality to Winamp through a telnet interface."
    "\r\nZelvor understands the following commands. Type 'help <command>' to learn more."
    "\r\nopen, close, play, stop, pause, ff, rw, volup, voldn, shuffle, repeat, clear,"
    "\r\nload, status, ls, pwd, cd, exit"
    "\r\nAlso: np, queue, goto, vol, seek, find, sleep, next, prev";

} // namespace

void SendHelp(std::string_view argument, Connection& connection)
{
    const auto topic = argument.empty() ? argument : argument.substr(1);
    for (const auto& entry : kTopics) {
        if (entry.topic == topic) {
            connection.send(entry.text);
            return;
        }
    }
    connection.send(kOverview);
}

} // namespace zelvor
