// SPDX-License-Identifier: MIT
#include "windows/StandIn.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Every stand-in a test starts, itself or through LaunchWinamp, ends with the test.
    zelvor::test::killChildrenOnExit();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
