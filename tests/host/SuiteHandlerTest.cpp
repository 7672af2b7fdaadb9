// The suite cache: acquisition on first use, release of everything it holds,
// the missing-suite error, and the first fill of a sampling slot racing on
// several render threads.

#include "headless/core/Host.h"
#include "host/AEGP_SuiteHandler.h"

#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <thread>
#include <vector>

namespace {

const PF_Sampling8Suite1 kSampling8{};
const PF_Sampling16Suite1 kSampling16{};
const PF_SamplingFloatSuite1 kSamplingFloat{};
const PF_WorldSuite2 kPFWorld{};
const AEGP_LayerSuite6 kLayer{};
const AEGP_StreamSuite4 kStream{};

void offerTestSuites(headless::Host &host) {
    host.suites().add("PF Sampling8 Suite", 1, &kSampling8);
    host.suites().add("PF Sampling16 Suite", 1, &kSampling16);
    host.suites().add("PF SamplingFloat Suite", 1, &kSamplingFloat);
    host.suites().add("PF World Suite", 2, &kPFWorld);
    host.suites().add("AEGP Layer Suite", 12, &kLayer);
    host.suites().add("AEGP Stream Suite", 9, &kStream);
}

PF_Err caught(const std::function<void()> &fn) {
    try {
        fn();
    } catch (PF_Err err) {
        return err;
    }
    return PF_Err_NONE;
}

TEST(SuiteHandler, NullBasicSuiteIsAMissingSuite) {
    EXPECT_EQ(caught([] { AEGP_SuiteHandler suites(nullptr); }), PF_Err_BAD_CALLBACK_PARAM);
}

TEST(SuiteHandler, AcquiresOnceAndReleasesEverySuiteItHolds) {
    headless::Host host;
    offerTestSuites(host);
    host.run(PF_Cmd_RENDER, [&] {
        auto &ledger = host.ledger();
        {
            AEGP_SuiteHandler suites(host.inData()->pica_basicP);
            EXPECT_EQ(suites.LayerSuite6(), &kLayer);
            EXPECT_EQ(suites.LayerSuite6(), &kLayer);
            EXPECT_EQ(suites.StreamSuite4(), &kStream);
            EXPECT_EQ(suites.WorldSuite2(), &kPFWorld);
            EXPECT_EQ(suites.Sampling8Suite1(), &kSampling8);
            EXPECT_EQ(ledger.suiteCount("AEGP Layer Suite", 12), 1) << "cached after the first call";
            EXPECT_EQ(ledger.suiteCount("AEGP Stream Suite", 9), 1);
            EXPECT_EQ(ledger.suiteCount("PF World Suite", 2), 1);
            EXPECT_EQ(ledger.suiteCount("PF Sampling8 Suite", 1), 1);

            suites.ReleaseAllSuites();
            EXPECT_TRUE(ledger.empty()) << ledger.report();

            // Emptied slots fill again, and the destructor releases them.
            EXPECT_EQ(suites.Sampling16Suite1(), &kSampling16);
            EXPECT_EQ(suites.LayerSuite6(), &kLayer);
            EXPECT_EQ(ledger.suiteCount("AEGP Layer Suite", 12), 1);
        }
        EXPECT_TRUE(ledger.empty()) << ledger.report();
    });
}

TEST(SuiteHandler, MissingSuiteThrowsAndLeavesTheSlotEmpty) {
    headless::Host host;
    host.suites().remove("AEGP Camera Suite", 2);
    host.run(PF_Cmd_RENDER, [&] {
        AEGP_SuiteHandler suites(host.inData()->pica_basicP);
        EXPECT_EQ(caught([&] { suites.CameraSuite2(); }), PF_Err_BAD_CALLBACK_PARAM);

        // A refused acquisition (armed fault) throws the same way.
        offerTestSuites(host);
        host.faults().arm(headless::service::kAcquireSuite, 1, PF_Err_OUT_OF_MEMORY,
                          "PF World Suite");
        EXPECT_EQ(caught([&] { suites.WorldSuite2(); }), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(suites.WorldSuite2(), &kPFWorld) << "the failed fill was not cached";
        suites.ReleaseAllSuites();
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

TEST(SuiteHandler, LoadSuiteIsUncachedAndPairsWithReleaseSuite) {
    headless::Host host;
    offerTestSuites(host);
    host.run(PF_Cmd_RENDER, [&] {
        AEGP_SuiteHandler suites(host.inData()->pica_basicP);
        EXPECT_EQ(suites.LoadSuite("PF World Suite", 2), &kPFWorld);
        EXPECT_EQ(host.ledger().suiteCount("PF World Suite", 2), 1);
        suites.ReleaseSuite("PF World Suite", 2);
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
        EXPECT_EQ(caught([&] { suites.LoadSuite("No Such Suite", 1); }),
                  PF_Err_BAD_CALLBACK_PARAM);
    });
}

// Render threads reach the sampling slots of one shared cache at the same
// moment; each suite must be acquired from the host exactly once, and every
// thread must see the same table.
TEST(SuiteHandler, SamplingSlotsFillOnceUnderConcurrency) {
    headless::Host host;
    offerTestSuites(host);
    host.run(PF_Cmd_SMART_RENDER, [&] {
        constexpr int kThreads = 8;
        constexpr int kRounds = 100;
        for (int round = 0; round < kRounds; ++round) {
            host.faults().resetCounts();
            AEGP_SuiteHandler suites(host.inData()->pica_basicP);
            std::latch start(kThreads);
            std::vector<const void *> seen(kThreads * 3);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    start.arrive_and_wait();
                    // Different threads start on different slots so that the
                    // fills of several slots also overlap.
                    for (int k = 0; k < 3; ++k) {
                        switch ((t + k) % 3) {
                        case 0: seen[t * 3 + 0] = suites.Sampling8Suite1(); break;
                        case 1: seen[t * 3 + 1] = suites.Sampling16Suite1(); break;
                        case 2: seen[t * 3 + 2] = suites.SamplingFloatSuite1(); break;
                        }
                    }
                });
            }
            for (auto &thread : threads) thread.join();

            for (int t = 0; t < kThreads; ++t) {
                ASSERT_EQ(seen[t * 3 + 0], &kSampling8);
                ASSERT_EQ(seen[t * 3 + 1], &kSampling16);
                ASSERT_EQ(seen[t * 3 + 2], &kSamplingFloat);
            }
            ASSERT_EQ(host.faults().calls(headless::service::kAcquireSuite), 3) << "round " << round;
            ASSERT_EQ(host.ledger().suiteCount("PF Sampling8 Suite", 1), 1);
            ASSERT_EQ(host.ledger().suiteCount("PF Sampling16 Suite", 1), 1);
            ASSERT_EQ(host.ledger().suiteCount("PF SamplingFloat Suite", 1), 1);
        }
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

} // namespace
