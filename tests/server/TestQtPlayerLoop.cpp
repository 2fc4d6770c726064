// SPDX-License-Identifier: MIT
#include "server/qt/QtPlayerLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <sys/socket.h>
#include <unistd.h>

namespace zelvor {
namespace {

using namespace std::chrono_literals;

// Runs Qt's loop until the condition holds, at most ten seconds.
bool runUntil(const std::function<bool()>& condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return condition();
}

// A timer queued after an event has run once the loop has delivered that event too.
void settle(QtPlayerLoop& loop)
{
    bool ran = false;
    loop.after(0ms, [&ran] { ran = true; });
    ASSERT_TRUE(runUntil([&ran] { return ran; }));
    QCoreApplication::processEvents();
}

TEST(QtPlayerLoop, ADescriptorIsHeardUntilItsWatchEndsAlsoFromItsOwnCallback)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    QtPlayerLoop loop;
    int heard = 0;
    PlayerLoop::Id id = 0;
    id = loop.watch(pair[0], true, false, [&] {
        char byte = 0;
        ASSERT_EQ(::read(pair[0], &byte, 1), 1);
        if (++heard == 2)
            loop.unwatch(id);
    });
    EXPECT_NE(id, 0u);
    settle(loop);
    EXPECT_EQ(heard, 0); // nothing to read: nothing heard, also not from inside watch()
    for (int expected = 1; expected <= 2; ++expected) {
        ASSERT_EQ(::write(pair[1], "x", 1), 1);
        EXPECT_TRUE(runUntil([&] { return heard == expected; }));
    }
    ASSERT_EQ(::write(pair[1], "x", 1), 1);
    settle(loop);
    EXPECT_EQ(heard, 2);
    loop.unwatch(id); // gone already: nothing happens

    // Writing is heard only while asked for.
    int writable = 0;
    const auto second = loop.watch(pair[1], false, false, [&] { ++writable; });
    settle(loop);
    EXPECT_EQ(writable, 0);
    loop.rewatch(second, false, true);
    EXPECT_TRUE(runUntil([&] { return writable > 0; }));
    loop.unwatch(second);
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST(QtPlayerLoop, TimersRunOnceInTheirOrderAndCancelledOnesNever)
{
    QtPlayerLoop loop;
    std::string ran;
    loop.after(30ms, [&ran] { ran += "c"; });
    const auto cancelled = loop.after(10ms, [&ran] { ran += "x"; });
    loop.after(0ms, [&ran] { ran += "a"; });
    loop.after(20ms, [&ran] { ran += "b"; });
    loop.cancel(cancelled);
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(runUntil([&ran] { return ran.size() >= 3; }));
    settle(loop);
    EXPECT_EQ(ran, "abc");
    loop.cancel(cancelled); // ran or cancelled: nothing happens
}

} // namespace
} // namespace zelvor
