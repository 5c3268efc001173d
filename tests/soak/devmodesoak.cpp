// 100,000 generated device modes, each in a buffer of exactly its claimed
// size at the end of a guard page, through the driver UI library's
// conversion and property entry points (every 16th round also through
// DrvDocumentProperties on the test queue), each under the soak's watchdog.
#include "guardeddevmode.h"
#include "soakrunner.h"

TEST_F(UiTest, SoakGuardedDevmodes)
{
    const int kCases = 100000;
    std::mt19937 rng(20261208);
    DevmodeRoundCounts rounds;
    SoakCounts counts = RunSoakCases(kCases, 20000, [&](int i, std::string *what) {
        return GeneratedDevmodeRound(ui, hPrinter, rng, i % 16 == 0, &rounds, what);
    });
    PrintSoakSummary("devmode", counts,
                     std::to_string(rounds.converted) + " converted, DrvDocumentProperties " +
                         std::to_string(rounds.answered) + " IDOK and " + std::to_string(rounds.refused) + " refused");
    EXPECT_EQ(kCases, counts.cases + counts.crashes + counts.hangs);
    EXPECT_EQ(0, counts.failures);
    EXPECT_EQ(0, counts.crashes);
    EXPECT_EQ(0, counts.hangs);
}
