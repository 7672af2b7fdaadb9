// A small stand-in for the host's AEGP suites, for the host-object wrapper
// tests: one function table per suite the wrappers use, registered in a
// headless host's suite registry under the host's names and versions. Each
// fake function counts its calls, records its arguments, can be told to fail,
// and answers from the fields below.
//
// One FakeAegp is current at a time (the SDK's functions carry no context);
// the fixture that owns it makes it current.
#pragma once

#include "headless/boundary/Host.h"
#include "host/aeLibInit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace aeo_test {

// Distinct fake handles the wrappers hand back and forth.
template <class H> H FakeHandle(std::uintptr_t n) { return reinterpret_cast<H>(0x1000 * n); }

struct FakeAegp {
    // ---- answers ----
    AEGP_CompH parentComp = FakeHandle<AEGP_CompH>(1);
    AEGP_ItemH compItem = FakeHandle<AEGP_ItemH>(2);
    AEGP_ItemH sourceItem = FakeHandle<AEGP_ItemH>(3);
    AEGP_LayerH effectLayer = FakeHandle<AEGP_LayerH>(4);
    AEGP_LayerH cameraLayer = FakeHandle<AEGP_LayerH>(5);
    AEGP_EffectRefH newEffect = FakeHandle<AEGP_EffectRefH>(6);
    AEGP_StreamRefH newStream = FakeHandle<AEGP_StreamRefH>(7);
    std::vector<AEGP_LayerH> layers;
    A_long itemWidth = 1920, itemHeight = 1080;
    A_Ratio pixelAspect = {10, 11};
    A_Time inPoint = {30, 30}, duration = {300, 30};
    A_Time compTime = {12, 24};
    AEGP_ObjectType objectType = AEGP_ObjectType_LIGHT;
    AEGP_LayerFlags layerFlags = AEGP_LayerFlag_VIDEO_ACTIVE;
    AEGP_CameraType cameraType = AEGP_CameraType_ORTHOGRAPHIC;
    AEGP_LightType lightType = AEGP_LightType_SPOT;
    double defaultCameraDistance = 1866.6;
    A_Matrix4 toWorld{};
    std::map<AEGP_LayerStream, AEGP_StreamVal2> streamValues;
    // Names the layer-name calls return. Without a terminator the UTF-16 text
    // fills its memory handle exactly.
    std::u16string layerName = u"Key Light", sourceName = u"Solid 1";
    bool terminateUtf16 = true;
    std::string localizedName = "Key Light";

    // ---- failures: function name -> error returned by every call ----
    std::map<std::string, A_Err> failWith;
    // When a fake function fails it first scribbles over its outputs, as a
    // careless host might, so that callers relying on them are caught.
    static constexpr unsigned char kScribble = 0x5A;

    // ---- what the wrappers did ----
    std::map<std::string, int> calls;
    struct StreamRead {
        AEGP_LayerH layer;
        AEGP_LayerStream stream;
        AEGP_LTimeMode mode;
        A_Time time;
        A_Boolean preExpression;
    };
    std::vector<StreamRead> streamReads;
    AEGP_PluginID lastPluginId = -1;
    PF_ParamIndex lastParamIndex = -1;
    PF_ProgPtr lastEffectRef = nullptr;
    A_long lastTimeValue = 0;
    A_u_long lastTimeScale = 0;
    A_Time lastCompTime = {0, 0};
    AEGP_LTimeMode lastTimeMode = -1;
    const void *lastHandle = nullptr; // layer, comp, item, effect or stream of the last call
    std::string lastExpression;
    std::u16string lastNewName;
    AEGP_DynStreamFlags lastFlag = 0;
    A_Boolean lastUndoable = 2, lastSet = 2;
    std::vector<const void *> disposedEffects, disposedStreams;
    // Suites outstanding while the old name call / the camera distance call ran.
    long layerSuite11WhileNaming = -1;
    long cameraSuiteWhileMeasuring = -1;

    // Memory handles handed out by the name call and not yet freed.
    struct Block {
        std::vector<A_UTF16Char> text;
        int locks = 0;
    };
    std::map<AEGP_MemHandle, Block> memory;
    long memoryFreed = 0;
    long freedWhileLocked = 0;

    // Registers every fake suite in `registry`.
    void install(headless::SuiteRegistry &registry);

    // Calls of `function` so far.
    int count(const std::string &function) const {
        auto it = calls.find(function);
        return it == calls.end() ? 0 : it->second;
    }
    // Calls of every fake function together.
    int totalCalls() const {
        int n = 0;
        for (const auto &entry : calls) n += entry.second;
        return n;
    }

    static FakeAegp *current;
};

// A headless host offering the fake suites. Wrapper code runs inside
// `inCommand`, with a command context open as during a real command; every
// test ends with nothing held from the host.
class AEOTest : public ::testing::Test {
protected:
    static constexpr AEGP_PluginID kPluginId = 4242;

    void SetUp() override {
        FakeAegp::current = &fake;
        fake.install(host.suites());
    }
    void TearDown() override {
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
        EXPECT_TRUE(fake.memory.empty()) << fake.memory.size() << " memory handle(s) not freed";
        FakeAegp::current = nullptr;
    }

    template <class F> void inCommand(F &&body) {
        const PF_Err err = host.run(PF_Cmd_SMART_RENDER, [&] {
            aeLibInit context(PF_Cmd_SMART_RENDER, kPluginId, host.inData());
            body();
        });
        ASSERT_EQ(err, PF_Err_NONE) << host.last().thrown;
    }

    long outstanding(const char *name, A_long version) {
        return host.suites().outstanding(name, version);
    }
    long acquisitions(const char *name) {
        return host.faults().calls(headless::service::kAcquireSuite, name);
    }

    headless::Host host;
    FakeAegp fake;
};

} // namespace aeo_test
