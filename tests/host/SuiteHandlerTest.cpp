// The suite cache: acquisition on first use, release of everything it holds,
// the missing-suite error, and the first fill of a sampling slot racing on
// several render threads.

#include "headless/boundary/Host.h"
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

void offerTestSuites(headless::Host &host) {
    host.suites().add("PF Sampling8 Suite", 1, &kSampling8);
    host.suites().add("PF Sampling16 Suite", 1, &kSampling16);
    host.suites().add("PF SamplingFloat Suite", 1, &kSamplingFloat);
    host.suites().add("PF World Suite", 2, &kPFWorld);
    host.suites().add("AEGP Layer Suite", 12, &kLayer);
}

PF_Err caught(const std::function<void()> &fn) {
    try {
        fn();
    } catch (PF_Err err) {
        return err;
    }
    return PF_Err_NONE;
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
            EXPECT_EQ(suites.WorldSuite2(), &kPFWorld);
            EXPECT_EQ(suites.Sampling8Suite1(), &kSampling8);
            EXPECT_EQ(ledger.suiteCount("AEGP Layer Suite", 12), 1) << "cached after the first call";
            EXPECT_EQ(ledger.suiteCount("PF World Suite", 2), 1);

            suites.ReleaseAllSuites();
            EXPECT_TRUE(ledger.empty()) << ledger.report();

            // Emptied slots fill again, and the destructor releases them.
            EXPECT_EQ(suites.Sampling16Suite1(), &kSampling16);
            EXPECT_EQ(suites.LayerSuite6(), &kLayer);
        }
        EXPECT_TRUE(ledger.empty()) << ledger.report();
    });
}

TEST(SuiteHandler, MissingSuiteThrowsAndLeavesTheSlotEmpty) {
    EXPECT_EQ(caught([] { AEGP_SuiteHandler suites(nullptr); }), PF_Err_BAD_CALLBACK_PARAM);

    headless::Host host;
    host.suites().remove("PF World Suite", 2);
    host.run(PF_Cmd_RENDER, [&] {
        AEGP_SuiteHandler suites(host.inData()->pica_basicP);
        EXPECT_EQ(caught([&] { suites.WorldSuite2(); }), PF_Err_BAD_CALLBACK_PARAM);
        offerTestSuites(host);
        EXPECT_EQ(suites.WorldSuite2(), &kPFWorld) << "the failed fill was not cached";

        // A refused acquisition throws the same way.
        host.faults().arm(headless::service::kAcquireSuite, 1, PF_Err_OUT_OF_MEMORY, "AEGP Layer Suite");
        EXPECT_EQ(caught([&] { suites.LayerSuite6(); }), PF_Err_BAD_CALLBACK_PARAM);
        suites.ReleaseAllSuites();
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
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
        for (int round = 0; round < 100; ++round) {
            host.faults().resetCounts();
            AEGP_SuiteHandler suites(host.inData()->pica_basicP);
            std::latch start(kThreads);
            std::vector<const void *> seen(kThreads * 3);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    start.arrive_and_wait();
                    // Threads start on different slots, so that fills of
                    // several slots overlap as well.
                    for (int k = 0; k < 3; ++k) {
                        const int s = (t + k) % 3;
                        seen[t * 3 + s] = s == 0   ? static_cast<const void *>(suites.Sampling8Suite1())
                                          : s == 1 ? static_cast<const void *>(suites.Sampling16Suite1())
                                                   : static_cast<const void *>(suites.SamplingFloatSuite1());
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
        }
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    });
}

} // namespace
