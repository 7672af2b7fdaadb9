// Suite acquisition, the first-error rule and ownership of host handles.
#include "AEO_FakeAegp.h"

#include "scene/AEO_CameraLayer.h"
#include "scene/AEO_Composition.h"
#include "scene/AEO_Effect.h"
#include "scene/AEO_Interface.h"
#include "scene/AEO_Item.h"
#include "scene/AEO_LightLayer.h"
#include "scene/AEO_Memory.h"
#include "scene/AEO_Stream.h"

#include <cmath>
#include <cstring>

namespace aeo_test {
namespace {

using headless::kSPSuiteNotFoundError;

const A_Time kTime = {48, 24};

template <class T> void ExpectAcquiredAs(headless::Host &host, const char *name, A_long version) {
    {
        AEO::Suite<T> suite;
        EXPECT_EQ(host.suites().outstanding(name, version), 0) << name << " before first use";
        EXPECT_NE(suite.suite(), nullptr) << name;
        EXPECT_NE(suite.suite(), nullptr) << name;
        EXPECT_EQ(host.suites().outstanding(name, version), 1) << name << " v" << version;
        EXPECT_EQ(suite.err(), PF_Err_NONE);
    }
    EXPECT_EQ(host.suites().outstanding(name, version), 0) << name << " after destruction";
}

TEST_F(AEOTest, SuitesAreAcquiredOnceUnderTheHostsNamesAndReleasedWithTheirOwner) {
    inCommand([&] {
        ExpectAcquiredAs<AEGP_CompSuite5>(host, "AEGP Comp Suite", 11);
        ExpectAcquiredAs<AEGP_LayerSuite6>(host, "AEGP Layer Suite", 12);
        ExpectAcquiredAs<AEGP_LayerSuite5>(host, "AEGP Layer Suite", 11);
        ExpectAcquiredAs<AEGP_StreamSuite4>(host, "AEGP Stream Suite", 9);
        ExpectAcquiredAs<AEGP_EffectSuite3>(host, "AEGP Effect Suite", 3);
        ExpectAcquiredAs<AEGP_ItemSuite8>(host, "AEGP Item Suite", 13);
        ExpectAcquiredAs<AEGP_CameraSuite2>(host, "AEGP Camera Suite", 2);
        ExpectAcquiredAs<AEGP_LightSuite2>(host, "AEGP Light Suite", 2);
        ExpectAcquiredAs<AEGP_PFInterfaceSuite1>(host, "AEGP PF Interface Suite", 1);
        ExpectAcquiredAs<PF_PathQuerySuite1>(host, "PF Path Query Suite", 1);
        ExpectAcquiredAs<AEGP_MaskSuite4>(host, "AEGP Layer Mask Suite", 5);
        ExpectAcquiredAs<AEGP_DynamicStreamSuite4>(host, "AEGP Dynamic Stream Suite", 5);
        ExpectAcquiredAs<AEGP_KeyframeSuite4>(host, "AEGP Keyframe Suite", 4);
        ExpectAcquiredAs<AEGP_MemorySuite1>(host, "AEGP Memory Suite", 1);
    });
}

TEST_F(AEOTest, AFailedAcquisitionIsKeptAndNotRetried) {
    host.suites().remove("AEGP Light Suite", 2);
    inCommand([&] {
        AEO::Suite<AEGP_LightSuite2> suite;
        EXPECT_EQ(suite.suite(), nullptr);
        EXPECT_EQ(suite.suite(), nullptr);
        EXPECT_EQ(suite.err(), kSPSuiteNotFoundError);
        EXPECT_EQ(acquisitions("AEGP Light Suite"), 1);
    });
}

TEST_F(AEOTest, WithoutACommandContextNothingReachesTheHost) {
    AEO::Layer layer(FakeHandle<AEGP_LayerH>(9));
    EXPECT_EQ(layer.GetParentComp(), nullptr);
    EXPECT_EQ(layer.err(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.faults().calls(headless::service::kAcquireSuite), 0);
    EXPECT_EQ(fake.totalCalls(), 0);
}

TEST_F(AEOTest, AfterTheFirstErrorEveryOperationReturnsItsDefaultWithoutCallingTheHost) {
    fake.failWith["AEGP_GetLayerParentComp"] = A_Err_PARAMETER;
    inCommand([&] {
        AEO::LightLayer layer(FakeHandle<AEGP_LayerH>(9));
        EXPECT_EQ(layer.GetParentComp(), nullptr);
        EXPECT_EQ(layer.err(), A_Err_PARAMETER);

        EXPECT_EQ(layer.GetSourceItem(), nullptr);
        const A_Time in = layer.GetInPoint();
        EXPECT_EQ(in.value, 0);
        EXPECT_EQ(in.scale, 1u);
        EXPECT_EQ(layer.GetDuration().scale, 1u);
        EXPECT_EQ(layer.GetObjectType(), AEGP_ObjectType_NONE);
        EXPECT_EQ(layer.GetFlags(), AEGP_LayerFlag_NONE);
        EXPECT_EQ(layer.GetLightType(), AEGP_LightType_NONE);
        EXPECT_EQ(layer.GetIntensity(kTime), 0.0);
        EXPECT_FALSE(layer.GetCastsShadows(kTime));
        EXPECT_TRUE(layer.getLayerName().empty());
        EXPECT_TRUE(layer.getSourceName().empty());
        EXPECT_TRUE(layer.getLayerNameLocalized().empty());
        const A_UTF16Char name[] = {'x', 0};
        layer.SetName(name);

        EXPECT_EQ(fake.totalCalls(), 1);
        EXPECT_TRUE(fake.streamReads.empty());
        EXPECT_EQ(layer.err(), A_Err_PARAMETER);
        // Not even a suite is acquired after the error.
        EXPECT_EQ(acquisitions("AEGP Stream Suite"), 0);
        EXPECT_EQ(acquisitions("AEGP Light Suite"), 0);
    });
}

TEST_F(AEOTest, AFailingCallYieldsTheDefaultNotWhatTheHostLeftBehind) {
    fake.failWith["AEGP_GetLayerToWorldXform"] = A_Err_GENERIC;
    fake.failWith["AEGP_GetLayerStreamValue"] = A_Err_GENERIC;
    fake.failWith["AEGP_GetItemDimensions"] = A_Err_GENERIC;
    fake.failWith["AEGP_GetCameraType"] = A_Err_GENERIC;
    inCommand([&] {
        AEO::Layer layer(FakeHandle<AEGP_LayerH>(9));
        const A_Matrix4 m = layer.GetToWorldXform(kTime);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) EXPECT_EQ(m.mat[r][c], r == c ? 1.0 : 0.0) << r << c;

        AEO::Layer streams(FakeHandle<AEGP_LayerH>(9));
        AEGP_StreamType type = AEGP_StreamType_COLOR;
        const AEGP_StreamVal2 v =
            streams.GetStreamValue(AEGP_LayerStream_COLOR, AEGP_LTimeMode_CompTime, kTime, false,
                                   &type);
        EXPECT_EQ(type, AEGP_StreamType_NO_DATA);
        for (double channel : v.four_d) EXPECT_EQ(channel, 0.0);
        // A later read after the error: same defined value, no host call.
        type = AEGP_StreamType_COLOR;
        streams.GetStreamValue(AEGP_LayerStream_ZOOM, AEGP_LTimeMode_CompTime, kTime, false, &type);
        EXPECT_EQ(type, AEGP_StreamType_NO_DATA);
        EXPECT_EQ(fake.count("AEGP_GetLayerStreamValue"), 1);

        AEO::Item item(FakeHandle<AEGP_ItemH>(2));
        EXPECT_EQ(item.GetWidth(), 0);
        EXPECT_EQ(item.GetHeight(), 0);
        EXPECT_EQ(item.err(), A_Err_GENERIC);

        AEO::CameraLayer camera(FakeHandle<AEGP_LayerH>(5));
        EXPECT_EQ(camera.GetCameraType(), AEGP_CameraType_NONE);

        // What a failed name call left in its outputs is not ours to free.
        fake.failWith["AEGP_GetLayerName"] = A_Err_GENERIC;
        AEO::Layer named(FakeHandle<AEGP_LayerH>(9));
        EXPECT_TRUE(named.getLayerName().empty());
        EXPECT_EQ(fake.count("AEGP_FreeMemHandle"), 0);
        EXPECT_EQ(fake.count("AEGP_LockMemHandle"), 0);
    });
}

TEST_F(AEOTest, AMissingSuiteIsTheWrappersFirstError) {
    host.suites().remove("AEGP Stream Suite", 9);
    inCommand([&] {
        AEO::CameraLayer camera(FakeHandle<AEGP_LayerH>(5));
        EXPECT_EQ(camera.GetZoom(kTime), 0.0);
        EXPECT_EQ(camera.err(), kSPSuiteNotFoundError);
        EXPECT_EQ(camera.GetParentComp(), nullptr);
        EXPECT_EQ(camera.GetCameraType(), AEGP_CameraType_NONE);
        EXPECT_EQ(fake.totalCalls(), 0);
        EXPECT_EQ(acquisitions("AEGP Layer Suite"), 0);
        EXPECT_EQ(acquisitions("AEGP Camera Suite"), 0);
    });
}

TEST_F(AEOTest, ANullHandleNeverReachesTheHost) {
    inCommand([&] {
        AEO::Layer layer(nullptr);
        AEO::Composition comp(nullptr);
        AEO::Item item(nullptr);
        AEO::Interface iface(nullptr);
        AEO::Effect effect(nullptr);
        AEO::Stream stream(nullptr);
        EXPECT_EQ(layer.GetParentComp(), nullptr);
        EXPECT_EQ(comp.GetNumLayers(), 0);
        EXPECT_EQ(comp.GetDefaultCameraDistanceToImagePlane(), 0.0);
        EXPECT_EQ(iface.GetEffectLayer(), nullptr);
        EXPECT_EQ(effect.GetNewStreamByIndex(58), nullptr);
        stream.SetExpression("");
        for (const AEO::ObjectBase *o :
             std::initializer_list<const AEO::ObjectBase *>{&layer, &comp, &item, &iface, &effect,
                                                            &stream})
            EXPECT_EQ(o->err(), PF_Err_BAD_CALLBACK_PARAM);
    });
    EXPECT_EQ(fake.totalCalls(), 0);
    EXPECT_EQ(host.faults().calls(headless::service::kAcquireSuite), 0);
}

TEST_F(AEOTest, OwnedEffectAndStreamReferencesAreDisposedEvenAfterAnError) {
    fake.failWith["AEGP_GetNewEffectStreamByIndex"] = A_Err_GENERIC;
    fake.failWith["AEGP_SetExpression"] = A_Err_GENERIC;
    inCommand([&] {
        {
            AEO::Effect effect(FakeHandle<AEGP_EffectRefH>(6));
            EXPECT_EQ(effect.GetNewStreamByIndex(58), nullptr);
            EXPECT_EQ(effect.err(), A_Err_GENERIC);
            AEO::Stream stream(FakeHandle<AEGP_StreamRefH>(7));
            stream.SetExpression("value");
            stream.SetDynamicsStreamFlag(AEGP_DynStreamFlag_HIDDEN, false, true);
            EXPECT_EQ(fake.count("AEGP_SetDynamicStreamFlag"), 0);
        }
        ASSERT_EQ(fake.disposedEffects.size(), 1u);
        EXPECT_EQ(fake.disposedEffects[0], FakeHandle<AEGP_EffectRefH>(6));
        ASSERT_EQ(fake.disposedStreams.size(), 1u);
        EXPECT_EQ(fake.disposedStreams[0], FakeHandle<AEGP_StreamRefH>(7));
        EXPECT_EQ(outstanding("AEGP Effect Suite", 3), 0);
        EXPECT_EQ(outstanding("AEGP Stream Suite", 9), 0);
    });
}

TEST_F(AEOTest, OwnedMemoryIsUnlockedAndFreed) {
    const auto handle = FakeHandle<AEGP_MemHandle>(77);
    fake.memory[handle].text = {'a', 'b', 0};
    inCommand([&] {
        {
            AEO::Memory memory(handle);
            EXPECT_EQ(memory.GetSize(), 6u);
            EXPECT_EQ(memory.Lock(), fake.memory[handle].text.data());
            EXPECT_EQ(memory.Lock(), fake.memory[handle].text.data());
            EXPECT_EQ(fake.memory[handle].locks, 1);
        }
        EXPECT_EQ(fake.memoryFreed, 1);
        EXPECT_EQ(fake.freedWhileLocked, 0);
        EXPECT_EQ(outstanding("AEGP Memory Suite", 1), 0);
    });
}

} // namespace
} // namespace aeo_test
