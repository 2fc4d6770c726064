// SPDX-License-Identifier: MIT
// `status`, `np` and `vol 40` typed over telnet into the real program, driving the stand-in MPRIS
// player on a private session bus; each next to the same D-Bus calls made directly on one bus
// connection opened once, measured in the same run. Then, against a stand-in that never answers:
// the longest the backend holds its event loop during each verb, and how soon a second client
// gets its busy line while the first one's status waits. Last, a load of 1,000 files into the
// stand-in's track list.
#include "player/mpris/MprisBackend.h"

#include "TcpClient.h"
#include "ProcessFigures.h"
#include "ZelvorProcess.h"
#include "support/MprisStandIn.h"
#include "support/PollLoop.h"
#include "support/TempDir.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
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

std::string numbered(int i)
{
    char name[16];
    std::snprintf(name, sizeof name, "%04d.ogg", i);
    return name;
}

double ms(steady_clock::duration d)
{
    return duration<double, std::milli>(d).count();
}

/** Runs one operation of the backend to its answer; how long it took. */
steady_clock::duration answered(zelvor::test::PollLoop& loop,
                                const std::function<void(zelvor::PlayerDone)>& operation)
{
    const auto start = steady_clock::now();
    loop.answer(operation, seconds(10));
    return steady_clock::now() - start;
}

// The longest one handler held the loop while each verb waited for the frozen player, next to
// the same verb against the answering one; a second client's busy line meanwhile.
void frozenRows()
{
    zelvor::test::StandInOptions options;
    options.name = "frozen";
    options.hangs = true;
    MprisStandIn frozen(options);
    zelvor::test::PollLoop loop;
    std::string location = "mpris:frozen";
    zelvor::MprisBackend backend(loop, {[&location] { return location; }, {}});
    using zelvor::PlayerDone;
    const struct
    {
        const char* verb;
        std::function<void(PlayerDone)> operation;
    } verbs[] = {
        {"status / np", [&](PlayerDone done) { backend.status(std::move(done)); }},
        {"queue", [&](PlayerDone done) { backend.queue(0, 10, std::move(done)); }},
        {"vol 40", [&](PlayerDone done) { backend.setVolume(40, std::move(done)); }},
        {"seek 1:00", [&](PlayerDone done) { backend.seekTo(60'000, std::move(done)); }},
        {"goto 2", [&](PlayerDone done) { backend.jumpTo(1, std::move(done)); }},
        {"play", [&](PlayerDone done) { backend.play(std::move(done)); }},
        {"load", [&](PlayerDone done) { backend.add("/m/a.ogg", std::move(done)); }},
        {"clear", [&](PlayerDone done) { backend.clear(std::move(done)); }},
    };
    std::printf("\n| %-36s | %-26s | %-20s | %-9s |\n", "loop held during a verb", "frozen player",
                "answering player", "target");
    for (const auto& verb : verbs) {
        location = "mpris:standin";
        loop.longest = {};
        answered(loop, verb.operation);
        const auto floor = loop.longest;
        location = "mpris:frozen";
        loop.longest = {};
        const auto waited = answered(loop, verb.operation);
        std::printf("| %-36s | %-26s | %-20s | < 50 ms   |\n", verb.verb,
                    fmt("%.2f ms (answer %.0f ms)", ms(loop.longest), ms(waited)).c_str(),
                    fmt("%.2f ms", ms(floor)).c_str());
    }

    // Over telnet: the busy line while the first client's status waits, next to the busy line
    // while it waits for nothing.
    const auto busyAfter = [](std::uint16_t port, TcpClient* waiting) {
        if (waiting != nullptr) {
            waiting->send("status");
            waiting->readUntil("status");
            waiting->send("\r");
        }
        const auto start = steady_clock::now();
        TcpClient other;
        other.connect("127.0.0.1", port);
        other.readUntil("busy");
        const auto took = steady_clock::now() - start;
        if (waiting != nullptr)
            waiting->readUntil("\r\nZelvor>", seconds(10));
        return duration<double, std::milli>(took).count();
    };
    const auto port = zelvor::test::freePort();
    ZelvorProcess zelvor;
    zelvor.writeIni("[Zelvor]\r\nPort=" + std::to_string(port) +
                    "\r\nLogin=True\r\nWinamp Location=mpris:frozen\r\n");
    zelvor.setEnv("DBUS_SESSION_BUS_ADDRESS", std::getenv("DBUS_SESSION_BUS_ADDRESS"));
    zelvor.start();
    if (!zelvor.waitListening())
        return;
    TcpClient first;
    first.connect("127.0.0.1", port);
    first.readUntil("Zelvor>");
    double longest = 0;
    double floor = 0;
    for (int i = 0; i < 5; ++i) {
        longest = std::max(longest, busyAfter(port, &first));
        floor = std::max(floor, busyAfter(port, nullptr));
    }
    std::printf("| %-36s | %-26s | %-20s | < 100 ms  |\n", "busy line, status waiting (max of 5)",
                fmt("%.2f ms", longest).c_str(), fmt("%.2f ms (idle)", floor).c_str());
}

// 1,000 files of a folder into the stand-in's track list, next to the same AddTrack calls made
// directly one after another on one connection.
void loadRow(sd_bus* bus)
{
    zelvor::test::StandInOptions options;
    options.name = "loading";
    MprisStandIn standIn(options);
    zelvor::test::TempDir music;
    for (int i = 0; i < 1000; ++i)
        music.write("many/" + numbered(i), "x");
    zelvor::test::PollLoop loop;
    zelvor::MprisBackend backend(loop, {[] { return std::string("mpris:loading"); }, {}});
    const auto folder = (music.path() / "many").string();
    const auto took =
        answered(loop, [&](zelvor::PlayerDone done) { backend.add(folder, std::move(done)); });
    const auto size = standIn.state().tracks.size();
    standIn.setState({});
    const auto start = steady_clock::now();
    for (int i = 0; i < 1000; ++i) {
        const auto uri = "file://" + folder + "/" + numbered(i);
        sd_bus_message* reply = nullptr;
        sd_bus_call_method(bus, "org.mpris.MediaPlayer2.loading", kObject,
                           "org.mpris.MediaPlayer2.TrackList", "AddTrack", nullptr, &reply, "sob",
                           uri.c_str(), "/org/mpris/MediaPlayer2/TrackList/NoTrack", 0);
        sd_bus_message_unref(reply);
    }
    const auto floor = steady_clock::now() - start;
    std::printf("\n| %-34s | %-20s | %-20s | %-9s |\n", "load of a folder", "Zelvor",
                "same AddTrack calls", "target");
    std::printf("| %-34s | %-20s | %-20s | < 1 s     |\n",
                fmt("1,000 files (%.0f added)", static_cast<double>(size)).c_str(),
                fmt("%.0f ms", ms(took)).c_str(), fmt("%.0f ms", ms(floor)).c_str());
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
    // Each verb: its own calls (the players on the bus are known from the bus's signals).
    const struct
    {
        const char* line;
        std::function<void()> floor;
    } verbs[] = {
        {"status", [bus] { statusCalls(bus); }},
        {"np", [bus] { statusCalls(bus); }},
        {"vol 40",
         [bus] {
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
    frozenRows();
    loadRow(bus);
    sd_bus_flush_close_unref(bus);
    return 0;
}
