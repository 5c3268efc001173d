// Thousands of generated and mutated INFs, fixed seed: every model listing
// and every parse returns, and every failure leaves a message for the user.
#include "contextfixture.h"
#include "infgenerator.h"

TEST_F(ContextTest, EveryMalformedInfReturns)
{
    InfGenerator gen(20261207);
    const int kRounds = 3000;
    int parsed = 0, listed = 0;
    for (int round = 0; round < kRounds; round++) {
        std::string inf = (round % 2) ? gen.Mutated(kSeedInf) : gen.Generated();
        std::string path = WriteFile("FUZZ.INF", inf);
        InfRound result;
        std::string what;
        EXPECT_TRUE(ReadInfAsInstaller(path, &result, &what)) << "round " << round << ": " << what;
        listed += result.listed;
        parsed += result.parsed;
    }
    // The seed INF survives many of its mutations; say how many went through.
    RecordProperty("listed", listed);
    RecordProperty("parsed", parsed);
    EXPECT_GT(parsed, kRounds / 20);
}
