// SPDX-License-Identifier: MIT
// Whole commands through the real program and a real MPD, each next to its floor measured in
// the same run: `status` against MPD's own status round trip, `load` of a folder of 10,000 files
// against `mpc add`, `ls` of a folder of 100,000 files against `ls -1 -f`, the queue verbs on a
// 10,000-entry queue against the raw protocol command on a fresh connection, and `find` in the
// folder of 100,000 files against GNU find.
#include "TcpClient.h"
#include "ProcessFigures.h"
#include "ZelvorProcess.h"
#include "support/MpdFixture.h"

#include <mpd/client.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono;
using zelvor::bench::fmt;
using zelvor::bench::percentiles;
using zelvor::bench::statusKiB;
using zelvor::test::MpdFixture;
using zelvor::test::TcpClient;
using zelvor::test::ZelvorProcess;

namespace {

double secondsOf(const std::function<void()>& work)
{
    const auto start = steady_clock::now();
    work();
    return duration<double>(steady_clock::now() - start).count();
}

double medianSeconds(int runs, const std::function<void()>& work,
                     const std::function<void()>& after)
{
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        samples.push_back(secondsOf(work));
        after();
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

/** A change and the status the reply shows after it, as one command list: what any client
 * that answers with the new state asks of MPD. */
std::string afterwards(const std::string& change)
{
    return "command_list_begin\n" + change + "\nstatus\ncurrentsong\ncommand_list_end";
}

/** Raw MPD protocol on a fresh TCP connection: connect, one command, close. */
void rawMpdCommand(unsigned port, const std::string& command)
{
    TcpClient mpd;
    mpd.connect("127.0.0.1", static_cast<std::uint16_t>(port));
    mpd.readUntil("\n");
    mpd.send(command + "\n");
    mpd.readUntil("OK\n");
}

/** Raw MPD protocol on a connection opened once: the same exchange without the connect. */
void keptMpdCommand(TcpClient& mpd, const std::string& command)
{
    mpd.send(command + "\n");
    mpd.readUntil("OK\n");
}

/** The same through libmpdclient, as a client such as mpc pays for it: connect, the lines (a
 * command list when they are framed as one), read the whole answer, close. */
void libraryMpdCommand(unsigned port, const std::string& text)
{
    mpd_connection* c = mpd_connection_new("127.0.0.1", port, 2000);
    if (mpd_connection_get_error(c) == MPD_ERROR_SUCCESS) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::vector<std::string> parts;
            for (std::string word; words >> word;)
                parts.push_back(word);
            if (parts[0] == "command_list_begin")
                mpd_command_list_begin(c, false);
            else if (parts[0] == "command_list_end")
                mpd_command_list_end(c);
            else if (parts.size() == 1)
                mpd_send_command(c, parts[0].c_str(), nullptr);
            else
                mpd_send_command(c, parts[0].c_str(), parts[1].c_str(), nullptr);
        }
        mpd_response_finish(c);
    }
    mpd_connection_free(c);
}

