// SPDX-License-Identifier: MIT
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Clients that reset their connection must not end the test program either.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
