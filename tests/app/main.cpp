// SPDX-License-Identifier: MIT
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // The program's local socket goes to each test's settings folder, never to the machine's
    // runtime folder.
    ::unsetenv("XDG_RUNTIME_DIR");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