void row(const std::string& name, const std::string& value, const std::string& floor,
         const std::string& target)
{
    std::printf("| %-40s | %-22s | %-22s | %-20s |\n", name.c_str(), value.c_str(), floor.c_str(),
                target.c_str());
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    // Each row shows as soon as it is measured, also when the output goes to a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    MpdFixture mpd;
    if (!mpd.start()) {
        std::fprintf(stderr, "bench_end_to_end: %s\n", mpd.error().c_str());
        return 1;
    }
    for (int i = 0; i < 10000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "big/%02d/%05d.wav", i % 50, i);
        zelvor::test::writeWav(mpd.musicDir() / name, 10);
    }
    // The huge listing lives outside MPD's database; only `ls` reads it.
    const auto huge = mpd.musicDir() / "huge";
    std::filesystem::create_directories(huge);
    for (int i = 0; i < 100000; ++i)
        std::ofstream(huge / ("track" + std::to_string(i) + ".mp3"));
    if (!mpd.update(seconds(300))) {
        std::fprintf(stderr, "bench_end_to_end: %s\n", mpd.error().c_str());
        return 1;
    }

    const auto port = zelvor::test::freePort();
    ZelvorProcess zelvor;
    zelvor.writeIni("[Zelvor]\r\nPort=" + std::to_string(port) +
                    "\r\nServer Root=" + mpd.musicDir().string() + "\r\nLogin=True\r\n");
    zelvor.setEnv("MPD_HOST", mpd.host());
    zelvor.setEnv("MPD_PORT", std::to_string(mpd.port()));
    zelvor.start();
    if (!zelvor.waitListening())
        return 1;
    TcpClient client;
    client.connect("127.0.0.1", port);
    client.readUntil("Zelvor>");
    auto command = [&](const std::string& line) {
        client.send(line);
        client.readUntil(line);
        const auto start = steady_clock::now();
        client.send("\r");
        client.readUntil("\r\nZelvor>", seconds(60));
        return duration<double, std::micro>(steady_clock::now() - start).count();
    };

    std::printf("| %-40s | %-22s | %-22s | %-20s |\n", "measure", "Zelvor", "floor", "target");
    std::printf("|%s|%s|%s|%s|\n", std::string(42, '-').c_str(), std::string(24, '-').c_str(),
                std::string(24, '-').c_str(), std::string(22, '-').c_str());

    // One keystroke's echo: with MPD's own exchange, the floor of any relay of a player verb.
    std::vector<double> echoSamples;
    for (int i = 0; i < 2000; ++i) {
        const auto start = steady_clock::now();
        client.send("x");
        client.readUntil("x");
        client.send("\b");
        client.readUntil("\b \b");
        echoSamples.push_back(duration<double, std::micro>(steady_clock::now() - start).count() /
                              2);
    }
    const double echo = percentiles(echoSamples).p50;
    row("keystroke echo, p50", fmt("%.1f us", echo), "", "");

    const double load = medianSeconds(
        5, [&] { command("load big"); }, [&] { mpd.command("clear"); });
    const std::size_t loaded = [&] {
        command("load big");
        const auto n = mpd.queue().size();
        mpd.command("clear");
        return n;
    }();
    mpd.useTcp();
    const double mpc = medianSeconds(
        5, [] { [[maybe_unused]] int rc = std::system("mpc -q add big"); },
        [&] { mpd.command("clear"); });
    row("load of 10,000 files (median of 5)", fmt("%.3f s", load), fmt("%.3f s mpc add", mpc),
        "< 1 s, within 2x of mpc");
    row("files queued by one load", std::to_string(loaded), "", "10000");

    // The queue verbs: 10,000 short entries and a 20-second song at the end that plays over and
    // over (single and repeat), so seeking always finds it playing.
    mpd.command("add big");
    mpd.command("add top.wav");
    mpd.command("single 1");
    mpd.command("repeat 1");
    mpd.command("play 10000");
    TcpClient kept;
    kept.connect("127.0.0.1", static_cast<std::uint16_t>(mpd.port()));
    kept.readUntil("\n");
    const auto verb = [&](const char* name, const std::function<std::string(int)>& line,
                          const std::function<std::string(int)>& protocol, double most) {
        std::vector<double> ours;
        std::vector<double> floor;
        std::vector<double> open;
        std::vector<double> library;
        const auto micros = [](const std::function<void()>& work) {
            const auto start = steady_clock::now();
            work();
            return duration<double, std::micro>(steady_clock::now() - start).count();
        };
        for (int i = 0; i < 1000; ++i) {
            ours.push_back(command(line(i)));
            floor.push_back(micros([&] { rawMpdCommand(mpd.port(), protocol(i)); }));
            open.push_back(micros([&] { keptMpdCommand(kept, protocol(i)); }));
            library.push_back(micros([&] { libraryMpdCommand(mpd.port(), protocol(i)); }));
        }
        const auto a = percentiles(ours);
        const auto b = percentiles(floor);
        const auto o = percentiles(open);
        const auto c = percentiles(library);
        row(name, fmt("%.0f / %.0f us", a.p50, a.p99), fmt("%.0f / %.0f us", o.p50, o.p99),
            fmt("%.2fx open+echo (<= %.1fx)", a.p50 / (o.p50 + echo), most));
        row("  floor on a fresh connection", "", fmt("%.0f / %.0f us", b.p50, b.p99),
            fmt("%.2fx (< 1x)", a.p50 / b.p50));
        row("  fresh through libmpdclient", "", fmt("%.0f / %.0f us", c.p50, c.p99),
            fmt("%.2fx", a.p50 / c.p50));
    };
    verb(
        "status, Enter to prompt, p50 / p99", [](int) { return std::string("status"); },
        [](int) {
            return std::string("command_list_begin\nstatus\ncurrentsong\ncommand_list_end");
        },
        1.3);
    verb(
        "np, Enter to prompt, p50 / p99", [](int) { return std::string("np"); },
        [](int) {
            return std::string("command_list_begin\nstatus\ncurrentsong\ncommand_list_end");
        },
        1.3);
    verb(
        "queue 5001 (of 10,000)", [](int) { return std::string("queue 5001"); },
        [](int) {
            return std::string("command_list_begin\nstatus\nplaylistinfo 5000:5020\n"
                               "command_list_end");
        },
        1.3);
    verb(
        "vol 40 / vol 41", [](int i) { return "vol " + std::to_string(40 + i % 2); },
        [](int i) { return afterwards("setvol " + std::to_string(40 + i % 2)); }, 1.3);
    verb(
        "seek 5 / seek 10", [](int i) { return "seek " + std::to_string(5 + 5 * (i % 2)); },
        [](int i) { return afterwards("seekcur " + std::to_string(5 + 5 * (i % 2))); }, 1.3);
    verb(
        "goto 10001", [](int) { return std::string("goto 10001"); },
        [](int) { return afterwards("play 10000"); }, 1.3);
    mpd.command("stop");
    mpd.command("clear");
    mpd.command("single 0");
    mpd.command("repeat 0");

    const long idle = statusKiB(zelvor.pid(), "VmRSS");
    client.send("cd huge\r");
    client.readUntil("Zelvor>");
    const double lsSeconds = medianSeconds(
        5, [&] { command("ls"); }, [] {});
    const long peak = statusKiB(zelvor.pid(), "VmHWM");
    const double lsFloor = medianSeconds(
        5,
        [&] {
            const std::string line = "ls -1 -f '" + huge.string() + "' > /dev/null";
            [[maybe_unused]] int rc = std::system(line.c_str());
        },
        [] {});
    row("ls of 100,000 files to the last byte", fmt("%.3f s", lsSeconds),
        fmt("%.3f s ls -1 -f", lsFloor), "< 0.5 s, within 4x");
    row("memory during ls (peak RSS - idle RSS)", fmt("%.1f MiB", (peak - idle) / 1024.0), "",
        "<= 64 MiB");

    for (const auto& [pattern, iname] :
         {std::pair<std::string, std::string>{"track4242?.mp3", "track4242?.mp3"},
          {"4242", "*4242*"}}) {
        const double findSeconds = medianSeconds(
            5, [&] { command("find " + pattern); }, [] {});
        const double gnuFind = medianSeconds(
            5,
            [&] {
                const std::string line =
                    "find '" + huge.string() + "' -iname '" + iname + "' > /dev/null";
                [[maybe_unused]] int rc = std::system(line.c_str());
            },
            [] {});
        row("find " + pattern + " in 100,000 files", fmt("%.3f s", findSeconds),
            fmt("%.3f s find -iname", gnuFind),
            fmt("< 0.3 s, %.2fx (<= 2x)", findSeconds / gnuFind));
    }

    // A frozen MPD: the client's status waits its two seconds, and meanwhile a second client is
    // greeted (it could take the session over by logging in).
    std::vector<double> greetings;
    for (int i = 0; i < 5; ++i) {
        ::kill(mpd.pid(), SIGSTOP);
        client.send("status\r");
        std::this_thread::sleep_for(milliseconds(100));
        const auto start = steady_clock::now();
        TcpClient second;
        second.connect("127.0.0.1", port);
        second.readUntil("User:");
        greetings.push_back(duration<double, std::milli>(steady_clock::now() - start).count());
        second.close();
        client.readUntil("\r\nZelvor>", seconds(10));
        ::kill(mpd.pid(), SIGCONT);
        command("status");
    }
    const auto greeted = percentiles(greetings);
    row("second client greeted, MPD frozen, p50/max",
        fmt("%.1f / %.1f ms", greeted.p50, *std::max_element(greetings.begin(), greetings.end())),
        "", "< 100 ms");

    client.send("exit\r");
    client.waitForClose();
    zelvor.signal(SIGTERM);
    return zelvor.wait() == 0 ? 0 : 1;
}
