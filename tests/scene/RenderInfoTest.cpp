#include "scene/RenderInfo.h"

#include "headless/boundary/Host.h"
#include "host/aeLibInit.h"
#include "host/aeMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;
using Info = RenderInfoTemplate<Hyperboloid>;

namespace {

// Runs `body` inside a render command with an open command context, the way
// the smart render builds its record.
template <class F> PF_Err inRender(headless::Host &host, F &&body) {
    return host.run(PF_Cmd_SMART_RENDER, [&] {
        aeLibInit context(PF_Cmd_SMART_RENDER, 1, host.inData());
        body();
    });
}

bool allBytesZero(const void *p, size_t n) {
    const auto *bytes = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; ++i)
        if (bytes[i]) return false;
    return true;
}

bool isZero(const Matrix4 &m) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            if (m.getElem(c, r) != 0.0f) return false;
    return true;
}

bool isZero(const Vector3 &v) { return v.getX() == 0.0f && v.getY() == 0.0f && v.getZ() == 0.0f; }

} // namespace

TEST(RenderInfo, ConstructorStoresTheInitialValues) {
    headless::Host host;
    const PF_Err err = inRender(host, [&] {
        Info info(host.inData());
        EXPECT_EQ(info.inData, host.inData());
        EXPECT_EQ(info.suites.BasicSuite(), host.inData()->pica_basicP);
        EXPECT_TRUE(isZero(info.shape.objectToWorld));
        EXPECT_TRUE(isZero(info.shape.worldToObject));
        EXPECT_TRUE(isZero(info.shape.radii));
        EXPECT_TRUE(isZero(info.shape.invRadii));
        EXPECT_EQ(info.textureSlide, 0.0);
        EXPECT_EQ(info.outputWorld, nullptr);
        EXPECT_TRUE(info.lights.empty());
        EXPECT_EQ(info.falloffMode, 1);
        EXPECT_EQ(info.falloffRadius, 1.0);
        EXPECT_EQ(info.falloffDistance, 1.0);
        EXPECT_TRUE(allBytesZero(&info.reflectionLayer, sizeof info.reflectionLayer));
        EXPECT_EQ(info.reflectionLayer.reserved0, nullptr); // reflection off
        EXPECT_EQ(info.textureLayer.reserved0, nullptr);    // no texture
        EXPECT_EQ(info.textureBlur, 1.0);

        EXPECT_EQ(info.extension.headExtensions, 0);
        EXPECT_EQ(info.extension.tailExtensions, 0);
        EXPECT_FALSE(info.extension.flipVertical);
        EXPECT_EQ(info.extension.screwTurns, 0.0);
        EXPECT_EQ(info.extension.interval, 0.0);
        EXPECT_TRUE(info.extension.renderHead);
        EXPECT_TRUE(info.extension.renderTail);

        EXPECT_EQ(info.depthComposite.mode, 1);
        EXPECT_EQ(info.depthComposite.range, 1.0);
        EXPECT_EQ(info.depthComposite.start, 0.0);
    });
    EXPECT_EQ(err, PF_Err_NONE) << host.last().thrown;
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST(RenderInfo, RecordWithoutSceneReleasesItsSuitesAndNothingElse) {
    headless::Host host;
    static const int samplingTable = 0; // never called: only its address is handed out
    host.suites().add("PF Sampling8 Suite", 1, &samplingTable);
    long handlesBefore = -1, handlesDuring = -1;
    const PF_Err err = inRender(host, [&] {
        handlesBefore = host.ledger().count(headless::Ledger::kLiveHandles);
        {
            Info info(host.inData());
            EXPECT_EQ(info.suites.Sampling8Suite1(), static_cast<const void *>(&samplingTable));
            EXPECT_EQ(host.suites().outstanding("PF Sampling8 Suite", 1), 1);
            handlesDuring = host.ledger().count(headless::Ledger::kLiveHandles);
        }
        EXPECT_EQ(host.suites().outstanding("PF Sampling8 Suite", 1), 0);
        EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), handlesBefore);
    });
    EXPECT_EQ(err, PF_Err_NONE) << host.last().thrown;
    EXPECT_EQ(handlesDuring, handlesBefore); // the record itself allocates nothing
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST(RenderInfo, RecordOwnsItsLightsAndFreesThem) {
    headless::Host host;
    const PF_Err err = inRender(host, [&] {
        const long before = host.ledger().count(headless::Ledger::kLiveHandles);
        {
            Info info(host.inData());
            size_t capacities[5] = {};
            for (int i = 0; i < 5; ++i) {
                vLight *light = new vLight;
                ASSERT_NE(light, nullptr);
                EXPECT_EQ(reinterpret_cast<std::uintptr_t>(light) % 16, 0u);
                light->type = i % 4;
                ASSERT_TRUE(info.lights.append(light));
                capacities[i] = info.lights.capacity();
            }
            EXPECT_EQ(capacities[0], 1u);
            EXPECT_EQ(capacities[1], 2u);
            EXPECT_EQ(capacities[2], 4u);
            EXPECT_EQ(capacities[3], 4u);
            EXPECT_EQ(capacities[4], 8u);
            ASSERT_EQ(info.lights.size(), 5u);
            for (size_t i = 0; i < info.lights.size(); ++i)
                EXPECT_EQ(info.lights[i]->type, static_cast<A_long>(i % 4)); // order kept
            // Five lights and one list, each on its own host handle.
            EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), before + 6);
        }
        EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), before);
    });
    EXPECT_EQ(err, PF_Err_NONE) << host.last().thrown;
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST(RenderInfo, LightListRefusesNullAndNeverLeaksWhenItCannotGrow) {
    headless::Host host;
    const PF_Err err = inRender(host, [&] {
        const long before = host.ledger().count(headless::Ledger::kLiveHandles);
        {
            Info info(host.inData());
            EXPECT_FALSE(info.lights.append(nullptr));
            EXPECT_EQ(info.lights.size(), 0u);
            EXPECT_EQ(info.lights.capacity(), 0u);

            ASSERT_TRUE(info.lights.append(new vLight)); // capacity 1, full
            vLight *second = new vLight;
            ASSERT_NE(second, nullptr);
            // The next host handle (the grown list) cannot be had.
            host.faults().arm(headless::service::kNewHandle, 1, PF_Err_OUT_OF_MEMORY);
            EXPECT_FALSE(info.lights.append(second)); // destroyed, not leaked
            EXPECT_EQ(info.lights.size(), 1u);
            EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), before + 2);
        }
        EXPECT_EQ(host.ledger().count(headless::Ledger::kLiveHandles), before);
    });
    EXPECT_EQ(err, PF_Err_NONE) << host.last().thrown;
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST(RenderInfo, MissingBasicSuiteIsAMissingSuiteError) {
    EXPECT_THROW({ Info info(nullptr); }, PF_Err);
    PF_InData noSuites{};
    try {
        Info info(&noSuites);
        ADD_FAILURE() << "constructed without a basic suite";
    } catch (PF_Err e) {
        EXPECT_EQ(e, PF_Err_BAD_CALLBACK_PARAM);
    }
}
