// The basic suite and the suite registry.
#include "headless/boundary/Host.h"

#include <gtest/gtest.h>

using headless::Host;
using headless::Ledger;

namespace {

struct SuitesTest : ::testing::Test {
    Host host;
    SPBasicSuite &basic = *host.inData()->pica_basicP;
    int tableA = 1, tableB = 2;
};

TEST_F(SuitesTest, AcquireAndReleaseAreCountedPerSuite) {
    host.suites().add("Alpha Suite", 1, &tableA);
    host.suites().add("Alpha Suite", 2, &tableB);

    const void *suite = nullptr;
    ASSERT_EQ(basic.AcquireSuite("Alpha Suite", 1, &suite), kSPNoError);
    EXPECT_EQ(suite, &tableA);
    ASSERT_EQ(basic.AcquireSuite("Alpha Suite", 2, &suite), kSPNoError);
    EXPECT_EQ(suite, &tableB) << "the version picks the table";
    ASSERT_EQ(basic.AcquireSuite("Alpha Suite", 1, &suite), kSPNoError);

    EXPECT_EQ(host.ledger().suiteCount("Alpha Suite", 1), 2);
    EXPECT_EQ(host.ledger().suiteCount("Alpha Suite", 2), 1);
    EXPECT_NE(host.ledger().report().find("suite \"Alpha Suite\" v1"), std::string::npos);

    EXPECT_EQ(basic.ReleaseSuite("Alpha Suite", 1), kSPNoError);
    EXPECT_EQ(basic.ReleaseSuite("Alpha Suite", 2), kSPNoError);
    EXPECT_EQ(basic.ReleaseSuite("Alpha Suite", 1), kSPNoError);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(SuitesTest, UnknownSuiteIsAnErrorAndNull) {
    host.suites().add("Alpha Suite", 1, &tableA);
    const void *suite = &tableB;
    EXPECT_EQ(basic.AcquireSuite("Beta Suite", 1, &suite), headless::kSPSuiteNotFoundError);
    EXPECT_EQ(suite, nullptr);
    suite = &tableB;
    EXPECT_EQ(basic.AcquireSuite("Alpha Suite", 3, &suite), headless::kSPSuiteNotFoundError);
    EXPECT_EQ(suite, nullptr);
    EXPECT_NE(basic.AcquireSuite(nullptr, 1, &suite), kSPNoError);
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(host.ledger().count(Ledger::suiteKey("Beta Suite", 1)), 0);
}

TEST_F(SuitesTest, ReleaseWithoutAcquisitionIsAProblem) {
    host.suites().add("Alpha Suite", 1, &tableA);
    EXPECT_NE(basic.ReleaseSuite("Alpha Suite", 1), kSPNoError);
    const void *suite = nullptr;
    basic.AcquireSuite("Alpha Suite", 1, &suite);
    EXPECT_EQ(basic.ReleaseSuite("Alpha Suite", 1), kSPNoError);
    EXPECT_NE(basic.ReleaseSuite("Alpha Suite", 1), kSPNoError) << "released twice";
    EXPECT_EQ(host.ledger().problems().size(), 2u) << host.ledger().report();
    EXPECT_EQ(host.ledger().suiteCount("Alpha Suite", 1), 0);
}

TEST_F(SuitesTest, RemovedSuiteCanNoLongerBeAcquired) {
    host.suites().add("Alpha Suite", 1, &tableA);
    EXPECT_TRUE(host.suites().contains("Alpha Suite", 1));
    host.suites().remove("Alpha Suite", 1);
    EXPECT_FALSE(host.suites().contains("Alpha Suite", 1));
    const void *suite = nullptr;
    EXPECT_EQ(basic.AcquireSuite("Alpha Suite", 1, &suite), headless::kSPSuiteNotFoundError);
}

TEST_F(SuitesTest, WithoutACurrentHostNothingIsAcquired) {
    host.suites().add("Alpha Suite", 1, &tableA);
    Host second; // two live hosts and no command: nobody is current
    second.suites().add("Alpha Suite", 1, &tableB);
    const void *suite = &tableA;
    EXPECT_EQ(basic.AcquireSuite("Alpha Suite", 1, &suite), headless::kSPSuiteNotFoundError);
    EXPECT_EQ(suite, nullptr);
    // Inside a command the suite of the running host answers.
    second.run(PF_Cmd_RENDER, [&] {
        EXPECT_EQ(basic.AcquireSuite("Alpha Suite", 1, &suite), kSPNoError);
        EXPECT_EQ(suite, &tableB);
        basic.ReleaseSuite("Alpha Suite", 1);
    });
    EXPECT_TRUE(second.ledger().empty()) << second.ledger().report();
}

TEST_F(SuitesTest, BasicSuiteBlocksAndTokens) {
    void *block = nullptr;
    ASSERT_EQ(basic.AllocateBlock(64, &block), kSPNoError);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(host.ledger().count(Ledger::kBasicBlocks), 1);
    void *grown = nullptr;
    ASSERT_EQ(basic.ReallocateBlock(block, 4096, &grown), kSPNoError);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(host.ledger().count(Ledger::kBasicBlocks), 1);
    EXPECT_EQ(basic.FreeBlock(grown), kSPNoError);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();

    int notABlock = 0;
    EXPECT_NE(basic.FreeBlock(&notABlock), kSPNoError);
    EXPECT_EQ(host.ledger().problems().size(), 1u);

    EXPECT_TRUE(basic.IsEqual("PF World Suite", "PF World Suite"));
    EXPECT_FALSE(basic.IsEqual("PF World Suite", "PF World Suitf"));
    EXPECT_FALSE(basic.IsEqual("PF World Suite", nullptr));
}

} // namespace
