// The soak's watchdog itself, under Wine: a case that faults and a case that
// never returns are counted, and the run goes on with the next case.
#include "soakrunner.h"
#include <gtest/gtest.h>

TEST(SoakRunnerTest, CountsFaultsAndHangsAndGoesOn)
{
    std::vector<int> ran;
    SoakCounts counts = RunSoakCases(6, 1000, [&](int i, std::string *what) {
        ran.push_back(i);
        if (i == 1)
            *(volatile int *)nullptr = 1;  // an access violation
        if (i == 3)
            Sleep(INFINITE);
        *what = "case 4 failed";
        return i != 4;
    });
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5}), ran);
    EXPECT_EQ(4, counts.cases);
    EXPECT_EQ(1, counts.failures);
    EXPECT_EQ(1, counts.crashes);
    EXPECT_EQ(1, counts.hangs);
    EXPECT_EQ(1, counts.firstBad);
    EXPECT_EQ("exception 0xC0000005", counts.firstWhat);
}
