// 100,000 mutated INFs (of the sample package's TZ.INF and of a small INF
// with every kind of section) through the INF reader and ParseInf, each
// under the soak's watchdog: no case may fault, hang, or fail without a
// message for the user.
#include "contextfixture.h"
#include "infgenerator.h"
#include "soakrunner.h"
#include "testenv.h"

TEST_F(ContextTest, SoakMutatedInfs)
{
    const int kCases = 100000;
    std::string sample = ReadBytes(Narrow(ExePath(L"samples\\tz\\TZ.INF")));
    ASSERT_FALSE(sample.empty()) << "no samples\\tz\\TZ.INF beside the program";
    InfGenerator gen(20261208);
    int listed = 0, parsed = 0;
    SoakCounts counts = RunSoakCases(kCases, 20000, [&](int i, std::string *what) {
        std::string path = WriteFile("SOAK.INF", gen.Mutated(i % 2 ? sample : std::string(kSeedInf)));
        InfRound round;
        bool ok = ReadInfAsInstaller(path, &round, what);
        listed += round.listed;
        parsed += round.parsed;
        return ok;
    });
    PrintSoakSummary("inf", counts, std::to_string(listed) + " listed models, " + std::to_string(parsed) + " parsed");
    EXPECT_EQ(kCases, counts.cases + counts.crashes + counts.hangs);
    EXPECT_EQ(0, counts.failures);
    EXPECT_EQ(0, counts.crashes);
    EXPECT_EQ(0, counts.hangs);
}
