// SPDX-License-Identifier: MIT
// "np follow" through the real program and a real MPD: from another MPD client's "next" (or
// "previous") to the line pushed to the telnet client, next to the time MPD's own idle takes to
// wake an MPD client for the same change, measured on the same changes in the same run.
#include "TcpClient.h"
#include "ProcessFigures.h"
#include "ZelvorProcess.h"
#include "support/MpdFixture.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>

using namespace std::chrono;
using zelvor::bench::fmt;
using zelvor::bench::percentiles;
using zelvor::test::MpdFixture;
using zelvor::test::TcpClient;
using zelvor::test::ZelvorProcess;

namespace {

constexpr int kChanges = 150;
constexpr int kEchoes = 1000;

// Reads what is there on a socket that poll found readable.
std::string readSome(int fd)
{
    char buffer[4096];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

void row(const std::string& name, const std::string& value, const std::string& note)
{
    std::printf("| %-52s | %-24s | %-34s |\n", name.c_str(), value.c_str(), note.c_str());
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    MpdFixture mpd;
    if (!mpd.start() || !mpd.addRealLengthSongs()) {
        std::fprintf(stderr, "bench_follow: %s\n", mpd.error().c_str());
        return 1;
    }
    mpd.command("add \"long\"");
    mpd.command("play 0");

    const auto port = zelvor::test::freePort();
    ZelvorProcess zelvor;
    zelvor.writeIni("[Zelvor]\r\nPort=" + std::to_string(port) + "\r\nLogin=True\r\n");
    zelvor.setEnv("MPD_HOST", mpd.host());
    zelvor.setEnv("MPD_PORT", std::to_string(mpd.port()));
    zelvor.start();
    if (!zelvor.waitListening())
        return 1;
    TcpClient client;
    client.connect("127.0.0.1", port);
    client.readUntil("Zelvor>");

    std::vector<double> echoes;
    for (int i = 0; i < kEchoes; ++i) {
        const auto start = steady_clock::now();
        client.send("x");
        client.readUntil("x");
        client.send("\b");
        client.readUntil("\b \b");
        echoes.push_back(duration<double, std::micro>(steady_clock::now() - start).count() / 2);
    }

    client.send("np follow\r");
    client.readUntil(")");
    // The other MPD client that changes the song, and the one that waits in MPD's idle.
    TcpClient outside;
    TcpClient idler;
    outside.connect("127.0.0.1", static_cast<std::uint16_t>(mpd.port()));
    idler.connect("127.0.0.1", static_cast<std::uint16_t>(mpd.port()));
    outside.readUntil("\n");
    idler.readUntil("\n");

    std::vector<double> pushed;
    std::vector<double> woken;
    std::vector<double> read;
    for (int i = 0; i < kChanges; ++i) {
        idler.send("idle player\n");
        // Past the gathering time of the line before, and the reads MPD's later events cause.
        std::this_thread::sleep_for(milliseconds(350));
        const auto start = steady_clock::now();
        outside.send(i % 2 == 0 ? "next\n" : "previous\n");
        bool line = false;
        bool wake = false;
        bool woke = false;
        std::string idleText;
        while (!line || !wake) {
            pollfd fds[2] = {{client.fd(), POLLIN, 0}, {idler.fd(), POLLIN, 0}};
            if (::poll(fds, 2, 5000) <= 0) {
                std::fprintf(stderr, "bench_follow: change %d: %s within 5 s\n", i,
                             line ? "no wake" : "no line");
                return 1;
            }
            const auto at = duration<double, std::micro>(steady_clock::now() - start).count();
            if (!line && (fds[0].revents & POLLIN) != 0 &&
                readSome(client.fd()).find("\r\nPlaying: ") != std::string::npos) {
                pushed.push_back(at);
                line = true;
            }
            if (!wake && (fds[1].revents & POLLIN) != 0) {
                idleText += readSome(idler.fd());
                if (!woke && idleText.find("OK\n") != std::string::npos) {
                    woken.push_back(at);
                    woke = true;
                    idleText.clear();
                    // What any MPD client that shows the new state asks next.
                    idler.send("command_list_begin\nstatus\ncurrentsong\ncommand_list_end\n");
                } else if (woke && idleText.find("\nOK\n") != std::string::npos) {
                    read.push_back(at);
                    wake = true;
                }
            }
        }
        outside.readUntil("OK\n");
    }
    client.send("\r");
    client.readUntil("Zelvor>");

    const auto echo = percentiles(echoes);
    const auto wakeFigures = percentiles(woken);
    const auto line = percentiles(pushed);
    const auto readFigures = percentiles(read);
    std::printf("| %-52s | %-24s | %-34s |\n", "measure (p50 / p99)", "value", "note");
    std::printf("|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(26, '-').c_str(),
                std::string(36, '-').c_str());
    row("keystroke echo", fmt("%.1f / %.1f us", echo.p50, echo.p99), "");
    row("floor: MPD's idle wakes an MPD client after next",
        fmt("%.1f / %.1f us", wakeFigures.p50, wakeFigures.p99), "the same changes");
    row("floor: that wake, then status + currentsong",
        fmt("%.1f / %.1f us", readFigures.p50, readFigures.p99),
        fmt("%.2fx of the wake", readFigures.p50 / wakeFigures.p50));
    row("np follow: next from elsewhere to the pushed line",
        fmt("%.1f / %.1f us", line.p50, line.p99),
        fmt("%.2fx of floor + echo (<= 1.5x)", line.p50 / (wakeFigures.p50 + echo.p50)));
    return 0;
}
