// SPDX-License-Identifier: MIT
// `status`, `np` and `vol 40` typed over telnet into the real program, driving the stand-in MPRIS
// player on a private session bus; each next to the same D-Bus calls made directly on one bus
// connection opened once, measured in the same run.
#include "TcpClient.h"
#include "ProcessFigures.h"
#include "ZelvorProcess.h"
#include "support/MprisStandIn.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace std::chrono;
using zelvor::bench::fmt;
using zelvor::bench::percentiles;
using zelvor::test::MprisStandIn;
using zelvor::test::TcpClient;
using zelvor::test::ZelvorProcess;

namespace {

constexpr int kSamples = 1000;
constexpr const char* kName = "org.mpris.MediaPlayer2.standin";
constexpr const char* kObject = "/org/mpris/MediaPlayer2";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";

// One call and its reply, as the backend makes it.
void call(sd_bus* bus, const char* member, const char* types, const char* a,
          const char* b = nullptr)
{
    sd_bus_message* reply = nullptr;
    if (b != nullptr)
        sd_bus_call_method(bus, kName, kObject, kProperties, member, nullptr, &reply, types, a, b);
    else
        sd_bus_call_method(bus, kName, kObject, kProperties, member, nullptr, &reply, types, a);
    sd_bus_message_unref(reply);
}

void listNames(sd_bus* bus)
{
    char** names = nullptr;
    sd_bus_list_names(bus, &names, nullptr);
    for (char** name = names; name != nullptr && *name != nullptr; ++name)
        std::free(*name);
    std::free(names);
}

// What a status line of the player needs: the root, the Player and the track list.
void statusCalls(sd_bus* bus)
{
    call(bus, "GetAll", "s", kPlayer);
    call(bus, "GetAll", "s", "org.mpris.MediaPlayer2");
    call(bus, "Get", "ss", "org.mpris.MediaPlayer2.TrackList", "Tracks");
}

void row(const std::string& name, const std::vector<double>& ours, const std::vector<double>& floor)
{
    const auto a = percentiles(ours);
    const auto b = percentiles(floor);
    std::printf("| %-34s | %-20s | %-20s | %6.2fx | within 2x |\n", name.c_str(),
                fmt("%.0f / %.0f us", a.p50, a.p99).c_str(),
                fmt("%.0f / %.0f us", b.p50, b.p99).c_str(), a.p50 / b.p50);
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    zelvor::test::PrivateSessionBus privateBus;
    if (privateBus.address().empty()) {
        std::fprintf(stderr, "bench_mpris: dbus-daemon did not start\n");
        return 1;
    }
    MprisStandIn standIn;
    MprisStandIn::State state;
    for (int i = 1; i <= 3; ++i)
        state.tracks.push_back({"/t/" + std::to_string(i),
                                "file:///m/" + std::to_string(i) + ".ogg",
                                "Song " + std::to_string(i), "Band", 200'000'000});
    state.current = 1;
    state.playbackStatus = "Playing";
    standIn.setState(state);

    const auto port = zelvor::test::freePort();
    ZelvorProcess zelvor;
    zelvor.writeIni("[Zelvor]\r\nPort=" + std::to_string(port) +
                    "\r\nLogin=True\r\nWinamp Location=mpris:standin\r\n");
    zelvor.setEnv("DBUS_SESSION_BUS_ADDRESS", privateBus.address());
    zelvor.start();
    if (!zelvor.waitListening())
        return 1;
    TcpClient client;
    client.connect("127.0.0.1", port);
    client.readUntil("Zelvor>");
    const auto command = [&](const std::string& line) {
        client.send(line);
        client.readUntil(line);
        const auto start = steady_clock::now();
        client.send("\r");
        client.readUntil("\r\nZelvor>");
        return duration<double, std::micro>(steady_clock::now() - start).count();
    };
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return 1;
    const auto micros = [](const std::function<void()>& work) {
        const auto start = steady_clock::now();
        work();
        return duration<double, std::micro>(steady_clock::now() - start).count();
    };

    std::printf("| %-34s | %-20s | %-20s | %7s | %-9s |\n", "over telnet, p50 / p99", "Zelvor",
                "same D-Bus calls", "ratio", "target");
    // Each verb: the player found by name (ListNames), then its own calls.
    const struct
    {
        const char* line;
        std::function<void()> floor;
    } verbs[] = {
        {"status",
         [bus] {
             listNames(bus);
             call(bus, "GetAll", "s", kPlayer);
         }},
        {"np",
         [bus] {
             listNames(bus);
             statusCalls(bus);
         }},
        {"vol 40",
         [bus] {
             listNames(bus);
             call(bus, "GetAll", "s", kPlayer);
             sd_bus_set_property(bus, kName, kObject, kPlayer, "Volume", nullptr, "d", 0.4);
             statusCalls(bus);
         }},
    };
    for (const auto& verb : verbs) {
        std::vector<double> ours;
        std::vector<double> floor;
        for (int i = 0; i < kSamples; ++i) {
            ours.push_back(command(verb.line));
            floor.push_back(micros(verb.floor));
        }
        row(verb.line, ours, floor);
    }
    sd_bus_flush_close_unref(bus);
    return 0;
}
